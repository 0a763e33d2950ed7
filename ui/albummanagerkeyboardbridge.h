#pragma once

// The album manager's keyboard commands: one application-wide key filter that turns
// Return/keypad Enter into rename, Backspace/Delete into delete and Escape into cancel,
// for key presses in the album manager window only, and never while a text field has the
// keyboard (typing is never taken for a command). A key is consumed only when the
// command says it was used.

#include "albummanagerviewmodel.h"

#include <functional>
#include <optional>
#include <QObject>

class QKeyEvent;

namespace calmcove {

class AlbumManagerKeyboardBridge : public QObject
{
    Q_OBJECT
public:
    // The album manager window's object name.
    static inline const QString windowIdentifier = QStringLiteral("albums");

    using CommandHandler = std::function<bool(AlbumManagerKeyboardCommand)>;

    explicit AlbumManagerKeyboardBridge(CommandHandler onCommand, QObject* parent = nullptr);
    ~AlbumManagerKeyboardBridge() override;

    // The command of a key, if it has one (modifiers other than keypad are ignored).
    static std::optional<AlbumManagerKeyboardCommand> commandForKey(const QKeyEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CommandHandler m_onCommand;
};

} // namespace calmcove
