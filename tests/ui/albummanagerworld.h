#pragma once

// The real album store, track-library store and player (on the null sound output) in a
// temporary folder, with scripted answers to every dialog, plus helpers that make real
// audio files and folders for imports and drops.

#include "albums/albumstore.h"
#include "app/albumstoreselection.h"
#include "app/packstoreaudiolibrary.h"
#include "audio/audioengine.h"
#include "audio/audiooutput.h"
#include "library/audiopackstore.h"
#include "platform/userdefaults.h"
#include "playback/audiocontroller.h"
#include "playback/audioengineadapter.h"
#include "support/wavfile.h"
#include "ui/albummanagerdialogs.h"

#include <QCoro/QCoroTask>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace calmcove::test {

// The user's answers, scripted; every question is recorded.
struct ScriptedAlbumManagerDialogs : AlbumManagerDialogs, ImportDialogs
{
    bool confirmDeleteAlbum(const QString& name) override
    {
        asked << QStringLiteral("album:") + name;
        return confirm;
    }
    bool confirmDeleteTracks(int count) override
    {
        asked << QStringLiteral("tracks:%1").arg(count);
        return confirm;
    }
    QString chooseNewAlbumArtwork() override { return picture; }
    QStringList chooseImportSelection() override { return selection; }
    QStringList chooseTracksToAdd() override { return selection; }
    QString chooseArtwork() override { return picture; }
    DuplicateResolution confirmDuplicateImport(int, const QString&, const QString&) override
    {
        return DuplicateResolution::skip;
    }

    bool confirm = true;
    QString picture;
    QStringList selection;
    QStringList asked;
};

inline AudioPackStoreOptions packsIn(const QTemporaryDir& dir)
{
    AudioPackStoreOptions options;
    options.packsRoot = dir.filePath(QStringLiteral("packs"));
    return options;
}

struct AlbumManagerWorld
{
    AlbumManagerWorld() { albumStore.setDialogs(&dialogs); }
    ~AlbumManagerWorld() { controller.reset(); }

    // A real WAV file of `seconds` at `relativePath` inside the world's folder.
    QString audioFile(const QString& relativePath, double seconds = 1) const
    {
        const QString path = dir.filePath(relativePath);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(silentWav(seconds));
        return path;
    }

    // An imported album of `trackCount` one-second tracks.
    CalmAlbum importAlbum(const QString& name, int trackCount)
    {
        QStringList files;
        for (int i = 1; i <= trackCount; ++i)
            files << audioFile(QStringLiteral("sources/%1/Track %2.wav").arg(name).arg(i));
        const QString folder = QFileInfo(files.value(0, dir.filePath(QStringLiteral("sources/") +
                                                                     name + QStringLiteral("/x"))))
                                   .path();
        QDir().mkpath(folder);
        QCoro::waitFor(albumStore.importExternalURLs({folder}));
        for (const CalmAlbum& album : albumStore.importedAlbums()) {
            if (album.name == name)
                return album;
        }
        return albumStore.createAlbum(name).value_or(CalmAlbum{});
    }

    CalmAlbum album(const QString& id) const
    {
        for (const CalmAlbum& candidate : albumStore.albums()) {
            if (candidate.id == id)
                return candidate;
        }
        return {};
    }

    QTemporaryDir dir;
    UserDefaults defaults{dir.filePath(QStringLiteral("settings.conf"))};
    ScriptedAlbumManagerDialogs dialogs;
    AlbumStore albumStore{defaults, dir.filePath(QStringLiteral("albums"))};
    AudioPackStore audioPackStore{defaults, packsIn(dir)};
    PackStoreAudioLibrary library{audioPackStore};
    AudioEngine engine{createAudioOutput(QStringLiteral("null"))};
    AudioEngineAdapter playback{engine};
    AlbumStoreSelection selection{albumStore};
    std::unique_ptr<AudioController> controller =
        std::make_unique<AudioController>(selection, library, playback, defaults);
};

} // namespace calmcove::test
