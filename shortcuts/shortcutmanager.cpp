#include "shortcutmanager.h"

#include "shortcutstorage.h"

#include "platform/userdefaults.h"
#include "playback/audiocontroller.h"

namespace calmcove {
namespace {

std::optional<ShortcutAction> actionForId(quint32 id)
{
    if (id == 0 || id > allShortcutActions.size())
        return std::nullopt;
    return allShortcutActions[id - 1];
}

HotkeyCombination combinationOf(AppShortcut shortcut)
{
    return {shortcut.keyCode, shortcut.modifiers};
}

} // namespace

ShortcutManager::ShortcutManager(UserDefaults& defaults, HotkeyBackend& backend, QObject* parent)
    : QObject(parent), m_defaults(defaults), m_backend(backend)
{
    load();
    connect(&m_backend, &HotkeyBackend::activated, this, &ShortcutManager::handleHotKey);
    connect(&m_backend, &HotkeyBackend::registrationFinished, this,
            &ShortcutManager::handleRegistrationFinished);
    connect(&m_backend, &HotkeyBackend::combinationChanged, this,
            &ShortcutManager::handleCombinationChanged);
    registerAllShortcuts();
}

quint32 ShortcutManager::hotKeyId(ShortcutAction action)
{
    return quint32(action) + 1;
}

QList<HotkeyDescription> ShortcutManager::hotkeyDescriptions()
{
    QList<HotkeyDescription> descriptions;
    for (ShortcutAction action : allShortcutActions)
        descriptions << HotkeyDescription{hotKeyId(action), rawValue(action), title(action)};
    return descriptions;
}

QString ShortcutManager::registrationFailureMessage(ShortcutAction action)
{
    return QStringLiteral("Could not register ") + title(action) +
           QStringLiteral(" shortcut. It may already be used by the desktop or another app.");
}

void ShortcutManager::load()
{
    const QVariant stored = m_defaults.value(defaultsKey);
    // A command-line override arrives as text.
    if (stored.typeId() == QMetaType::QByteArray || stored.typeId() == QMetaType::QString)
        m_shortcuts = decodeShortcutTable(stored.toByteArray());
}

void ShortcutManager::save()
{
    m_defaults.setValue(defaultsKey, encodeShortcutTable(m_shortcuts));
}

void ShortcutManager::registerAllShortcuts()
{
    const ShortcutTable before = m_shortcuts;
    for (auto entry = before.begin(); entry != before.end(); ++entry)
        registerShortcut(*entry, entry.key());
    notifyIfChanged(before);
}

HotkeyRegistration ShortcutManager::registerShortcut(AppShortcut shortcut, ShortcutAction action)
{
    const HotkeyRegistration outcome =
        m_backend.registerHotkey(hotKeyId(action), combinationOf(shortcut));
    switch (outcome) {
    case HotkeyRegistration::registered:
        m_registered.insert(action);
        setErrorMessage({});
        break;
    case HotkeyRegistration::pending:
        m_registered.insert(action);
        break;
    case HotkeyRegistration::refused:
        refuse(action);
        break;
    }
    return outcome;
}

void ShortcutManager::unregisterShortcut(ShortcutAction action)
{
    m_saveOnRefusal.remove(action);
    if (m_registered.remove(action))
        m_backend.unregisterHotkey(hotKeyId(action));
}

// The removal is not saved here: whoever saves next persists it.
void ShortcutManager::refuse(ShortcutAction action)
{
    m_registered.remove(action);
    m_saveOnRefusal.remove(action);
    setErrorMessage(registrationFailureMessage(action));
    m_shortcuts.remove(action);
}

void ShortcutManager::takeFromOtherOwners(AppShortcut shortcut, ShortcutAction action)
{
    for (ShortcutAction other : allShortcutActions) {
        const auto owned = m_shortcuts.constFind(other);
        if (other == action || owned == m_shortcuts.constEnd() || *owned != shortcut)
            continue;
        unregisterShortcut(other);
        m_shortcuts.remove(other);
        save();
    }
}

void ShortcutManager::setShortcut(AppShortcut shortcut, ShortcutAction action)
{
    const ShortcutTable before = m_shortcuts;
    takeFromOtherOwners(shortcut, action);
    unregisterShortcut(action);
    m_shortcuts.insert(action, shortcut);
    if (registerShortcut(shortcut, action) == HotkeyRegistration::pending)
        m_saveOnRefusal.insert(action);
    save();
    notifyIfChanged(before);
}

void ShortcutManager::clearShortcut(ShortcutAction action)
{
    const ShortcutTable before = m_shortcuts;
    unregisterShortcut(action);
    m_shortcuts.remove(action);
    save();
    notifyIfChanged(before);
}

void ShortcutManager::clearAllShortcuts()
{
    for (ShortcutAction action : allShortcutActions)
        clearShortcut(action);
}

void ShortcutManager::handleHotKey(quint32 id)
{
    if (const std::optional<ShortcutAction> action = actionForId(id))
        perform(*action);
}

void ShortcutManager::perform(ShortcutAction action)
{
    if (!m_controller)
        return;
    switch (action) {
    case ShortcutAction::playPause:
        m_controller->togglePlayPause();
        break;
    case ShortcutAction::next:
        m_controller->next();
        break;
    case ShortcutAction::previous:
        m_controller->previous();
        break;
    }
}

void ShortcutManager::handleRegistrationFinished(quint32 id, bool registered)
{
    const std::optional<ShortcutAction> action = actionForId(id);
    if (!action || !m_registered.contains(*action))
        return;
    if (registered) {
        m_saveOnRefusal.remove(*action);
        setErrorMessage({});
        return;
    }
    const bool saveRemoval = m_saveOnRefusal.contains(*action);
    const ShortcutTable before = m_shortcuts;
    refuse(*action);
    if (saveRemoval)
        save();
    notifyIfChanged(before);
}

// The desktop already triggers the action with the new combination: only the table and
// storage follow, nothing is registered again.
void ShortcutManager::handleCombinationChanged(quint32 id, HotkeyCombination combination)
{
    const std::optional<ShortcutAction> action = actionForId(id);
    if (!action || !m_registered.contains(*action))
        return;
    const AppShortcut shortcut{combination.keyCode, combination.modifiers & carbon::allModifiers};
    if (m_shortcuts.value(*action) == shortcut)
        return;
    const ShortcutTable before = m_shortcuts;
    takeFromOtherOwners(shortcut, *action);
    m_shortcuts.insert(*action, shortcut);
    save();
    notifyIfChanged(before);
}

void ShortcutManager::notifyIfChanged(const ShortcutTable& before)
{
    if (m_shortcuts != before)
        Q_EMIT shortcutsChanged();
}

void ShortcutManager::setErrorMessage(const QString& message)
{
    if (m_errorMessage == message)
        return;
    m_errorMessage = message;
    Q_EMIT errorMessageChanged();
}

} // namespace calmcove
