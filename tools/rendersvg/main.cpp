// calmcove-render-svg: renders an SVG picture to a square PNG at build time.
// Usage: calmcove-render-svg INPUT.svg OUTPUT.png SIZE

#include <cstdio>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    bool sizeOk = false;
    const int size = arguments.size() == 4 ? arguments[3].toInt(&sizeOk) : 0;
    if (!sizeOk || size <= 0) {
        std::fprintf(stderr, "usage: calmcove-render-svg INPUT.svg OUTPUT.png SIZE\n");
        return 2;
    }
    QSvgRenderer renderer(arguments[1]);
    if (!renderer.isValid()) {
        std::fprintf(stderr, "calmcove-render-svg: cannot read %s\n", qPrintable(arguments[1]));
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    if (!image.save(arguments[2], "PNG")) {
        std::fprintf(stderr, "calmcove-render-svg: cannot write %s\n", qPrintable(arguments[2]));
        return 1;
    }
    return 0;
}
