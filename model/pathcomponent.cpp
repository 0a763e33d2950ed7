#include "pathcomponent.h"

#include <QString>

namespace calmcove {

bool isSafePathComponent(QStringView value)
{
    const QStringView trimmed = value.trimmed();
    if (trimmed.isEmpty() || trimmed.size() != value.size())
        return false;
    if (value.startsWith(QLatin1Char('.')))
        return false;
    for (QChar character : value) {
        const char16_t code = character.unicode();
        if (code == u'/' || code == u'\\' || code == u':' || code < 0x20 || code == 0x7f)
            return false;
    }
    return true;
}

} // namespace calmcove
