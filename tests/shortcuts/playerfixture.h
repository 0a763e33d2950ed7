#pragma once

// A real playback controller on the manual-clock engine, with three installed tracks so
// that next and previous move, for the tests that drive it through hotkeys.

#include "model/tracklibrary.h"
#include "platform/userdefaults.h"
#include "playback/albumselection.h"
#include "playback/audiocontroller.h"
#include "playback/manualengine.h"

#include <memory>
#include <QCoreApplication>
#include <QTemporaryDir>

namespace calmcove::test {

// Only the default album, selected.
class DefaultAlbumSelection : public AlbumSelection
{
public:
    CalmAlbum selectedAlbum() const override { return album; }
    const CalmAlbum& builtInAlbum() const override { return album; }
    QString selectedAlbumID() const override { return album.id; }
    void setSelectedAlbumID(const QString&) override {}

    CalmAlbum album = TrackLibrary::builtInAlbum();
};

class PlayerFixture
{
public:
    PlayerFixture()
        : m_controller(std::make_unique<AudioController>(albums, library, engine, defaults))
    {}

    AudioController* controller() const { return m_controller.get(); }
    void destroyController() { m_controller.reset(); }

    // Plays `seconds` of audio and lets the controller read its clock.
    void advance(double seconds)
    {
        engine.advance(seconds);
        QCoreApplication::processEvents();
        m_controller->updateClock();
    }

    QTemporaryDir directory;
    UserDefaults defaults{directory.path() + QStringLiteral("/settings.conf")};
    DefaultAlbumSelection albums;
    InstalledLibrary library;
    ManualEngine engine;

private:
    std::unique_ptr<AudioController> m_controller;
};

} // namespace calmcove::test
