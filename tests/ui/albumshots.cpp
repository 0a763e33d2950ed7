// calmcove-albumshots OUTPUT_DIR light|dark: fills a private album collection (several
// albums with covers, a track list, a running and a failed URL import) and saves the
// album manager as the screen shows it: the window, the drop overlay, the URL import
// popup and the create-album dialog. Meant for an X server of its own (Xvfb).

#include "albums/albumstore.h"
#include "app/albumstoreselection.h"
#include "app/packstoreaudiolibrary.h"
#include "audio/audioengine.h"
#include "audio/audiooutput.h"
#include "library/audiopackstore.h"
#include "platform/userdefaults.h"
#include "playback/audiocontroller.h"
#include "playback/audioengineadapter.h"
#include "rangetestserver.h"
#include "screenshotlook.h"
#include "support/wavfile.h"
#include "ui/albumdetailpanel.h"
#include "ui/albummanagerviewmodel.h"
#include "ui/albummanagerwindow.h"
#include "ui/albumsidebar.h"
#include "ui/createalbumdialog.h"
#include "ui/urlimportview.h"

#include <QCoro/QCoroTask>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace calmcove;

namespace {

QString makeCover(const QString& path, int hue)
{
    QImage image(400, 400, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 400, 400);
    gradient.setColorAt(0, QColor::fromHsv(hue, 90, 235));
    gradient.setColorAt(1, QColor::fromHsv((hue + 40) % 360, 160, 120));
    painter.fillRect(image.rect(), gradient);
    painter.setBrush(QColor(255, 255, 255, 70));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPoint(260, 140), 90, 90);
    painter.end();
    image.save(path);
    return path;
}

// What the screen shows in the window's rectangle, popups included.
QPixmap screenOf(QWidget& window)
{
    return test::screenArea(window.frameGeometry());
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
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: calmcove-albumshots OUTPUT_DIR light|dark\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString theme = QString::fromLocal8Bit(argv[2]);
    test::useLook(theme);
    QDir().mkpath(out);

    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("settings.conf")));
    AlbumStore albums(defaults, dir.filePath(QStringLiteral("albums")));
    AudioPackStore packs(defaults, packsOptions(dir.filePath(QStringLiteral("packs"))));
    PackStoreAudioLibrary library(packs);
    AudioEngine engine(createAudioOutput(QStringLiteral("null")));
    AudioEngineAdapter playback(engine);
    AlbumStoreSelection selection(albums);
    auto controller = std::make_unique<AudioController>(selection, library, playback, defaults);

    const struct
    {
        const char* name;
        int hue;
        QStringList titles;
    } collection[] = {
        {"Evening Harbour",
         200,
         {"Lanterns on the Water", "Slow Ferry", "Harbour Lights", "Rope and Tide", "Night Gulls",
          "Last Boat Home", "Salt Air"}},
        {"Rainy Sundays", 230, {"Window Drops", "Tea at Four", "Grey Morning"}},
        {"Café Sketches", 30, {"Espresso Steam", "Corner Table"}},
        {"Forest Walk", 110, {"Moss", "Fern Light", "Creek"}},
        {"Night Drive", 270, {"Highway Glow", "Tunnel", "Neon Rain", "Exit 9"}},
    };
    QString selectedID;
    for (const auto& album : collection) {
        const QString folder =
            dir.filePath(QStringLiteral("sources/") + QString::fromUtf8(album.name));
        QDir().mkpath(folder);
        int seconds = 131;
        for (const QString& title : album.titles) {
            QFile file(folder + QLatin1Char('/') + title + QStringLiteral(".wav"));
            file.open(QIODevice::WriteOnly);
            file.write(test::silentWav(seconds));
            seconds = seconds * 7 % 263 + 90;
        }
        makeCover(folder + QStringLiteral("/cover.jpg"), album.hue);
        QCoro::waitFor(albums.importExternalURLs({folder}));
        if (selectedID.isEmpty())
            selectedID = albums.importedAlbums().constLast().id;
    }
    controller->selectAlbum(albums.importedAlbums().constFirst());

    // One running import (a slow loopback server) and one that fails.
    test::RangeTestServer server;
    server.setFiles({test::silentWav(30)});
    server.setBehaviour({.bytesPerSecond = 20000});
    albums.enqueueURLImport(QStringLiteral("ftp://downloads.example.org/ambient/waves.mp3"));
    albums.enqueueURLImport(server.url(QStringLiteral("/mixes/Morning_Fog.wav")).toString());

    AlbumManagerWindow window(controller.get(), &albums, &packs);
    window.move(40, 40);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    QTableView* table = window.detail()->trackTable();
    table->selectRow(1);
    const QString prefix = out + QStringLiteral("/albummanager-") + theme;
    test::save(screenOf(window), prefix + QStringLiteral(".png"));

    window.viewModel().setDropTargeted(true);
    test::save(screenOf(window), prefix + QStringLiteral("-drop.png"));
    window.viewModel().setDropTargeted(false);

    QTest::qWait(1500); // the running import shows some progress
    URLImportPopup* popup = window.showURLImport(window.detail()->addURLButton(),
                                                 window.viewModel().selectedAlbum().id);
    popup->view()->urlField()->setText(QStringLiteral("https://"));
    test::save(screenOf(window), prefix + QStringLiteral("-urlimport.png"));
    popup->close();

    CreateAlbumDialog* dialog = window.showCreateAlbumDialog();
    // Xvfb runs no window manager to frame the dialog: a thin border stands in for it.
    dialog->setStyleSheet(QStringLiteral("QDialog { border: 1px solid palette(dark); }"));
    dialog->setAttribute(Qt::WA_StyledBackground);
    dialog->nameField()->setText(QStringLiteral("Late Night Study"));
    dialog->setArtworkPath(makeCover(dir.filePath(QStringLiteral("new-cover.png")), 330));
    dialog->adjustSize();
    dialog->move(window.frameGeometry().center() - dialog->rect().center());
    test::save(screenOf(window), prefix + QStringLiteral("-newalbum.png"));
    dialog->reject();
    window.close();
    controller.reset();
    return 0;
}
