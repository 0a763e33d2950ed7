#include "soundpreset.h"

namespace calmcove {

SoundPreset soundPreset(Mood mood)
{
    switch (mood) {
    case Mood::focus:
        return {2.5, -0.5, -1.0, 8.0, 1.0};
    case Mood::cozy:
        return {3.0, -1.0, -2.0, 16.0, 0.96};
    case Mood::rainy:
        return {1.5, -2.0, -3.0, 26.0, 0.94};
    case Mood::night:
        return {4.0, -2.5, -4.0, 20.0, 0.92};
    case Mood::sleepy:
        return {2.0, -3.0, -5.0, 28.0, 0.88};
    case Mood::boost:
        return {1.0, 1.5, 2.0, 6.0, 1.04};
    }
    return {};
}

} // namespace calmcove
