#pragma once

// What the screenshot programs share: the Fusion style in a light or a dark palette, and
// saving what the screen shows (popups included) in a rectangle. Meant for an X server of
// their own (Xvfb), which draws no window frames.

#include <cstdio>
#include <QApplication>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

namespace calmcove::test {

inline QPalette darkPalette()
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
    for (const auto role : {QPalette::ButtonText, QPalette::WindowText, QPalette::Text})
        palette.setColor(QPalette::Disabled, role, QColor(0x75, 0x77, 0x7d));
    return palette;
}

// "light" or "dark".
inline void useLook(const QString& theme)
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(
        theme == QLatin1String("dark") ? darkPalette() : QApplication::style()->standardPalette());
}

// What the screen shows in `area` once pending paints are done.
inline QPixmap screenArea(const QRect& area)
{
    QTest::qWait(300);
    return QApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(),
                                                     area.height());
}

inline void save(const QPixmap& pixmap, const QString& path)
{
    if (!pixmap.save(path))
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

} // namespace calmcove::test
