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
#include "ui/albumdetailpanel.h"
#include "ui/albummanagerviewmodel.h"
#include "ui/albummanagerwindow.h"
#include "ui/albumsidebar.h"
#include "ui/createalbumdialog.h"
#include "ui/urlimportview.h"

#include <cstdio>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyleFactory>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace calmcove;

namespace {

QPalette darkPalette()
{
    QPalette palette;
    const QColor window(0x26, 0x28, 0x2c), base(0x1c, 0x1d, 0x20), text(0xe8, 0xe8, 0xea);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, QColor(0x2e, 0x30, 0x35));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x34, 0x36, 0x3b));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::ToolTipBase, window);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, QColor(0x9a, 0x9c, 0xa3));
    palette.setColor(QPalette::Highlight, QColor(0x3d, 0x7b, 0xd9));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Mid, QColor(0x4a, 0x4c, 0x52));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x75, 0x77, 0x7d));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x75, 0x77, 0x7d));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x75, 0x77, 0x7d));
    return palette;
}

QByteArray wav(double seconds)
{
    const int rate = 8000;
    const auto frames = static_cast<quint32>(seconds * rate);
    QByteArray data("RIFF");
    auto put32 = [&](quint32 v) { data.append(reinterpret_cast<const char*>(&v), 4); };
    auto put16 = [&](quint16 v) { data.append(reinterpret_cast<const char*>(&v), 2); };
    put32(36 + frames * 2);
    data.append("WAVEfmt ");
    put32(16);
    put16(1);
    put16(1);
    put32(rate);
    put32(rate * 2);
    put16(2);
    put16(16);
    data.append("data");
    put32(frames * 2);
    data.append(QByteArray(qsizetype(frames) * 2, '\0'));
    return data;
}

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

void save(const QPixmap& pixmap, const QString& path)
{
    if (!pixmap.save(path))
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

// What the screen shows in the window's rectangle, popups included.
QPixmap screenOf(QWidget& window)
{
    QTest::qWait(300);
    const QRect frame = window.frameGeometry();
    return window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
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
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(
        theme == QLatin1String("dark") ? darkPalette() : QApplication::style()->standardPalette());
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
            file.write(wav(seconds));
            seconds = seconds * 7 % 263 + 90;
        }
        makeCover(folder + QStringLiteral("/cover.jpg"), album.hue);
        albums.importExternalURLs({folder});
        if (selectedID.isEmpty())
            selectedID = albums.importedAlbums().constLast().id;
    }
    controller->selectAlbum(albums.importedAlbums().constFirst());

    // One running import (a slow loopback server) and one that fails.
    test::RangeTestServer server;
    server.setFiles({wav(30)});
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
    save(screenOf(window), prefix + QStringLiteral(".png"));

    window.viewModel().setDropTargeted(true);
    save(screenOf(window), prefix + QStringLiteral("-drop.png"));
    window.viewModel().setDropTargeted(false);

    QTest::qWait(1500); // the running import shows some progress
    URLImportPopup* popup = window.showURLImport(window.detail()->addURLButton(),
                                                 window.viewModel().selectedAlbum().id);
    popup->view()->urlField()->setText(QStringLiteral("https://"));
    save(screenOf(window), prefix + QStringLiteral("-urlimport.png"));
    popup->close();

    CreateAlbumDialog* dialog = window.showCreateAlbumDialog();
    // Xvfb runs no window manager to frame the dialog: a thin border stands in for it.
    dialog->setStyleSheet(QStringLiteral("QDialog { border: 1px solid palette(dark); }"));
    dialog->setAttribute(Qt::WA_StyledBackground);
    dialog->nameField()->setText(QStringLiteral("Late Night Study"));
    dialog->setArtworkPath(makeCover(dir.filePath(QStringLiteral("new-cover.png")), 330));
    dialog->adjustSize();
    dialog->move(window.frameGeometry().center() - dialog->rect().center());
    save(screenOf(window), prefix + QStringLiteral("-newalbum.png"));
    dialog->reject();
    window.close();
    controller.reset();
    return 0;
}
