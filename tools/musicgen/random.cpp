#include "random.h"

namespace calmcove::musicgen {

namespace {

std::uint64_t splitMix(std::uint64_t& x)
{
    std::uint64_t z = (x += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

constexpr std::uint64_t rotateLeft(std::uint64_t x, int k)
{
    return (x << k) | (x >> (64 - k));
}

} // namespace

Random::Random(std::uint64_t seed)
{
    for (std::uint64_t& word : state_)
        word = splitMix(seed);
}

std::uint64_t Random::next()
{
    const std::uint64_t result = rotateLeft(state_[1] * 5, 7) * 9;
    const std::uint64_t t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = rotateLeft(state_[3], 45);
    return result;
}

int Random::below(int count)
{
    if (count <= 0)
        return 0;
    return static_cast<int>(uniform() * count);
}

int Random::weighted(const std::vector<double>& weights)
{
    double total = 0;
    for (const double w : weights)
        total += w;
    double x = uniform() * total;
    for (std::size_t i = 0; i < weights.size(); ++i) {
        x -= weights[i];
        if (x < 0)
            return static_cast<int>(i);
    }
    return static_cast<int>(weights.size()) - 1;
}

} // namespace calmcove::musicgen
