#pragma once

// Effects of the mix, each processing whole blocks of a stereo bus: reverb, chorus, tape
// wobble, echo, stutter, tremolo, and the vinyl-crackle and rain beds. All memory is
// allocated at construction; process calls never allocate.

#include "dsp.h"
#include "random.h"
#include "score.h"

#include <array>
#include <cstdint>
#include <vector>

namespace calmcove::musicgen {

// A feedback delay network of eight lines behind a short input diffuser: a smooth, dense
// hall whose highs die faster than its lows.
class Reverb
{
public:
    // decaySeconds: RT60 at low frequencies; dampingHz: where the decay starts to speed up;
    // size: scales the line lengths (0.6 small … 1.4 large).
    Reverb(double decaySeconds, double dampingHz, double size, double predelaySeconds);
    // Reads the send bus and adds the wet signal to outLeft/outRight.
    void process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                 int frames);

private:
    static constexpr int lines = 8;
    std::array<DelayLine, lines> delay_;
    std::array<float, lines> length_{};
    std::array<float, lines> feedback_{};
    std::array<OnePoleLowpass, lines> damping_;
    std::array<DelayLine, 4> diffuser_;
    std::array<int, 4> diffuserLength_{};
    DelayLine predelay_;
    int predelayFrames_ = 0;
    Biquad inputHighpass_;
    std::uint32_t lfo_ = 0;
    std::uint32_t lfoStep_ = 0;
};

// Two modulated delay taps per side: thickens and widens pads and keys.
class Chorus
{
public:
    Chorus(double rateHz, double depthMs, double mix);
    void process(float* left, float* right, int frames);

private:
    DelayLine left_;
    DelayLine right_;
    std::uint32_t phase_ = 0;
    std::uint32_t step_ = 0;
    float base_ = 0;
    float depth_ = 0;
    float mix_ = 0;
};

// Slow wow, faster flutter and a drifting speed, as from a worn cassette deck; the same
// modulation on both sides so the stereo image holds.
class TapeWobble
{
public:
    // amount 0 … 1.
    TapeWobble(double amount, std::uint64_t seed);
    void process(float* left, float* right, int frames);

private:
    DelayLine left_;
    DelayLine right_;
    std::uint32_t wow_ = 0, wowStep_ = 0, flutter_ = 0, flutterStep_ = 0;
    float wowDepth_ = 0, flutterDepth_ = 0, driftDepth_ = 0;
    float drift_ = 0, driftTarget_ = 0;
    Random random_;
    float base_ = 0;
};

// A ping-pong echo with darkening repeats; adds its wet signal to the outputs.
class Echo
{
public:
    Echo(double delaySeconds, double feedback, double toneHz);
    void process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                 int frames);

private:
    DelayLine left_;
    DelayLine right_;
    int delay_ = 0;
    float feedback_ = 0;
    OnePoleLowpass toneLeft_;
    OnePoleLowpass toneRight_;
};

// Replays a just-played slice of a bus several times (a gentle glitch), with short
// fades at every slice edge so repeats never click.
class Stutter
{
public:
    Stutter();
    void process(const std::vector<StutterEvent>& events, std::int64_t blockStart, float* left,
                 float* right, int frames);

private:
    std::vector<float> historyLeft_;
    std::vector<float> historyRight_;
    std::int64_t written_ = 0;
    std::size_t next_ = 0;
    StutterEvent current_{};
    bool active_ = false;
};

// Stereo tremolo: the gentle amplitude sway of an electric piano's vibrato circuit.
class Tremolo
{
public:
    Tremolo(double rateHz, double depth);
    void process(float* left, float* right, int frames);

private:
    std::uint32_t phase_ = 0;
    std::uint32_t step_ = 0;
    float depth_ = 0;
};

// Gentle ducking keyed by the kick drum, so sustained parts breathe with the beat.
class KickDucker
{
public:
    // depth: gain reduction right at a kick (0.3 = about -3 dB); recoverySeconds: time
    // constant of the way back.
    KickDucker(double depth, double recoverySeconds);
    // Writes the gain of each frame of the block into `gain`.
    void process(const std::vector<DrumHit>& hits, std::int64_t blockStart, float* gain,
                 int frames);

private:
    std::size_t next_ = 0;
    float envelope_ = 0;
    float depth_ = 0;
    float recovery_ = 0;
    float attack_ = 0;
    float target_ = 0;
};

// Vinyl surface noise: sparse ticks, the odd pop and a soft hiss; level 0 … 1.
class VinylCrackle
{
public:
    VinylCrackle(double level, std::uint32_t seed);
    // Adds to left/right; gain scales the whole bed (fades).
    void process(float* left, float* right, int frames, float gain);

private:
    FastNoise noise_;
    float tickChance_ = 0;
    float hissLevel_ = 0;
    float tickLevel_ = 0;
    StateVariableFilter tickLeft_, tickRight_;
    OnePoleLowpass hissLeft_, hissRight_;
    DcBlocker hissHighLeft_, hissHighRight_;
    float popLeft_ = 0, popRight_ = 0;
};

// Rain on a window: broadband patter with slow gusts and single drops; level 0 … 1.
class RainBed
{
public:
    RainBed(double level, std::uint32_t seed);
    void process(float* left, float* right, int frames, float gain);

private:
    FastNoise noise_;
    std::array<float, 7> pinkLeft_{};
    std::array<float, 7> pinkRight_{};
    Biquad toneLeft_, toneRight_, highLeft_, highRight_;
    StateVariableFilter dropLeft_, dropRight_;
    float level_ = 0;
    float gust_ = 0.5f, gustTarget_ = 0.5f;
    float dropChance_ = 0;
};

} // namespace calmcove::musicgen
