#pragma once

// System-wide hotkeys on an X server (X11 sessions and XWayland): passive key grabs on the
// root window through Qt's own xcb connection. A key is grabbed by its position (the
// virtual key code names a place on the keyboard, whatever the layout), with every
// combination of Caps Lock and Num Lock so those never stop a hotkey. A grab another
// client holds is a refusal. After the keyboard map changes the modifiers are read again
// and every grab is renewed. Main thread only; needs a QGuiApplication on the xcb platform.

#include "hotkeybackend.h"

#include <map>
#include <memory>
#include <optional>
#include <QAbstractNativeEventFilter>

struct xcb_connection_t;
struct _XCBKeySymbols;

namespace calmcove {

class X11HotkeyBackend : public HotkeyBackend, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
    // None when the application does not run on an X server.
    static std::unique_ptr<X11HotkeyBackend> create(QObject* parent = nullptr);
    ~X11HotkeyBackend() override;

    HotkeyRegistration registerHotkey(quint32 id, HotkeyCombination combination) override;
    void unregisterHotkey(quint32 id) override;
    QString name() const override { return QStringLiteral("x11"); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct Grab
    {
        HotkeyCombination combination;
        quint8 keycode = 0;
        quint16 modifiers = 0;
        // Tells the X server's auto-repeat from a new press.
        bool down = false;
        quint32 releaseTime = 0;
    };

    X11HotkeyBackend(xcb_connection_t* connection, quint32 root, int xkbFirstEvent,
                     QObject* parent);
    // The grab for `combination`, or none when the server refused it or the key has no
    // X key code.
    std::optional<Grab> grab(HotkeyCombination combination);
    void ungrab(const Grab& grab);
    QList<quint16> lockVariants() const;
    void readModifierMapping();
    void scheduleRegrab();
    void regrabAll();
    bool handleKey(quint8 keycode, quint16 state, quint32 time, bool press);

    xcb_connection_t* m_connection;
    quint32 m_root;
    int m_xkbFirstEvent;
    _XCBKeySymbols* m_symbols = nullptr;
    quint16 m_numLockMask = 0;
    quint16 m_altMask = 0;
    quint16 m_superMask = 0;
    bool m_regrabScheduled = false;
    std::map<quint32, Grab> m_grabs;
};

} // namespace calmcove
