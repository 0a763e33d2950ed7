#include "albummanagerviewmodel.h"

#include "albums/albumstore.h"
#include "library/audiopackstore.h"
#include "playback/audiocontroller.h"

#include <cmath>
#include <QFileInfo>
#include <QLocale>

namespace calmcove {

namespace {

// Case and diacritics folded away, so that "Cafe" finds "Café" and "CAFÉ".
QString foldForSearch(const QString& text)
{
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString folded;
    folded.reserve(decomposed.size());
    for (const QChar character : decomposed) {
        const QChar::Category category = character.category();
        if (category != QChar::Mark_NonSpacing && category != QChar::Mark_SpacingCombining &&
            category != QChar::Mark_Enclosing)
            folded.append(character);
    }
    return QLocale().toLower(folded).toCaseFolded();
}

} // namespace

AlbumManagerViewModel::AlbumManagerViewModel(AudioController* controller,
                                             AlbumStore* albumStore,
                                             AudioPackStore* audioPackStore,
                                             AlbumManagerDialogs& dialogs, QObject* parent)
    : QObject(parent), m_controller(controller), m_albumStore(albumStore),
      m_audioPackStore(audioPackStore), m_dialogs(dialogs)
{
    if (!albumStore)
        return;
    const auto selectedAlbumMayHaveChanged = [this] {
        // A selection only ever names tracks of the album on show.
        QSet<QString> kept;
        for (const CalmTrack& track : selectedAlbum().tracks) {
            if (m_selectedTrackIDs.contains(track.id))
                kept.insert(track.id);
        }
        setSelectedTrackIDs(kept);
        Q_EMIT selectedAlbumChanged();
    };
    connect(albumStore, &AlbumStore::selectedAlbumIDChanged, this, selectedAlbumMayHaveChanged);
    connect(albumStore, &AlbumStore::importedAlbumsChanged, this, selectedAlbumMayHaveChanged);
    connect(albumStore, &AlbumStore::builtInAlbumChanged, this, selectedAlbumMayHaveChanged);
}

QString AlbumManagerViewModel::formatDuration(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0)
        return QStringLiteral("--:--");
    const auto total = static_cast<long long>(std::round(seconds));
    const long long hours = total / 3600;
    const long long minutes = (total % 3600) / 60;
    const long long rest = total % 60;
    if (total < 3600)
        return QString::asprintf("%lld:%02lld", minutes, rest);
    return QString::asprintf("%lld:%02lld:%02lld", hours, minutes, rest);
}

QString AlbumManagerViewModel::albumMetadata(const CalmAlbum& album)
{
    QString source = QStringLiteral("Local");
    if (album.isBuiltIn)
        source = QStringLiteral("Default album");
    else if (album.name == AlbumStore::urlAlbumName)
        source = QStringLiteral("URL");
    double total = 0;
    for (const CalmTrack& track : album.tracks)
        total += track.duration;
    return QStringLiteral("%1 songs  |  %2  |  %3")
        .arg(album.tracks.size())
        .arg(source, formatDuration(total));
}

QString AlbumManagerViewModel::formatName(const CalmTrack& track)
{
    if (const auto* file = std::get_if<FileAudio>(&track.source))
        return QFileInfo(file->path).suffix().toUpper();
    return QStringLiteral("M4A");
}

std::optional<QString> AlbumManagerViewModel::filePath(const CalmTrack& track) const
{
    if (const auto* file = std::get_if<FileAudio>(&track.source))
        return file->path;
    if (!m_audioPackStore)
        return std::nullopt;
    const QString& name = std::get<BundledAudio>(track.source).resourceName;
    if (auto installed = m_audioPackStore->localPath(name))
        return installed;
    return m_audioPackStore->starterPath(name);
}

QString AlbumManagerViewModel::fileSizeName(const CalmTrack& track) const
{
    const std::optional<QString> path = filePath(track);
    const QFileInfo info(path.value_or(QString()));
    if (!path || !info.isFile() || !info.isReadable())
        return QStringLiteral("--");
    return QLocale().formattedDataSize(info.size(), 1, QLocale::DataSizeSIFormat);
}

void AlbumManagerViewModel::setSearchText(const QString& text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    Q_EMIT searchTextChanged();
}

QList<CalmAlbum> AlbumManagerViewModel::filteredImportedAlbums() const
{
    if (!m_albumStore)
        return {};
    const QString query = foldForSearch(m_searchText.trimmed());
    if (query.isEmpty())
        return m_albumStore->importedAlbums();
    QList<CalmAlbum> found;
    for (const CalmAlbum& album : m_albumStore->importedAlbums()) {
        if (foldForSearch(album.name).contains(query))
            found.append(album);
    }
    return found;
}

QString AlbumManagerViewModel::importedSectionEmptyText() const
{
    if (!m_albumStore || m_albumStore->importedAlbums().isEmpty())
        return QStringLiteral("No imported albums");
    return filteredImportedAlbums().isEmpty() ? QStringLiteral("No matches") : QString();
}

void AlbumManagerViewModel::selectAlbum(const QString& albumID)
{
    if (!m_albumStore)
        return;
    for (const CalmAlbum& album : m_albumStore->albums()) {
        if (album.id != albumID)
            continue;
        if (m_controller)
            m_controller->selectAlbum(album);
        else
            m_albumStore->setSelectedAlbumID(album.id);
        return;
    }
}

CalmAlbum AlbumManagerViewModel::selectedAlbum() const
{
    return m_albumStore ? m_albumStore->selectedAlbum() : CalmAlbum{};
}

bool AlbumManagerViewModel::canRemoveArtwork() const
{
    const CalmAlbum album = selectedAlbum();
    return !album.isBuiltIn && std::holds_alternative<FileArtwork>(album.artwork);
}

bool AlbumManagerViewModel::canDeleteSelectedTracks() const
{
    return !isSelectedAlbumReadOnly() && !m_selectedTrackIDs.isEmpty();
}

void AlbumManagerViewModel::setSelectedTrackIDs(const QSet<QString>& ids)
{
    if (ids == m_selectedTrackIDs)
        return;
    m_selectedTrackIDs = ids;
    Q_EMIT selectedTrackIDsChanged();
}

std::optional<QString> AlbumManagerViewModel::firstSelectedTrackID() const
{
    for (const CalmTrack& track : selectedAlbum().tracks) {
        if (m_selectedTrackIDs.contains(track.id))
            return track.id;
    }
    return std::nullopt;
}

void AlbumManagerViewModel::setFocusedField(const std::optional<AlbumManagerFocus>& focus)
{
    if (focus == m_focusedField)
        return;
    m_focusedField = focus;
    Q_EMIT renamingChanged();
}

void AlbumManagerViewModel::beginRenamingAlbum(const CalmAlbum& album)
{
    if (album.isBuiltIn || !m_albumStore)
        return;
    m_renamingTrackID.reset();
    m_trackRenameText.clear();
    m_activeKeyboardArea = AlbumManagerKeyboardArea::albums;
    if (m_albumStore->selectedAlbumID() != album.id)
        selectAlbum(album.id);
    m_renamingSidebarAlbumID = album.id;
    m_sidebarRenameText = album.name;
    m_focusedField = AlbumManagerFocus{AlbumManagerFocus::Field::sidebarAlbumName, album.id};
    Q_EMIT renamingChanged();
}

void AlbumManagerViewModel::beginRenamingSelectedAlbum()
{
    beginRenamingAlbum(selectedAlbum());
}

void AlbumManagerViewModel::commitSidebarRename()
{
    if (!m_renamingSidebarAlbumID)
        return;
    const QString id = *m_renamingSidebarAlbumID;
    m_renamingSidebarAlbumID.reset();
    const QString text = std::exchange(m_sidebarRenameText, QString());
    m_focusedField.reset();
    if (m_albumStore)
        m_albumStore->renameAlbum(id, text);
    Q_EMIT renamingChanged();
    handSelectedAlbumToController();
}

void AlbumManagerViewModel::beginRenamingTrack(const QString& trackID, const CalmAlbum& album)
{
    if (album.isBuiltIn)
        return;
    const auto track = std::find_if(album.tracks.cbegin(), album.tracks.cend(),
                                    [&](const CalmTrack& t) { return t.id == trackID; });
    if (track == album.tracks.cend())
        return;
    m_renamingSidebarAlbumID.reset();
    m_sidebarRenameText.clear();
    m_activeKeyboardArea = AlbumManagerKeyboardArea::tracks;
    setSelectedTrackIDs({trackID});
    m_renamingTrackID = trackID;
    m_trackRenameText = track->title;
    m_focusedField = AlbumManagerFocus{AlbumManagerFocus::Field::trackTitle, trackID};
    Q_EMIT renamingChanged();
}

void AlbumManagerViewModel::commitTrackRename()
{
    if (!m_renamingTrackID)
        return;
    const QString id = *m_renamingTrackID;
    m_renamingTrackID.reset();
    const QString text = std::exchange(m_trackRenameText, QString());
    m_focusedField.reset();
    if (m_albumStore)
        m_albumStore->renameTrack(id, m_albumStore->selectedAlbumID(), text);
    Q_EMIT renamingChanged();
    handSelectedAlbumToController();
}

void AlbumManagerViewModel::cancelRenames()
{
    if (!m_renamingSidebarAlbumID && !m_renamingTrackID)
        return;
    m_renamingSidebarAlbumID.reset();
    m_sidebarRenameText.clear();
    m_renamingTrackID.reset();
    m_trackRenameText.clear();
    m_focusedField.reset();
    Q_EMIT renamingChanged();
}

void AlbumManagerViewModel::renameSelectedAlbum(const QString& name)
{
    const CalmAlbum album = selectedAlbum();
    if (album.isBuiltIn || !m_albumStore || name == album.name)
        return;
    m_albumStore->renameAlbum(album.id, name);
    handSelectedAlbumToController();
}

void AlbumManagerViewModel::requestDeleteAlbum(const CalmAlbum& album)
{
    if (album.isBuiltIn || !m_albumStore)
        return;
    cancelRenames();
    m_albumPendingDeletion = album;
    if (m_dialogs.confirmDeleteAlbum(album.name)) {
        m_albumStore->deleteAlbum(album.id);
        handSelectedAlbumToController();
    }
    m_albumPendingDeletion.reset();
}

void AlbumManagerViewModel::requestDeleteSelectedTracks()
{
    if (!canDeleteSelectedTracks())
        return;
    if (m_renamingTrackID) {
        m_renamingTrackID.reset();
        m_trackRenameText.clear();
        m_focusedField.reset();
        Q_EMIT renamingChanged();
    }
    if (m_dialogs.confirmDeleteTracks(int(m_selectedTrackIDs.size())))
        deleteSelectedTracks();
}

void AlbumManagerViewModel::deleteSelectedTracks()
{
    if (!m_albumStore)
        return;
    if (m_renamingTrackID) {
        m_renamingTrackID.reset();
        m_trackRenameText.clear();
        m_focusedField.reset();
        Q_EMIT renamingChanged();
    }
    const QSet<QString> ids = m_selectedTrackIDs;
    m_albumStore->deleteTracks(ids, m_albumStore->selectedAlbumID());
    setSelectedTrackIDs({});
    handSelectedAlbumToController();
}

bool AlbumManagerViewModel::handleKeyboardCommand(AlbumManagerKeyboardCommand command)
{
    switch (command) {
    case AlbumManagerKeyboardCommand::rename:
        if (m_selectedTrackIDs.isEmpty())
            beginRenamingSelectedAlbum();
        else if (const auto first = firstSelectedTrackID())
            beginRenamingTrack(*first, selectedAlbum());
        return true;
    case AlbumManagerKeyboardCommand::remove:
        if (m_selectedTrackIDs.isEmpty())
            requestDeleteAlbum(selectedAlbum());
        else
            requestDeleteSelectedTracks();
        return true;
    case AlbumManagerKeyboardCommand::cancel:
        if (!m_renamingSidebarAlbumID && !m_renamingTrackID)
            return false;
        cancelRenames();
        return true;
    }
    return false;
}

void AlbumManagerViewModel::setDropTargeted(bool targeted)
{
    if (targeted == m_isDropTargeted)
        return;
    m_isDropTargeted = targeted;
    Q_EMIT dropTargetedChanged();
}

void AlbumManagerViewModel::importDroppedItems(const QStringList& paths)
{
    if (!m_albumStore || paths.isEmpty())
        return;
    const CalmAlbum album = selectedAlbum();
    const bool holdsFolder = std::any_of(paths.cbegin(), paths.cend(),
                                         [](const QString& path) { return QFileInfo(path).isDir(); });
    if (!album.isBuiltIn && !holdsFolder)
        m_albumStore->addTracks(paths, album.id);
    else
        m_albumStore->importExternalURLs(paths);
    handSelectedAlbumToController();
}

void AlbumManagerViewModel::importWithPanel()
{
    if (!m_albumStore)
        return;
    m_albumStore->importWithPanel();
    handSelectedAlbumToController();
}

void AlbumManagerViewModel::addTracksWithPanel()
{
    const CalmAlbum album = selectedAlbum();
    if (!m_albumStore || album.isBuiltIn)
        return;
    m_albumStore->addTracksWithPanel(album.id);
    handSelectedAlbumToController();
}

bool AlbumManagerViewModel::createAlbum(const QString& name,
                                        const std::optional<QString>& artworkPath)
{
    if (!m_albumStore)
        return false;
    const std::optional<CalmAlbum> album = m_albumStore->createAlbum(name, artworkPath);
    if (!album)
        return false;
    if (m_controller)
        m_controller->selectAlbum(*album);
    return true;
}

void AlbumManagerViewModel::setArtworkWithPanel()
{
    const CalmAlbum album = selectedAlbum();
    if (m_albumStore && !album.isBuiltIn)
        m_albumStore->setArtworkWithPanel(album.id);
}

void AlbumManagerViewModel::setArtwork(const QString& picturePath)
{
    const CalmAlbum album = selectedAlbum();
    if (m_albumStore && !album.isBuiltIn)
        m_albumStore->setArtwork(picturePath, album.id);
}

void AlbumManagerViewModel::removeArtwork()
{
    if (m_albumStore && canRemoveArtwork())
        m_albumStore->removeArtwork(selectedAlbum().id);
}

void AlbumManagerViewModel::handSelectedAlbumToController()
{
    if (m_controller && m_albumStore)
        m_controller->selectAlbum(m_albumStore->selectedAlbum());
}

} // namespace calmcove
