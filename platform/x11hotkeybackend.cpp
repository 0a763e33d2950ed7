#include "x11hotkeybackend.h"

#include "virtualkeys.h"

#include <cstdlib>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QTimer>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace calmcove {
namespace {

constexpr quint32 keysymNumLock = 0xff7f;
constexpr quint32 keysymAltL = 0xffe9;
constexpr quint32 keysymAltR = 0xffea;
constexpr quint32 keysymSuperL = 0xffeb;
constexpr quint32 keysymSuperR = 0xffec;
constexpr quint8 xkbNewKeyboardNotify = 0;
constexpr quint8 xkbMapNotify = 1;
// X key codes are the Linux input codes plus 8.
constexpr quint32 xKeycodeOffset = 8;

// The first event number of the XKB extension, or -1 when the server lacks it.
int xkbFirstEvent(xcb_connection_t* connection)
{
    static constexpr char name[] = "XKEYBOARD";
    xcb_query_extension_reply_t* reply = xcb_query_extension_reply(
        connection, xcb_query_extension(connection, sizeof name - 1, name), nullptr);
    const int first = reply && reply->present ? reply->first_event : -1;
    std::free(reply);
    return first;
}

} // namespace

std::unique_ptr<X11HotkeyBackend> X11HotkeyBackend::create(QObject* parent)
{
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 =
        application ? application->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return nullptr;
    xcb_connection_t* connection = x11->connection();
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return nullptr;
    return std::unique_ptr<X11HotkeyBackend>(
        new X11HotkeyBackend(connection, screen->root, xkbFirstEvent(connection), parent));
}

X11HotkeyBackend::X11HotkeyBackend(xcb_connection_t* connection, quint32 root, int xkbFirstEvent,
                                   QObject* parent)
    : HotkeyBackend(parent), m_connection(connection), m_root(root), m_xkbFirstEvent(xkbFirstEvent),
      m_symbols(xcb_key_symbols_alloc(connection))
{
    readModifierMapping();
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11HotkeyBackend::~X11HotkeyBackend()
{
    QCoreApplication::instance()->removeNativeEventFilter(this);
    for (const auto& [id, grab] : m_grabs)
        ungrab(grab);
    xcb_flush(m_connection);
    xcb_key_symbols_free(m_symbols);
}

HotkeyRegistration X11HotkeyBackend::registerHotkey(quint32 id, HotkeyCombination combination)
{
    unregisterHotkey(id);
    std::optional<Grab> granted = grab(combination);
    if (!granted)
        return HotkeyRegistration::refused;
    m_grabs[id] = *granted;
    return HotkeyRegistration::registered;
}

void X11HotkeyBackend::unregisterHotkey(quint32 id)
{
    const auto found = m_grabs.find(id);
    if (found == m_grabs.end())
        return;
    ungrab(found->second);
    m_grabs.erase(found);
    xcb_flush(m_connection);
}

QList<quint16> X11HotkeyBackend::lockVariants() const
{
    QList<quint16> variants{0, XCB_MOD_MASK_LOCK};
    if (m_numLockMask != 0)
        variants << m_numLockMask << quint16(m_numLockMask | XCB_MOD_MASK_LOCK);
    return variants;
}

std::optional<X11HotkeyBackend::Grab> X11HotkeyBackend::grab(HotkeyCombination combination)
{
    const std::optional<quint32> evdev = evdevFromVirtualKey(combination.keyCode);
    if (!evdev)
        return std::nullopt;
    Grab grab{combination, quint8(*evdev + xKeycodeOffset), 0};
    if (combination.modifiers & carbon::controlKey)
        grab.modifiers |= XCB_MOD_MASK_CONTROL;
    if (combination.modifiers & carbon::shiftKey)
        grab.modifiers |= XCB_MOD_MASK_SHIFT;
    if (combination.modifiers & carbon::optionKey)
        grab.modifiers |= m_altMask;
    if (combination.modifiers & carbon::cmdKey)
        grab.modifiers |= m_superMask;

    QList<xcb_void_cookie_t> cookies;
    for (quint16 lock : lockVariants()) {
        cookies << xcb_grab_key_checked(m_connection, 0, m_root, grab.modifiers | lock,
                                        grab.keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    }
    bool refused = false;
    for (const xcb_void_cookie_t& cookie : cookies) {
        // BadAccess: another client holds this combination.
        if (xcb_generic_error_t* error = xcb_request_check(m_connection, cookie)) {
            refused = true;
            std::free(error);
        }
    }
    if (refused) {
        ungrab(grab);
        xcb_flush(m_connection);
        return std::nullopt;
    }
    return grab;
}

void X11HotkeyBackend::ungrab(const Grab& grab)
{
    // Releases only this client's grabs, never another's.
    for (quint16 lock : lockVariants())
        xcb_ungrab_key(m_connection, grab.keycode, m_root, grab.modifiers | lock);
}

void X11HotkeyBackend::readModifierMapping()
{
    m_numLockMask = 0;
    m_altMask = 0;
    m_superMask = 0;
    xcb_get_modifier_mapping_reply_t* reply = xcb_get_modifier_mapping_reply(
        m_connection, xcb_get_modifier_mapping(m_connection), nullptr);
    if (reply) {
        const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(reply);
        const int perModifier = reply->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8; ++modifier) {
            const auto mask = quint16(1u << modifier);
            for (int i = 0; i < perModifier; ++i) {
                const xcb_keycode_t keycode = keycodes[modifier * perModifier + i];
                if (keycode == 0)
                    continue;
                const xcb_keysym_t keysym = xcb_key_symbols_get_keysym(m_symbols, keycode, 0);
                if (keysym == keysymNumLock)
                    m_numLockMask |= mask;
                else if (keysym == keysymAltL || keysym == keysymAltR)
                    m_altMask |= mask;
                else if (keysym == keysymSuperL || keysym == keysymSuperR)
                    m_superMask |= mask;
            }
        }
        std::free(reply);
    }
    // The conventional places, for maps that do not name the keys.
    if (m_altMask == 0)
        m_altMask = XCB_MOD_MASK_1;
    if (m_superMask == 0)
        m_superMask = XCB_MOD_MASK_4;
}

void X11HotkeyBackend::scheduleRegrab()
{
    if (m_regrabScheduled)
        return;
    m_regrabScheduled = true;
    // A map change arrives as a burst of events: renew the grabs once, after the burst.
    QTimer::singleShot(0, this, [this] {
        m_regrabScheduled = false;
        regrabAll();
    });
}

void X11HotkeyBackend::regrabAll()
{
    for (const auto& [id, grab] : m_grabs)
        ungrab(grab);
    xcb_key_symbols_free(m_symbols);
    m_symbols = xcb_key_symbols_alloc(m_connection);
    readModifierMapping();
    QList<quint32> lost;
    for (auto& [id, grab] : m_grabs) {
        if (std::optional<Grab> renewed = this->grab(grab.combination))
            grab = *renewed;
        else
            lost << id;
    }
    for (quint32 id : lost) {
        m_grabs.erase(id);
        Q_EMIT registrationFinished(id, false);
    }
    xcb_flush(m_connection);
}

bool X11HotkeyBackend::handleKey(quint8 keycode, quint16 state, quint32 time, bool press)
{
    const quint16 relevant = state & ~quint16(XCB_MOD_MASK_LOCK | m_numLockMask);
    for (auto& [id, grab] : m_grabs) {
        if (grab.keycode != keycode || grab.modifiers != relevant)
            continue;
        if (!press) {
            grab.down = false;
            grab.releaseTime = time;
            return true;
        }
        // Held keys repeat as presses without releases, or as release and press pairs
        // with one time stamp.
        const bool repeat = grab.down || (grab.releaseTime != 0 && grab.releaseTime == time);
        grab.down = true;
        if (!repeat) {
            QMetaObject::invokeMethod(
                this, [this, id = id] { Q_EMIT activated(id); }, Qt::QueuedConnection);
        }
        return true;
    }
    // A release after the modifiers went up first still ends the press.
    if (!press) {
        for (auto& [id, grab] : m_grabs) {
            if (grab.keycode == keycode)
                grab.down = false;
        }
    }
    return false;
}

bool X11HotkeyBackend::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const quint8 type = event->response_type & 0x7f;
    switch (type) {
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE: {
        const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
        if (key->event != m_root)
            return false;
        return handleKey(key->detail, key->state, key->time, type == XCB_KEY_PRESS);
    }
    case XCB_MAPPING_NOTIFY:
        scheduleRegrab();
        return false;
    default:
        // XKB sends its own notifications, in place of the core one, to clients that ask.
        if (m_xkbFirstEvent >= 0 && type == m_xkbFirstEvent) {
            const quint8 xkbType = event->pad0;
            if (xkbType == xkbNewKeyboardNotify || xkbType == xkbMapNotify)
                scheduleRegrab();
        }
        return false;
    }
}

} // namespace calmcove
