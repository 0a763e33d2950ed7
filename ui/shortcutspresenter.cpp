#include "shortcutspresenter.h"

#include "panelsources.h"

#include <QKeyEvent>

namespace calmcove {

ShortcutsPresenter::ShortcutsPresenter(ShortcutTableSource* source, QObject* parent)
    : QObject(parent), m_source(source)
{
    if (source)
        connect(source, &ShortcutTableSource::changed, this, &ShortcutsPresenter::changed);
}

int ShortcutsPresenter::setCount() const
{
    int count = 0;
    for (int action = 0; m_source && action < m_source->actionCount(); ++action)
        count += m_source->shortcutText(action).has_value() ? 1 : 0;
    return count;
}

QString ShortcutsPresenter::summary() const
{
    const int count = setCount();
    return count == 0 ? QStringLiteral("Not set") : QString::number(count) + QStringLiteral(" set");
}

QList<ShortcutRow> ShortcutsPresenter::rows() const
{
    QList<ShortcutRow> rows;
    for (int action = 0; m_source && action < m_source->actionCount(); ++action) {
        const std::optional<QString> text = m_source->shortcutText(action);
        const bool recording = m_recordingAction == action;
        ShortcutRow row;
        row.title = m_source->actionTitle(action);
        row.detail =
            recording ? QStringLiteral("Press shortcut") : text.value_or(QStringLiteral("Not set"));
        row.buttonText = recording ? QStringLiteral("Listening")
                                   : (text ? QStringLiteral("Change") : QStringLiteral("Set"));
        row.buttonEnabled = !recording;
        row.showsClear = text.has_value();
        row.clearHelp = QStringLiteral("Clear ") + row.title;
        rows.append(row);
    }
    return rows;
}

bool ShortcutsPresenter::showsClearAll() const
{
    return setCount() > 0;
}

void ShortcutsPresenter::startRecording(int action)
{
    if (!m_source || m_recordingAction == action || action < 0 || action >= m_source->actionCount())
        return;
    m_recordingAction = action;
    Q_EMIT changed();
}

void ShortcutsPresenter::stopRecording()
{
    if (!m_recordingAction)
        return;
    m_recordingAction.reset();
    Q_EMIT changed();
}

void ShortcutsPresenter::clear(int action)
{
    if (!m_source)
        return;
    if (m_recordingAction == action)
        stopRecording();
    m_source->clearShortcut(action);
}

void ShortcutsPresenter::clearAll()
{
    stopRecording();
    for (int action = 0; m_source && action < m_source->actionCount(); ++action)
        m_source->clearShortcut(action);
}

bool ShortcutsPresenter::handleKeyPress(const QKeyEvent& event)
{
    if (!m_recordingAction || !m_source)
        return false;
    if (event.key() == Qt::Key_Escape) {
        stopRecording();
        return true;
    }
    // Modifier keys on their own are part of a combination still being pressed.
    switch (event.key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_AltGr:
        return true;
    default:
        break;
    }
    if (!m_source->setShortcutFromKeyEvent(*m_recordingAction, event)) {
        Q_EMIT beepRequested();
        return true;
    }
    stopRecording();
    return true;
}

} // namespace calmcove
