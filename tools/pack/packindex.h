#pragma once

// The index document as the pack tool writes it: the encoder (the counterpart of the
// library's decoder) and the update that adds or replaces one pack. Pure functions.

#include "library/audiopackformat.h"

#include <optional>
#include <QByteArray>
#include <QString>

namespace calmcove {

// Pretty-printed with sorted keys and unescaped slashes, like the manifest; optional keys
// are written only when present.
QByteArray encodeAudioPackIndex(const AudioPackIndex& index);

// The version a client would pick first if every pack suited it: the newest by the
// file-browser order of versions (1.10 after 1.9), ties broken by the later publishedAt.
// None for an empty list.
std::optional<QString> newestPackVersion(const QList<AudioPackIndexEntry>& packs);

// `index` with `entry` in place of the entry of the same version (keeping its position),
// or appended; `generatedAt` set to `now` and `latest` to the newest version.
AudioPackIndex indexWithPack(AudioPackIndex index, const AudioPackIndexEntry& entry,
                             const QString& now);

} // namespace calmcove
