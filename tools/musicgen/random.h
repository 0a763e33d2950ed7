#pragma once

// Deterministic randomness for the music generator: every choice of a piece comes from
// streams seeded by the track id, so the same id always renders the same audio on every
// machine. Standard-library distributions are avoided because their output differs
// between library versions.

#include <cstdint>
#include <string_view>
#include <vector>

namespace calmcove::musicgen {

// 64-bit FNV-1a of a text.
constexpr std::uint64_t hashText(std::string_view text, std::uint64_t hash = 0xcbf29ce484222325ull)
{
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

// A xoshiro256** generator. Not thread-safe; each renderer owns its streams.
class Random
{
public:
    explicit Random(std::uint64_t seed);
    // A stream for one purpose of one piece ("harmony", "drums"…), independent of the
    // others so a change in one part does not shift the choices of the rest.
    static Random stream(std::string_view trackId, std::string_view purpose)
    {
        return Random(hashText(purpose, hashText(trackId)));
    }

    std::uint64_t next();
    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    double uniform(double low, double high) { return low + (high - low) * uniform(); }
    // Uniform integer in [0, count); 0 when count <= 0.
    int below(int count);
    bool chance(double probability) { return uniform() < probability; }
    // An index drawn with the given relative weights.
    int weighted(const std::vector<double>& weights);

    template <typename T> const T& pick(const std::vector<T>& items)
    {
        return items[static_cast<std::size_t>(below(static_cast<int>(items.size())))];
    }

private:
    std::uint64_t state_[4];
};

// A tiny noise generator for inner loops: xorshift32, output in [-1, 1).
struct FastNoise
{
    std::uint32_t state = 0x9e3779b9u;

    explicit FastNoise(std::uint32_t seed = 0x9e3779b9u) : state(seed ? seed : 0x9e3779b9u) {}
    float next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<float>(static_cast<std::int32_t>(state)) * 0x1.0p-31f;
    }
    // Uniform in [0, 1).
    float unit() { return static_cast<float>(nextBits() >> 8) * 0x1.0p-24f; }
    std::uint32_t nextBits()
    {
        next();
        return state;
    }
};

} // namespace calmcove::musicgen
