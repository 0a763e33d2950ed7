// The album manager with 100 imported albums holding 2,000 tracks (one album of 1,703,
// shown when the window opens, and 99 of three), 40 of them with covers: time from
// show() to the sidebar and the track table painted, each search keystroke filtered and
// repainted, and resident memory closed, open and closed again.
// Targets: open <= 300 ms, keystroke <= 16 ms, open window <= +25 MB, after closing
// within 3 MB of the closed state. Runs offscreen unless a platform is named.

#include "albums/albumindex.h"
#include "albums/albumstore.h"
#include "app/albumstoreselection.h"
#include "app/packstoreaudiolibrary.h"
#include "audio/audioengine.h"
#include "audio/audiooutput.h"
#include "library/audiopackstore.h"
#include "platform/userdefaults.h"
#include "playback/audiocontroller.h"
#include "playback/audioengineadapter.h"
#include "support/procfs.h"
#include "support/wavfile.h"
#include "ui/albumdetailpanel.h"
#include "ui/albummanagerwindow.h"
#include "ui/albummanagerwindowpresenter.h"
#include "ui/albumsidebar.h"

#include <algorithm>
#include <cstdio>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

using namespace calmcove;
using bench::residentMegabytes;

namespace {

constexpr int albumCount = 100;
constexpr int trackCount = 2000;

// albums.json and the files it names, as an import would have left them.
void writeCollection(const QString& root)
{
    static const char* const words[] = {"Evening", "Rain", "Harbour", "Quiet", "Lantern",
                                        "Moss",    "Tide", "Amber",   "Snow",  "Café"};
    QList<ImportedAlbumRecord> albums;
    int written = 0;
    for (int a = 0; a < albumCount; ++a) {
        ImportedAlbumRecord album;
        album.id = QStringLiteral("ALBUM-%1").arg(a, 3, 10, QLatin1Char('0'));
        album.name =
            QStringLiteral("%1 %2 %3")
                .arg(QString::fromUtf8(words[a % 10]), QString::fromUtf8(words[(a / 10) % 10]))
                .arg(a);
        const QString folder = root + QLatin1Char('/') + album.id;
        QDir().mkpath(folder);
        if (a % 5 < 2) {
            QImage cover(600, 600, QImage::Format_RGB32);
            cover.fill(QColor::fromHsv((a * 37) % 360, 120, 200));
            cover.save(folder + QStringLiteral("/cover.jpg"));
            album.artworkFileName = QStringLiteral("cover.jpg");
        }
        const int tracks = a == 0 ? trackCount - 3 * (albumCount - 1) : 3;
        for (int t = 0; t < tracks; ++t, ++written) {
            const QString fileName =
                QStringLiteral("%1-Track.wav").arg(t + 1, 4, 10, QLatin1Char('0'));
            QFile file(folder + QLatin1Char('/') + fileName);
            file.open(QIODevice::WriteOnly);
            file.write(test::silentWav(0.05 + t % 7 * 0.01));
            album.tracks.append({QStringLiteral("T-%1").arg(written),
                                 QStringLiteral("Track %1 of %2").arg(t + 1).arg(album.name),
                                 QStringLiteral("Bench"), 60.0 + t % 240, fileName});
        }
        albums.append(album);
    }
    QFile index(root + QStringLiteral("/albums.json"));
    index.open(QIODevice::WriteOnly);
    index.write(*encodeAlbumIndex(albums));
}

// Runs the event loop until both lists have painted.
double untilPainted(QWidget* first, QWidget* second, const QElapsedTimer& clock)
{
    struct PaintWatch : QObject
    {
        int painted = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint)
                ++painted;
            return false;
        }
    };
    PaintWatch firstWatch, secondWatch;
    first->installEventFilter(&firstWatch);
    second->installEventFilter(&secondWatch);
    while ((!firstWatch.painted || !secondWatch.painted) && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    first->removeEventFilter(&firstWatch);
    second->removeEventFilter(&secondWatch);
    return clock.nsecsElapsed() / 1e6;
}

AudioPackStoreOptions packsOptions(const QString& root)
{
    AudioPackStoreOptions options;
    options.packsRoot = root;
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    writeCollection(dir.filePath(QStringLiteral("albums")));

    UserDefaults defaults(dir.filePath(QStringLiteral("settings.conf")));
    AlbumStore albums(defaults, dir.filePath(QStringLiteral("albums")));
    albums.setSelectedAlbumID(QStringLiteral("ALBUM-000"));
    AudioPackStore packs(defaults, packsOptions(dir.filePath(QStringLiteral("packs"))));
    PackStoreAudioLibrary library(packs);
    AudioEngine engine(createAudioOutput(QStringLiteral("null")));
    AudioEngineAdapter playback(engine);
    AlbumStoreSelection selection(albums);
    auto controller = std::make_unique<AudioController>(selection, library, playback, defaults);
    AlbumManagerWindowPresenter presenter;
    presenter.setController(controller.get());
    presenter.setAlbumStore(&albums);
    presenter.setAudioPackStore(&packs);
    std::printf("albums %lld, tracks in the selected album %lld\n",
                static_cast<long long>(albums.importedAlbums().size()),
                static_cast<long long>(albums.selectedAlbum().tracks.size()));

    QTest::qWait(200);
    const double closedRSS = residentMegabytes();
    QElapsedTimer clock;
    clock.start();
    presenter.show();
    AlbumManagerWindow* window = presenter.window();
    const double openMs = untilPainted(window->sidebar()->albumList()->viewport(),
                                       window->detail()->trackTable()->viewport(), clock);
    std::printf("open to painted:        %7.1f ms  (target <= 300)\n", openMs);

    // Scrolling the 1,703-row table from top to bottom, page by page.
    QTableView* table = window->detail()->trackTable();
    clock.restart();
    int pages = 0;
    while (table->verticalScrollBar()->value() < table->verticalScrollBar()->maximum()) {
        table->verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        table->viewport()->repaint();
        ++pages;
    }
    std::printf("table scroll:           %7.2f ms per page over %d pages\n",
                clock.nsecsElapsed() / 1e6 / std::max(1, pages), pages);

    QLineEdit* search = window->sidebar()->searchField();
    QList<double> keystrokes;
    for (const QString& query : {QStringLiteral("harbour rain"), QStringLiteral("cafe")}) {
        search->clear();
        for (const QChar character : query) {
            clock.restart();
            QTest::keyClick(search, character.toLatin1());
            window->sidebar()->albumList()->viewport()->repaint();
            keystrokes << clock.nsecsElapsed() / 1e6;
            if (qEnvironmentVariableIsSet("CALMCOVE_BENCH_VERBOSE"))
                std::printf("  '%s' %.2f ms\n", qPrintable(search->text()), keystrokes.last());
        }
    }
    std::sort(keystrokes.begin(), keystrokes.end());
    std::printf("search keystroke:       %7.2f ms median, %.2f ms worst  (target <= 16)\n",
                keystrokes[keystrokes.size() / 2], keystrokes.last());

    const double openRSS = residentMegabytes();
    window->close();
    QTest::qWait(300);
    const double afterRSS = residentMegabytes();
    std::printf("resident memory closed %.1f MB, open %+.1f MB (target <= +25), after close "
                "%+.1f MB (target within 3)\n",
                closedRSS, openRSS - closedRSS, afterRSS - closedRSS);

    // Again, now that what any first window loads once (icon theme, image plugins, glyph
    // caches) is in place.
    presenter.show();
    clock.restart();
    untilPainted(presenter.window()->sidebar()->albumList()->viewport(),
                 presenter.window()->detail()->trackTable()->viewport(), clock);
    const double reopenedRSS = residentMegabytes();
    presenter.window()->close();
    QTest::qWait(300);
    std::printf("second time: open %+.1f MB, after close %+.1f MB against the first close\n",
                reopenedRSS - afterRSS, residentMegabytes() - afterRSS);
    controller.reset();
    return 0;
}
