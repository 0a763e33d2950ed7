#pragma once

// The stored form of the shortcut table: a compact JSON object keyed by the actions' raw
// values, e.g. {"next":{"keyCode":124,"modifiers":6144}}.

#include "appshortcut.h"

#include <QByteArray>

namespace calmcove {

QByteArray encodeShortcutTable(const ShortcutTable& table);
// The table the data holds. Decoding is all or nothing: data that is not a JSON object of
// objects with unsigned 32-bit integers "keyCode" and "modifiers" in every member gives
// an empty table. Members with names that are no action are skipped.
ShortcutTable decodeShortcutTable(const QByteArray& data);

} // namespace calmcove
