#pragma once

// The Shortcuts row of the panel and its popup: the summary, one row per action with its
// binding, the recording of a new combination ("Listening"), the clear buttons and "Clear
// all shortcuts". Recording is the panel's transient state: it ends when the popup or the
// panel closes. No widgets. Main thread only.

#include "shortcuts/appshortcut.h"

#include <memory>
#include <optional>
#include <QObject>

namespace calmcove {

class ShortcutManager;
class ShortcutRecorder;

struct ShortcutRow
{
    ShortcutAction action = ShortcutAction::playPause;
    QString title;
    QString detail;     // "Press shortcut", the binding, or "Not set"
    QString buttonText; // "Listening", "Change" or "Set"
    bool buttonEnabled = true;
    bool showsClear = false;
    QString clearHelp; // "Clear " + title
    bool operator==(const ShortcutRow&) const = default;
};

class ShortcutsPresenter : public QObject
{
    Q_OBJECT
public:
    // Without a manager the row is absent. The manager outlives the presenter.
    explicit ShortcutsPresenter(ShortcutManager* manager, QObject* parent = nullptr);
    ~ShortcutsPresenter() override;

    bool hasShortcuts() const { return m_manager != nullptr; }
    // "Not set", "1 set", "<n> set".
    QString summary() const;
    static QString heading() { return QStringLiteral("Shortcuts"); }
    QList<ShortcutRow> rows() const;
    bool showsClearAll() const;
    static QString clearAllTitle() { return QStringLiteral("Clear all shortcuts"); }

    // While recording, every key press of the application goes to the recording: Escape
    // ends it, a valid combination is bound and ends it, anything else beeps.
    std::optional<ShortcutAction> recordingAction() const;
    bool isRecording() const { return recordingAction().has_value(); }
    void startRecording(ShortcutAction action);
    void stopRecording();
    void clear(ShortcutAction action);
    void clearAll();

Q_SIGNALS:
    void changed();
    void beepRequested();

private:
    ShortcutManager* m_manager;
    std::unique_ptr<ShortcutRecorder> m_recorder;
};

} // namespace calmcove
