#pragma once

// The Shortcuts row of the panel and its popup: the summary, one row per action with its
// binding, the recording of a new combination ("Listening"), the clear buttons and "Clear
// all shortcuts". Recording is the panel's transient state: it ends when the popup or the
// panel closes. No widgets. Main thread only.

#include "panelsources.h"

#include <optional>
#include <QObject>
#include <QPointer>

class QKeyEvent;

namespace calmcove {

struct ShortcutRow
{
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
    // Without a source the row is absent.
    explicit ShortcutsPresenter(ShortcutTableSource* source, QObject* parent = nullptr);

    bool hasShortcuts() const { return m_source != nullptr; }
    // "Not set", "1 set", "<n> set".
    QString summary() const;
    static QString heading() { return QStringLiteral("Shortcuts"); }
    QList<ShortcutRow> rows() const;
    bool showsClearAll() const;
    static QString clearAllTitle() { return QStringLiteral("Clear all shortcuts"); }

    std::optional<int> recordingAction() const { return m_recordingAction; }
    bool isRecording() const { return m_recordingAction.has_value(); }
    void startRecording(int action);
    void stopRecording();
    void clear(int action);
    void clearAll();
    // A key press while recording: Escape ends the recording, a valid combination is
    // bound and ends it, anything else asks for a beep and keeps recording. Returns
    // whether the press was taken (always, while recording).
    bool handleKeyPress(const QKeyEvent& event);

Q_SIGNALS:
    void changed();
    void beepRequested();

private:
    int setCount() const;

    ShortcutTableSource* m_source;
    std::optional<int> m_recordingAction;
};

} // namespace calmcove
