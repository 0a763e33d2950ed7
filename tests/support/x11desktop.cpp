#include "x11desktop.h"

#include "privatesessionbus.h"

#include <QDeadlineTimer>
#include <QTest>

namespace calmcove::test {
namespace {

QString xdotool(const PrivateSessionBus& bus, const QStringList& arguments)
{
    return runBusClient(bus, QStringLiteral("xdotool"), arguments).output;
}

} // namespace

bool startTray(QProcess& tray, const PrivateSessionBus& bus)
{
    tray.setProcessEnvironment(bus.environment());
    tray.start(QStringLiteral("trayer"),
               {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
                QStringLiteral("--height"), QStringLiteral("24"), QStringLiteral("--transparent"),
                QStringLiteral("false")});
    if (!tray.waitForStarted())
        return false;
    const QDeadlineTimer deadline(10000);
    while (visibleWindows(bus, QStringLiteral("trayer")).isEmpty()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(100);
    }
    return true;
}

QStringList visibleWindows(const PrivateSessionBus& bus, const QString& windowClass)
{
    return xdotool(bus, {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                         QStringLiteral("--class"), windowClass})
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QRect windowGeometry(const PrivateSessionBus& bus, const QString& window)
{
    QRect rect;
    const QString shell =
        xdotool(bus, {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
    for (const QString& line : shell.split(QLatin1Char('\n'))) {
        const QString value = line.section(QLatin1Char('='), 1);
        if (line.startsWith(QLatin1String("X=")))
            rect.moveLeft(value.toInt());
        else if (line.startsWith(QLatin1String("Y=")))
            rect.moveTop(value.toInt());
        else if (line.startsWith(QLatin1String("WIDTH=")))
            rect.setWidth(value.toInt());
        else if (line.startsWith(QLatin1String("HEIGHT=")))
            rect.setHeight(value.toInt());
    }
    return rect;
}

void clickAt(const PrivateSessionBus& bus, QPoint at, int button)
{
    xdotool(bus, {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                  QStringLiteral("click"), QString::number(button)});
}

} // namespace calmcove::test
