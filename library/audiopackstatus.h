#pragma once

// The observable state of the track library — what the library is doing (status) and
// where the check for new tracks stands (update state) — and the exact title and detail
// texts the player panel shows for them.

#include <QMetaType>
#include <QString>

#include <optional>

namespace calmcove {

struct AudioPackStatus
{
    enum class Kind
    {
        downloading,       // currentTrack, completedBytes, totalBytes
        verifying,         // currentTrack
        waitingForNetwork, // message
        ready,             // version
        failed,            // message
        notInstalled,
        checking,
        installing,
    };

    Kind kind = Kind::notInstalled;
    QString text; // the current track's file name, the message or the version
    qint64 completedBytes = 0;
    qint64 totalBytes = 0;

    static AudioPackStatus downloading(const QString& currentTrack, qint64 completedBytes,
                                       qint64 totalBytes);
    static AudioPackStatus verifying(const QString& currentTrack);
    static AudioPackStatus waitingForNetwork(const QString& message);
    static AudioPackStatus ready(const QString& version);
    static AudioPackStatus failed(const QString& message);
    static AudioPackStatus notInstalled() { return {Kind::notInstalled, {}, 0, 0}; }
    static AudioPackStatus checking() { return {Kind::checking, {}, 0, 0}; }
    static AudioPackStatus installing() { return {Kind::installing, {}, 0, 0}; }

    // Downloading, verifying, checking or installing: no other install may start.
    bool isBusy() const;

    bool operator==(const AudioPackStatus&) const = default;
};

struct AudioPackUpdateState
{
    enum class Kind
    {
        available, // version, trackCount (tracks to download)
        failed,    // message
        notChecked,
        checking,
        current,
    };

    Kind kind = Kind::notChecked;
    QString text; // the version or the message
    qint64 trackCount = 0;

    static AudioPackUpdateState available(const QString& version, qint64 trackCount);
    static AudioPackUpdateState failed(const QString& message);
    static AudioPackUpdateState notChecked() { return {Kind::notChecked, {}, 0}; }
    static AudioPackUpdateState checking() { return {Kind::checking, {}, 0}; }
    static AudioPackUpdateState current() { return {Kind::current, {}, 0}; }

    bool operator==(const AudioPackUpdateState&) const = default;
};

// The panel's texts. `fullLibraryIsInstalled` picks the update wording over the first-install
// wording; `installedTrackCount` is the installed manifest's trackCount, if one is installed.
QString audioPackStatusTitle(const AudioPackStatus& status, const AudioPackUpdateState& update,
                             bool fullLibraryIsInstalled);
QString audioPackStatusDetail(const AudioPackStatus& status, const AudioPackUpdateState& update,
                              bool fullLibraryIsInstalled,
                              std::optional<qint64> installedTrackCount);

} // namespace calmcove

Q_DECLARE_METATYPE(calmcove::AudioPackStatus)
Q_DECLARE_METATYPE(calmcove::AudioPackUpdateState)
