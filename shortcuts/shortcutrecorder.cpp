#include "shortcutrecorder.h"

#include "shortcutmanager.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMetaObject>

namespace calmcove {
namespace {

bool isModifierKey(int key)
{
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
        return true;
    default:
        return false;
    }
}

} // namespace

ShortcutRecorder::ShortcutRecorder(ShortcutManager& manager, std::function<void()> beep,
                                   QObject* parent)
    : QObject(parent), m_manager(manager), m_beep(std::move(beep))
{}

ShortcutRecorder::~ShortcutRecorder()
{
    if (m_filterInstalled)
        QCoreApplication::instance()->removeEventFilter(this);
}

QString ShortcutRecorder::recordingActionRawValue() const
{
    return m_recordingAction ? rawValue(*m_recordingAction) : QString();
}

void ShortcutRecorder::startShortcutRecording(ShortcutAction action)
{
    stopShortcutRecording();
    setRecordingAction(action);
    QCoreApplication::instance()->installEventFilter(this);
    m_filterInstalled = true;
}

void ShortcutRecorder::stopShortcutRecording()
{
    if (m_filterInstalled) {
        QCoreApplication::instance()->removeEventFilter(this);
        m_filterInstalled = false;
    }
    setRecordingAction(std::nullopt);
}

bool ShortcutRecorder::eventFilter(QObject*, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Claimed, so that no menu or button shortcut fires instead of the key-down.
        event->accept();
        return true;
    case QEvent::KeyPress:
        handleKeyDown(*static_cast<QKeyEvent*>(event));
        return true;
    default:
        return false;
    }
}

void ShortcutRecorder::handleKeyDown(const QKeyEvent& event)
{
    if (!m_recordingAction || isModifierKey(event.key()))
        return;
    if (AppShortcut::virtualKeyCode(event) == virtualkey::escape) {
        QMetaObject::invokeMethod(
            this, [this] { stopShortcutRecording(); }, Qt::QueuedConnection);
        return;
    }
    const std::optional<AppShortcut> shortcut = AppShortcut::fromKeyEvent(event);
    if (!shortcut) {
        if (m_beep)
            m_beep();
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, shortcut = *shortcut, action = *m_recordingAction] {
            m_manager.setShortcut(shortcut, action);
            stopShortcutRecording();
        },
        Qt::QueuedConnection);
}

void ShortcutRecorder::setRecordingAction(std::optional<ShortcutAction> action)
{
    if (m_recordingAction == action)
        return;
    m_recordingAction = action;
    Q_EMIT recordingActionChanged();
}

} // namespace calmcove
