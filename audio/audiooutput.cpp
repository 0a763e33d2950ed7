#include "audiooutput.h"

#include "nulloutput.h"
#include "pulseoutput.h"

namespace calmcove {

std::unique_ptr<AudioOutput> createAudioOutput(const QString& name)
{
    if (name == QLatin1String("pulse"))
        return std::make_unique<PulseOutput>();
    if (name == QLatin1String("null"))
        return std::make_unique<NullOutput>();
    return nullptr;
}

} // namespace calmcove
