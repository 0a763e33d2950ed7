#pragma once

// The URL import form: a direct audio link field with "Import", the album it saves into,
// and the store's import jobs with their state, message and progress. Shown in a popup
// 460 px wide (URLImportPopup) from the album manager's "Import with URL" and "Add URL".

#include <QFrame>
#include <QWidget>

class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QToolButton;

namespace calmcove {

class AlbumStore;
class URLImportJobListModel;
class URLImportViewModel;

class URLImportView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int maximumJobListHeight = 180;

    explicit URLImportView(AlbumStore* albumStore, QWidget* parent = nullptr);

    URLImportViewModel& viewModel() const { return *m_viewModel; }
    QLineEdit* urlField() const { return m_field; }
    QPushButton* importButton() const { return m_import; }
    QPushButton* clearDoneButton() const { return m_clearDone; }
    QLabel* summaryLabel() const { return m_summary; }
    QListView* jobList() const { return m_jobs; }
    URLImportJobListModel& jobModel() const { return *m_jobModel; }

Q_SIGNALS:
    // The close button was pressed.
    void closeRequested();

private:
    void refresh();
    void fitJobListHeight();

    URLImportViewModel* m_viewModel;
    URLImportJobListModel* m_jobModel;
    QLabel* m_summary;
    QLineEdit* m_field;
    QPushButton* m_import;
    QLabel* m_caption;
    QWidget* m_jobsHeader;
    QPushButton* m_clearDone;
    QListView* m_jobs;
};

// The popup that hosts a URL import view under the button that opened it.
class URLImportPopup : public QFrame
{
    Q_OBJECT
public:
    static constexpr int popupWidth = 460;

    explicit URLImportPopup(AlbumStore* albumStore, QWidget* parent = nullptr);
    URLImportView* view() const { return m_view; }
    // Shows the popup below `anchor`, kept on the anchor's screen.
    void showBelow(QWidget* anchor);

private:
    URLImportView* m_view;
};

} // namespace calmcove
