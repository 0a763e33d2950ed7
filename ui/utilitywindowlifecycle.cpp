#include "utilitywindowlifecycle.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace calmcove::UtilityWindowLifecycle {

namespace {

enum class ActivationPolicy
{
    regular,
    accessory
};

// Linux desktops list every window on their own; there is no policy to switch.
void setActivationPolicy(ActivationPolicy) {}

} // namespace

void showApplicationIcon()
{
    setActivationPolicy(ActivationPolicy::regular);
}

bool isUtilityWindowVisible()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.cbegin(), windows.cend(), [](const QWidget* window) {
        return window->isVisible() && (window->objectName() == QLatin1String("albums") ||
                                       window->windowTitle() == QLatin1String("Calmcove"));
    });
}

void hideDockIconWhenNoUtilityWindowIsVisible()
{
    QTimer::singleShot(100, qApp, [] {
        if (!isUtilityWindowVisible())
            setActivationPolicy(ActivationPolicy::accessory);
    });
}

} // namespace calmcove::UtilityWindowLifecycle
