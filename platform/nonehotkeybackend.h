#pragma once

// The hotkey facility of a session that offers none (no X server, no portal): every
// registration is refused, so the user learns why a shortcut does nothing.

#include "hotkeybackend.h"

namespace calmcove {

class NoneHotkeyBackend : public HotkeyBackend
{
    Q_OBJECT
public:
    using HotkeyBackend::HotkeyBackend;

    HotkeyRegistration registerHotkey(quint32, HotkeyCombination) override
    {
        return HotkeyRegistration::refused;
    }
    void unregisterHotkey(quint32) override {}
    QString name() const override { return QStringLiteral("none"); }
};

} // namespace calmcove
