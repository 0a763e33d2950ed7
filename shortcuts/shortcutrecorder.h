#pragma once

// Records a new combination for one action from the keyboard: while recording, every
// key-down the application receives is consumed; Escape ends without change, a key
// without Control, Alt or Super held beeps and keeps listening, and anything else becomes
// the action's shortcut and ends the recording. Lone modifier presses are part of a
// combination being typed and pass silently. Main thread only; needs no widgets.

#include "appshortcut.h"

#include <functional>
#include <QObject>

namespace calmcove {

class ShortcutManager;

class ShortcutRecorder : public QObject
{
    Q_OBJECT
    // The raw value of the action being recorded; empty when not recording.
    Q_PROPERTY(QString recordingAction READ recordingActionRawValue NOTIFY recordingActionChanged)

public:
    // `beep` plays the system alert sound (e.g. QApplication::beep).
    ShortcutRecorder(ShortcutManager& manager, std::function<void()> beep,
                     QObject* parent = nullptr);
    ~ShortcutRecorder() override;

    std::optional<ShortcutAction> recordingAction() const { return m_recordingAction; }
    QString recordingActionRawValue() const;

    void startShortcutRecording(ShortcutAction action);
    void stopShortcutRecording();

Q_SIGNALS:
    void recordingActionChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void handleKeyDown(const QKeyEvent& event);
    void setRecordingAction(std::optional<ShortcutAction> action);

    ShortcutManager& m_manager;
    std::function<void()> m_beep;
    std::optional<ShortcutAction> m_recordingAction;
    bool m_filterInstalled = false;
};

} // namespace calmcove
