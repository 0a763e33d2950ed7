#include "albummanagerviewmodel.h"

#include "albums/albumstore.h"
#include "albums/importpanels.h"
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

AlbumManagerViewModel::AlbumManagerViewModel(AudioController* controller, AlbumStore* albumStore,
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

AlbumStore* AlbumManagerViewModel::albumStore() const
{
    return m_albumStore;
}

AudioController* AlbumManagerViewModel::controller() const
{
    return m_controller;
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
    AudioPackStore* const packs = m_audioPackStore;
    if (const auto* file = std::get_if<FileAudio>(&track.source))
        return file->path;
    if (!packs)
        return std::nullopt;
    const QString& name = std::get<BundledAudio>(track.source).resourceName;
    if (auto installed = packs->localPath(name))
        return installed;
    return packs->starterPath(name);
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
    AlbumStore* const store = m_albumStore;
    if (!store)
        return {};
    const QString query = foldForSearch(m_searchText.trimmed());
    if (query.isEmpty())
        return store->importedAlbums();
    QList<CalmAlbum> found;
    for (const CalmAlbum& album : store->importedAlbums()) {
        if (foldForSearch(album.name).contains(query))
            found.append(album);
    }
    return found;
}

QString AlbumManagerViewModel::importedSectionEmptyText() const
{
    AlbumStore* const store = m_albumStore;
    if (!store || store->importedAlbums().isEmpty())
        return QStringLiteral("No imported albums");
    return filteredImportedAlbums().isEmpty() ? QStringLiteral("No matches") : QString();
}

void AlbumManagerViewModel::selectAlbum(const QString& albumID)
{
    AlbumStore* const store = m_albumStore;
    AudioController* const player = m_controller;
    if (!store)
        return;
    for (const CalmAlbum& album : store->albums()) {
        if (album.id != albumID)
            continue;
        if (player)
            player->selectAlbum(album);
        else
            store->setSelectedAlbumID(album.id);
        return;
    }
}

CalmAlbum AlbumManagerViewModel::selectedAlbum() const
{
    AlbumStore* const store = m_albumStore;
    return store ? store->selectedAlbum() : CalmAlbum{};
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
    AlbumStore* const store = m_albumStore;
    if (album.isBuiltIn || !store)
        return;
    m_renamingTrackID.reset();
    m_trackRenameText.clear();
    m_activeKeyboardArea = AlbumManagerKeyboardArea::albums;
    if (store->selectedAlbumID() != album.id)
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
    commitRename(m_renamingSidebarAlbumID, m_sidebarRenameText,
                 [](AlbumStore& store, const QString& id, const QString& text) {
                     store.renameAlbum(id, text);
                 });
}

void AlbumManagerViewModel::commitRename(
    std::optional<QString>& target, QString& text,
    const std::function<void(AlbumStore&, const QString&, const QString&)>& rename)
{
    if (!target)
        return;
    const QString id = *std::exchange(target, std::nullopt);
    const QString typed = std::exchange(text, QString());
    m_focusedField.reset();
    if (AlbumStore* const store = m_albumStore)
        rename(*store, id, typed);
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
    commitRename(m_renamingTrackID, m_trackRenameText,
                 [](AlbumStore& store, const QString& id, const QString& text) {
                     store.renameTrack(id, store.selectedAlbumID(), text);
                 });
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
    AlbumStore* const store = m_albumStore;
    const CalmAlbum album = selectedAlbum();
    if (album.isBuiltIn || !store || name == album.name)
        return;
    store->renameAlbum(album.id, name);
    handSelectedAlbumToController();
}

void AlbumManagerViewModel::requestDeleteAlbum(const CalmAlbum& album)
{
    AlbumStore* const store = m_albumStore;
    if (album.isBuiltIn || !store)
        return;
    cancelRenames();
    m_albumPendingDeletion = album;
    if (m_dialogs.confirmDeleteAlbum(album.name)) {
        store->deleteAlbum(album.id);
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
    AlbumStore* const store = m_albumStore;
    if (!store)
        return;
    if (m_renamingTrackID) {
        m_renamingTrackID.reset();
        m_trackRenameText.clear();
        m_focusedField.reset();
        Q_EMIT renamingChanged();
    }
    const QSet<QString> ids = m_selectedTrackIDs;
    store->deleteTracks(ids, store->selectedAlbumID());
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

QCoro::Task<> AlbumManagerViewModel::importDroppedItems(QStringList paths)
{
    QPointer<AlbumManagerViewModel> self(this);
    AlbumStore* const store = m_albumStore;
    if (!store || paths.isEmpty())
        co_return;
    const CalmAlbum album = selectedAlbum();
    const bool holdsFolder = std::any_of(
        paths.cbegin(), paths.cend(), [](const QString& path) { return QFileInfo(path).isDir(); });
    // Started in a statement of its own: GCC 12 destroys temporaries of a co_await expression
    // twice.
    auto importing = !album.isBuiltIn && !holdsFolder ? store->addTracks(paths, album.id)
                                                      : store->importExternalURLs(paths);
    co_await std::move(importing);
    if (self)
        handSelectedAlbumToController();
}

QCoro::Task<> AlbumManagerViewModel::importWithPanel()
{
    QPointer<AlbumManagerViewModel> self(this);
    if (!m_albumStore || !m_importPanels)
        co_return;
    auto importing = m_importPanels->importWithPanel();
    co_await std::move(importing);
    if (self)
        handSelectedAlbumToController();
}

QCoro::Task<> AlbumManagerViewModel::addTracksWithPanel()
{
    QPointer<AlbumManagerViewModel> self(this);
    const CalmAlbum album = selectedAlbum();
    if (!m_albumStore || !m_importPanels || album.isBuiltIn)
        co_return;
    auto adding = m_importPanels->addTracksWithPanel(album.id);
    co_await std::move(adding);
    if (self)
        handSelectedAlbumToController();
}

bool AlbumManagerViewModel::createAlbum(const QString& name,
                                        const std::optional<QString>& artworkPath)
{
    AlbumStore* const store = m_albumStore;
    AudioController* const player = m_controller;
    if (!store)
        return false;
    const std::optional<CalmAlbum> album = store->createAlbum(name, artworkPath);
    if (!album)
        return false;
    if (player)
        player->selectAlbum(*album);
    return true;
}

QCoro::Task<> AlbumManagerViewModel::setArtworkWithPanel()
{
    const CalmAlbum album = selectedAlbum();
    if (!m_albumStore || !m_importPanels || album.isBuiltIn)
        co_return;
    auto setting = m_importPanels->setArtworkWithPanel(album.id);
    co_await std::move(setting);
}

QCoro::Task<> AlbumManagerViewModel::setArtwork(QString picturePath)
{
    AlbumStore* const store = m_albumStore;
    const CalmAlbum album = selectedAlbum();
    if (!store || album.isBuiltIn)
        co_return;
    auto setting = store->setArtwork(picturePath, album.id);
    co_await std::move(setting);
}

void AlbumManagerViewModel::removeArtwork()
{
    AlbumStore* const store = m_albumStore;
    if (store && canRemoveArtwork())
        store->removeArtwork(selectedAlbum().id);
}

void AlbumManagerViewModel::handSelectedAlbumToController()
{
    AlbumStore* const store = m_albumStore;
    AudioController* const player = m_controller;
    if (player && store)
        player->selectAlbum(store->selectedAlbum());
}

} // namespace calmcove
