#include "albummanagerkeyboardbridge.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace calmcove {

namespace {

bool isTextField(const QWidget* widget)
{
    return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QTextEdit*>(widget) ||
           qobject_cast<const QPlainTextEdit*>(widget) ||
           qobject_cast<const QAbstractSpinBox*>(widget);
}

} // namespace

AlbumManagerKeyboardBridge::AlbumManagerKeyboardBridge(CommandHandler onCommand, QObject* parent)
    : QObject(parent), m_onCommand(std::move(onCommand))
{
    qApp->installEventFilter(this);
}

AlbumManagerKeyboardBridge::~AlbumManagerKeyboardBridge()
{
    qApp->removeEventFilter(this);
}

std::optional<AlbumManagerKeyboardCommand>
AlbumManagerKeyboardBridge::commandForKey(const QKeyEvent& event)
{
    if (event.modifiers() & ~Qt::KeypadModifier)
        return std::nullopt;
    switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return AlbumManagerKeyboardCommand::rename;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        return AlbumManagerKeyboardCommand::remove;
    case Qt::Key_Escape:
        return AlbumManagerKeyboardCommand::cancel;
    default:
        return std::nullopt;
    }
}

bool AlbumManagerKeyboardBridge::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    const auto* receiver = static_cast<QWidget*>(watched);
    const QWidget* window = receiver->window();
    // Only the album manager itself: alerts are titled "Calmcove" too, and their Return
    // must press their default button.
    if (window->objectName() != windowIdentifier)
        return false;
    // A key travels up the parents of the focus widget; every stop counts as typing
    // when the keyboard is in a text field.
    if (isTextField(receiver) || isTextField(window->focusWidget()) ||
        isTextField(QApplication::focusWidget()))
        return false;
    const auto command = commandForKey(*static_cast<QKeyEvent*>(event));
    return command && m_onCommand(*command);
}

} // namespace calmcove
