#include "shortcutspresenter.h"

#include "shortcuts/shortcutmanager.h"
#include "shortcuts/shortcutrecorder.h"

namespace calmcove {

ShortcutsPresenter::ShortcutsPresenter(ShortcutManager* manager, QObject* parent)
    : QObject(parent), m_manager(manager)
{
    if (!manager)
        return;
    m_recorder = std::make_unique<ShortcutRecorder>(*manager, [this] { Q_EMIT beepRequested(); });
    connect(manager, &ShortcutManager::shortcutsChanged, this, &ShortcutsPresenter::changed);
    connect(m_recorder.get(), &ShortcutRecorder::recordingActionChanged, this,
            &ShortcutsPresenter::changed);
}

ShortcutsPresenter::~ShortcutsPresenter() = default;

QString ShortcutsPresenter::summary() const
{
    const qsizetype count = m_manager ? m_manager->shortcuts().size() : 0;
    return count == 0 ? QStringLiteral("Not set") : QString::number(count) + QStringLiteral(" set");
}

QList<ShortcutRow> ShortcutsPresenter::rows() const
{
    QList<ShortcutRow> rows;
    if (!m_manager)
        return rows;
    const ShortcutTable& table = m_manager->shortcuts();
    for (const ShortcutAction action : allShortcutActions) {
        const auto bound = table.constFind(action);
        const bool isSet = bound != table.cend();
        const bool recording = recordingAction() == action;
        ShortcutRow row;
        row.action = action;
        row.title = title(action);
        row.detail = recording ? QStringLiteral("Press shortcut")
                               : (isSet ? bound->displayText() : QStringLiteral("Not set"));
        row.buttonText = recording ? QStringLiteral("Listening")
                                   : (isSet ? QStringLiteral("Change") : QStringLiteral("Set"));
        row.buttonEnabled = !recording;
        row.showsClear = isSet;
        row.clearHelp = QStringLiteral("Clear ") + row.title;
        rows.append(row);
    }
    return rows;
}

bool ShortcutsPresenter::showsClearAll() const
{
    return m_manager && !m_manager->shortcuts().isEmpty();
}

std::optional<ShortcutAction> ShortcutsPresenter::recordingAction() const
{
    return m_recorder ? m_recorder->recordingAction() : std::nullopt;
}

void ShortcutsPresenter::startRecording(ShortcutAction action)
{
    if (m_recorder && recordingAction() != action)
        m_recorder->startShortcutRecording(action);
}

void ShortcutsPresenter::stopRecording()
{
    if (m_recorder)
        m_recorder->stopShortcutRecording();
}

void ShortcutsPresenter::clear(ShortcutAction action)
{
    if (!m_manager)
        return;
    if (recordingAction() == action)
        stopRecording();
    m_manager->clearShortcut(action);
}

void ShortcutsPresenter::clearAll()
{
    stopRecording();
    if (m_manager)
        m_manager->clearAllShortcuts();
}

} // namespace calmcove
