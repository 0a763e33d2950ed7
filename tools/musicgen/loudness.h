#pragma once

// Loudness and peaks of interleaved stereo at 44.1 kHz, and the mastering that brings a
// piece to a target: ITU-R BS.1770 integrated loudness (K-weighting, 400 ms blocks with
// 75 % overlap, absolute gate at -70 LUFS, relative gate 10 LU below), true peak from
// 4x oversampling, and a look-ahead peak limiter.

#include <vector>

namespace calmcove::musicgen {

// Integrated loudness in LUFS; -70 or below (or -inf for silence) when nothing passes
// the absolute gate.
double integratedLoudness(const std::vector<float>& interleavedStereo);

// The highest inter-sample peak, in dBFS (dBTP); -inf for silence.
double truePeakDb(const std::vector<float>& interleavedStereo);

// Highest absolute sample value, linear.
float samplePeak(const std::vector<float>& interleavedStereo);

// Smoothly lowers the gain wherever a sample would exceed `ceiling` (linear), looking
// 3 ms ahead so no sample exceeds it, and recovering over about 150 ms.
void limitPeaks(std::vector<float>& interleavedStereo, float ceiling);

struct MasteringResult
{
    double loudness = 0; // LUFS after mastering
    double truePeak = 0; // dBTP after mastering
    double gainDb = 0;   // gain applied before limiting
};

// Scales the audio to targetLufs and keeps true peaks below ceilingDbtp, repeating the
// gain and limiting until both hold (within 0.1 LU) or a few rounds have passed.
// Silence stays untouched.
MasteringResult master(std::vector<float>& interleavedStereo, double targetLufs,
                       double ceilingDbtp);

} // namespace calmcove::musicgen
