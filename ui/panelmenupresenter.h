#pragma once

// The menu rows of the panel that need only the player and the stores: Album (with
// "Manage albums..."), Song list, Timer, "Repair Track Library", and "About & Help".
// Values, entries, symbols and enabled states are computed here; choosing an entry calls
// the player or a store. No widgets. Main thread only.

#include "model/calmtrack.h"
#include "panelitems.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

namespace calmcove {

class AlbumStore;
class AudioController;
class AudioPackStore;

struct HelpLink
{
    QString title;
    QUrl url;
    bool operator==(const HelpLink&) const = default;
};

class PanelMenuPresenter : public QObject
{
    Q_OBJECT
public:
    // The three must outlive the presenter. `websiteURL` is the vendor's site, from the
    // build configuration; an empty one leaves the links out.
    PanelMenuPresenter(AudioController& controller, AlbumStore& albumStore,
                       AudioPackStore& audioPackStore, QString websiteURL, QString appVersion,
                       QObject* parent = nullptr);

    // ---- Album
    QString albumValue() const;
    // Every album, the selected one marked.
    QList<PanelEntry> albumEntries() const;
    void chooseAlbum(int index);
    static PanelEntry manageAlbumsEntry();

    // ---- Song list
    // The count of filtered tracks and " songs", in this form for one song too.
    QString songsValue() const;
    // The filtered tracks: the current one checked, a downloaded one a note, one not yet
    // downloaded a cloud (disabled while the library is busy).
    QList<PanelEntry> songEntries() const;
    // Makes an available track current, or starts the library install for one that is not.
    void chooseSong(int index);
    // Shown when no track passes the filters; the second only while the library is busy.
    static QString noSongsText();
    std::optional<PanelEntry> cloudTracksEntry() const;
    // Downloading, verifying, waiting for the network, checking or installing.
    bool libraryIsBusy() const;

    // ---- Timer
    // The remaining sleep time, or "Off".
    QString timerValue() const;
    // "10 minutes", "25 minutes", "45 minutes".
    static QList<PanelEntry> timerEntries();
    static QString cancelTimerTitle();
    void chooseTimer(int index);
    void cancelTimer();

    // ---- Repair
    // Disabled while the library downloads, verifies, checks or installs.
    bool repairEnabled() const;
    void repairLibrary();

    // ---- About & Help
    QString versionText() const; // "Direct version " + the version
    QList<HelpLink> helpLinks() const;

Q_SIGNALS:
    void albumsChanged();
    void songsChanged();
    void timerChanged();
    void libraryChanged();

private:
    AudioController* m_controller;
    AlbumStore* m_albumStore;
    AudioPackStore* m_audioPackStore;
    QString m_websiteURL;
    QString m_appVersion;
};

} // namespace calmcove
