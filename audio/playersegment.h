#pragma once

// One scheduled frame range of a file as the three threads of the engine share it: the
// main thread owns it, the decoder thread fills its audio, the render thread plays it.

#include "media/audiofile.h"
#include "spscring.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>

namespace calmcove {

struct StereoFrame
{
    float left, right;
};

// Frames at one rate converted to another, rounded to nearest (as the decoder does).
inline qint64 framesAtRate(qint64 frames, int fromRate, int toRate)
{
    return fromRate > 0 ? (frames * toRate + fromRate / 2) / fromRate : 0;
}

// A gain in dB as the linear factor the render thread applies; dB outside ±60 is clamped.
inline float linearGain(double gainDb)
{
    return std::isfinite(gainDb) ? float(std::pow(10.0, std::clamp(gainDb, -60.0, 60.0) / 20.0))
                                 : 1.0f;
}

struct PlayerSegment
{
    PlayerSegment(quint64 segmentID, std::shared_ptr<const AudioFile> audioFile, qint64 start,
                  qint64 count, int outputRate, std::size_t ringFrames)
        : id(segmentID), file(std::move(audioFile)), startFrame(start), frameCount(count),
          outputLength(framesAtRate(count, file->sampleRate(), outputRate)), audio(ringFrames)
    {}

    // File frames played after readFrames output frames of this segment.
    qint64 fileFramesPlayed(qint64 readFrames) const
    {
        return outputLength > 0 ? readFrames * frameCount / outputLength : 0;
    }

    const quint64 id;
    const std::shared_ptr<const AudioFile> file;
    const qint64 startFrame, frameCount;     // file frames
    const qint64 outputLength;               // frames at the output rate
    SpscRing<StereoFrame> audio;             // decoder thread → render thread
    std::atomic<bool> decodeFinished{false}; // no more audio will come (set after the last write)
    std::atomic<bool> discarded{false};      // the main thread stopped it: stop decoding
    std::atomic<float> gain{1.0f};           // main thread → render thread: linear file gain
    qint64 framesRead = 0;                   // render thread only: output frames taken
};

// Main thread → render thread.
struct PlayerCommand
{
    enum class Type : std::uint8_t
    {
        schedule,
        play,
        pause,
        stop
    };
    Type type;
    PlayerSegment* segment = nullptr; // schedule only
    std::uint16_t generation = 0;     // stop only: the new sample-time generation
    // pause and stop: at once, without a fade, because the output has cut the sound short
    // with a fade of its own (the chain then forgets its effects' state too).
    bool cut = false;
};

// Render thread → decoder thread → main thread. After either event the render thread no
// longer touches the segment.
struct PlayerEvent
{
    enum class Type : std::uint8_t
    {
        finished, // its last frame has been played
        released  // dropped by a stop
    };
    Type type;
    quint64 segmentID;
};

} // namespace calmcove
