// The stored shortcut table as the shortcut manager loads it: never crashes, what it
// accepts is read back unchanged once saved, and every key it yields can be shown and
// handed to the desktop portal and read back from it as the same combination.

#include "platform/portaltrigger.h"
#include "platform/virtualkeys.h"
#include "shortcuts/shortcutstorage.h"

#include <cstdlib>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

void checkEntry(calmcove::ShortcutAction action, calmcove::AppShortcut shortcut)
{
    if (calmcove::title(action).isEmpty() || shortcut.displayText().isEmpty())
        std::abort();
    const calmcove::HotkeyCombination combination{shortcut.keyCode, shortcut.modifiers};
    const QString trigger = calmcove::portalTrigger(combination);
    if (trigger.isEmpty())
        return; // a key without a keysym: the portal is not asked
    const auto reread = calmcove::parsePortalTrigger(trigger);
    // The trigger names the Carbon modifiers only; other bits stay in the store.
    const calmcove::HotkeyCombination known{shortcut.keyCode,
                                            shortcut.modifiers & calmcove::carbon::allModifiers};
    if (!reread || *reread != known)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray document(reinterpret_cast<const char*>(data), qsizetype(size));
    const calmcove::ShortcutTable table = calmcove::decodeShortcutTable(document);
    if (table.isEmpty())
        return 0;
    // Only an object yields entries, and each entry's action is one of its members.
    const QJsonObject object = QJsonDocument::fromJson(document).object();
    for (auto entry = table.begin(); entry != table.end(); ++entry) {
        if (!object.contains(calmcove::rawValue(entry.key())))
            std::abort();
        checkEntry(entry.key(), *entry);
    }
    const QByteArray encoded = calmcove::encodeShortcutTable(table);
    if (calmcove::decodeShortcutTable(encoded) != table ||
        calmcove::encodeShortcutTable(calmcove::decodeShortcutTable(encoded)) != encoded)
        std::abort();
    return 0;
}
