// Track ends as heard: the player on the real engine, rendered offline into a capture
// buffer, plays full-scale 440 Hz sines that end at a zero crossing. Where one track runs
// into the next (a one-track album repeating, or another track) the join adds no silence
// and no step larger than the sine's own.

#include "audio/audiotestsupport.h"
#include "manualengine.h"
#include "model/tracklibrary.h"
#include "platform/userdefaults.h"
#include "playback/albumselection.h"
#include "playback/audiocontroller.h"
#include "playback/audioengineadapter.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace calmcove {
namespace {

using namespace calmcove::test;

constexpr int rate = 44100;
constexpr double frequency = 440;
// 440 Hz completes a whole number of periods every 50 ms (2205 frames).
constexpr qint64 wholePeriods = 2205;
const double steadyStep = 2 * std::sin(std::numbers::pi * frequency / rate);
constexpr double stepTolerance = 1.06;

// One imported album, selected.
class OneAlbum : public AlbumSelection
{
public:
    explicit OneAlbum(CalmAlbum album) : m_album(std::move(album)) {}
    CalmAlbum selectedAlbum() const override { return m_album; }
    const CalmAlbum& builtInAlbum() const override { return m_builtIn; }
    QString selectedAlbumID() const override { return m_album.id; }
    void setSelectedAlbumID(const QString&) override {}

private:
    CalmAlbum m_album;
    CalmAlbum m_builtIn = TrackLibrary::builtInAlbum();
};

struct Recording
{
    std::vector<float> left;
    std::size_t start = 0; // first audible sample
    int joins = 0;         // the player moved to a track (or restarted one) by itself
};

class GaplessPlaybackTest : public ::testing::Test
{
protected:
    // An album of full-scale sines, one track per length (in 50 ms units).
    CalmAlbum sineAlbum(const QList<qint64>& lengths)
    {
        CalmAlbum album{QStringLiteral("sines"), QStringLiteral("Sines"), {}, NoArtwork{}, false};
        for (qsizetype i = 0; i < lengths.size(); ++i) {
            const QString path = writeSignal(m_folder, QStringLiteral("sine%1.wav").arg(i),
                                             QStringLiteral("sin(2*PI*%1*t)").arg(frequency),
                                             lengths[i] * wholePeriods, rate,
                                             {QStringLiteral("-c:a"), QStringLiteral("pcm_f32le")});
            EXPECT_FALSE(path.isEmpty());
            album.tracks.append(CalmTrack{QStringLiteral("S%1").arg(i), album.id,
                                          QStringLiteral("Sine %1").arg(i), QStringLiteral("Test"),
                                          double(lengths[i] * wholePeriods) / rate, everyMood(),
                                          CalmKind::all, FileAudio{path}});
        }
        return album;
    }

    // Plays the album from its first track until the player has moved on `joins` times
    // by itself, then half a second more.
    Recording playThrough(const CalmAlbum& album, int joins)
    {
        OfflineEngine offline;
        AudioEngineAdapter adapter(offline.engine());
        OneAlbum albums(album);
        InstalledLibrary library;
        UserDefaults defaults(m_folder.filePath(QStringLiteral("settings.conf")));
        AudioController controller(albums, library, adapter, defaults);
        // The mood's sound would colour the sine.
        controller.setPlaybackRate(1.0);
        controller.setLowGain(0);
        controller.setMidGain(0);
        controller.setHighGain(0);
        controller.setReverbMix(0);
        controller.setVolume(1.0);

        Recording recording;
        QObject::connect(&controller, &AudioController::currentTrackChanged,
                         [&recording] { ++recording.joins; });
        QObject::connect(&controller, &AudioController::positionJumped,
                         [&recording] { ++recording.joins; });
        controller.play();
        const bool done = offline.renderUntil(
            [&] {
                controller.updateClock(); // what the clock's timer does while playing
                return recording.joins >= joins;
            },
            qint64(60) * rate);
        EXPECT_TRUE(done) << recording.joins << " joins";
        offline.render(rate / 2);
        recording.left = offline.channel(0);
        recording.start = std::size_t(std::max<qint64>(0, firstAbove(recording.left, 0.01f)));
        return recording;
    }

    QTemporaryDir m_folder;
};

// The longest stretch of samples below -80 dBFS, in milliseconds. A full-scale sine has
// at most one such sample in a row.
double longestSilenceMs(const std::vector<float>& samples, std::size_t from, std::size_t to)
{
    std::size_t longest = 0, run = 0;
    for (std::size_t i = from; i < std::min(to, samples.size()); ++i) {
        run = std::fabs(samples[i]) < 1e-4f ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return 1000.0 * double(longest) / rate;
}

TEST_F(GaplessPlaybackTest, TrackEndsJoinWithoutSilenceOrAClick)
{
    const struct
    {
        const char* album;
        QList<qint64> lengths;
        int joins;
        double seconds; // played until the last join
    } cases[] = {
        // Longer than the preroll, so the repeat is queued while the track plays.
        {"one track repeating", {120}, 2, 12.0},
        {"two tracks in turn", {30, 20}, 3, 4.0},
    };
    for (const auto& [name, lengths, joins, seconds] : cases) {
        SCOPED_TRACE(name);
        const Recording heard = playThrough(sineAlbum(lengths), joins);
        ASSERT_EQ(heard.joins, joins);
        // From the end of the fade-in to the end of the last join's track's first part.
        const std::size_t from = heard.start + rate / 10;
        const std::size_t to = heard.start + std::size_t(seconds * rate) + rate / 4;
        ASSERT_GT(heard.left.size(), to);
        const double silence = longestSilenceMs(heard.left, from, to);
        const double step = largestStep(heard.left, from, to);
        EXPECT_LE(silence, 1.0);
        EXPECT_LE(step, steadyStep * stepTolerance);
        EXPECT_GE(step, steadyStep * 0.99) << "the sine is there";
    }
}

} // namespace
} // namespace calmcove
