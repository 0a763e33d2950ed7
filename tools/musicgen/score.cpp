#include "score.h"

#include <algorithm>

namespace calmcove::musicgen {

void Score::sort()
{
    const auto byStart = [](const auto& a, const auto& b) { return a.start < b.start; };
    for (auto& notes : parts)
        std::stable_sort(notes.begin(), notes.end(), byStart);
    std::stable_sort(drums.begin(), drums.end(), byStart);
    std::stable_sort(stutters.begin(), stutters.end(), byStart);
    std::stable_sort(
        openness.begin(), openness.end(),
        [](const AutomationPoint& a, const AutomationPoint& b) { return a.frame < b.frame; });
}

float automationAt(const std::vector<AutomationPoint>& curve, std::int64_t frame)
{
    if (curve.empty())
        return 1.0f;
    if (frame <= curve.front().frame)
        return curve.front().value;
    for (std::size_t i = 1; i < curve.size(); ++i) {
        if (frame < curve[i].frame) {
            const AutomationPoint& a = curve[i - 1];
            const AutomationPoint& b = curve[i];
            const double t =
                static_cast<double>(frame - a.frame) / static_cast<double>(b.frame - a.frame);
            return static_cast<float>(a.value + t * (b.value - a.value));
        }
    }
    return curve.back().value;
}

} // namespace calmcove::musicgen
