#pragma once

// The contract of a system-wide hotkey facility: register a key combination under a
// numeric identifier, hear presses of it by that identifier, and learn when the desktop
// refuses or rebinds it. Implementations: X11 key grabs, the desktop portal's global
// shortcuts, and a fallback that refuses everything. Main thread only.

#include <QObject>
#include <QString>

namespace calmcove {

// A combination in the stored vocabulary: a virtual key code and a Carbon modifier mask
// (see virtualkeys.h).
struct HotkeyCombination
{
    quint32 keyCode = 0;
    quint32 modifiers = 0;
    bool operator==(const HotkeyCombination&) const = default;
};

enum class HotkeyRegistration
{
    registered,
    refused,
    // Decided later: registrationFinished reports the outcome.
    pending,
};

class HotkeyBackend : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Binds `combination` to `id`, replacing what `id` had. Ids are small positive numbers.
    virtual HotkeyRegistration registerHotkey(quint32 id, HotkeyCombination combination) = 0;
    // Releases `id`; nothing happens when it is not registered. Errors are ignored.
    virtual void unregisterHotkey(quint32 id) = 0;
    // A short name for logs and tests ("x11", "portal", "none").
    virtual QString name() const = 0;

Q_SIGNALS:
    // A registered hotkey was pressed; always delivered by a queued call.
    void activated(quint32 id);
    // The outcome of a registration that returned `pending`.
    void registrationFinished(quint32 id, bool registered);
    // The desktop now triggers `id` with `combination` (the user changed it in the
    // desktop's own settings or dialog).
    void combinationChanged(quint32 id, calmcove::HotkeyCombination combination);
};

} // namespace calmcove
