#pragma once

// What the URL import view shows and does, without any widget: the typed link, whether
// "Import" can be pressed, which album the import goes to and the summary saying so, and
// queueing one link (or one per pasted line) with the album store. The job list itself
// is URLImportJobListModel. Main thread only.

#include "albums/urlimportjob.h"

#include <optional>
#include <QObject>
#include <QPointer>

namespace calmcove {

class AlbumStore;

class URLImportViewModel : public QObject
{
    Q_OBJECT
public:
    static inline const QString title = QStringLiteral("Import with URL");
    static inline const QString emptyCaption =
        QStringLiteral("Accepts direct MP3, M4A, AAC, WAV, AIFF, and FLAC URLs.");

    explicit URLImportViewModel(AlbumStore* albumStore, QObject* parent = nullptr);

    QString importURL() const { return m_importURL; }
    // While no import runs, a new non-blank link clears the messages of the last one.
    void setImportURL(const QString& text);
    bool canImport() const { return !m_importURL.trimmed().isEmpty(); }

    // The store's pending album when it is still an imported album; else none.
    std::optional<QString> importTargetAlbumID() const;
    QString targetSummary() const;

    // Queues the trimmed link (each non-blank line of a pasted list), empties the field
    // and asks for the focus back. Blank text does nothing.
    void importURLIfNeeded();
    // Asks, on the next turn of the event loop, for the field to take the focus.
    void focusURLField();

    bool hasJobs() const;
    // At least one job is finished or failed.
    bool canClearDone() const;
    void clearDone();

    // "host / file" when the link has a host and a last path component, the host alone
    // for "/" or an empty path, else the text as typed.
    static QString jobTitle(const QString& urlString);

Q_SIGNALS:
    void importURLChanged();
    void targetSummaryChanged();
    void jobsChanged();
    void focusRequested();

private:
    QPointer<AlbumStore> m_albumStore;
    QString m_importURL;
};

} // namespace calmcove
