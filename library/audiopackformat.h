#pragma once

// The two documents the library server publishes — the index of packs and one manifest
// per pack — as records, with their decoding, validation, the version arithmetic that
// decides whether a pack fits this build, and the conversion of a manifest track into
// the shared track record. Pure functions: safe on any thread.

#include "library/audiopackerror.h"
#include "library/buildinfo.h"
#include "model/calmtrack.h"
#include "model/pathcomponent.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace calmcove {

struct AudioPackIndexEntry
{
    QString version; // also the name of the pack's directory
    QString minimumAppVersion;
    QUrl manifestURL;
    qint64 trackCount = 0;
    qint64 totalBytes = 0;
    std::optional<QString> publishedAt; // tie-break between equal versions
    std::optional<QString> tag;

    bool operator==(const AudioPackIndexEntry&) const = default;
};

struct AudioPackIndex
{
    std::optional<QString> generatedAt;
    std::optional<QString> latest; // informational; the pack is chosen by sorting
    QList<AudioPackIndexEntry> packs;

    bool operator==(const AudioPackIndex&) const = default;
};

struct AudioPackTrack
{
    QString id; // also the stem of the file name
    QString fileName;
    std::optional<QString> title;
    std::optional<QString> artist;
    std::optional<double> duration; // seconds
    std::optional<QList<QString>> moods;
    std::optional<QString> kind;
    qint64 byteCount = 0;
    QString sha256; // 64 hexadecimal digits, either case
    QUrl downloadURL;

    bool operator==(const AudioPackTrack&) const = default;

    // The shared track record of this track; `fallback` is the catalogue's record with the
    // same identifier, which fills what the manifest leaves out.
    CalmTrack calmTrack(const std::optional<CalmTrack>& fallback) const;
};

struct AudioPackManifest
{
    QString version; // a safe path component: names the pack's directory
    QString minimumAppVersion;
    QString generatedAt;
    qint64 trackCount = 0;
    qint64 totalBytes = 0;
    QList<AudioPackTrack> tracks; // album order of the default album

    bool operator==(const AudioPackManifest&) const = default;
};

// Decoding fails with a DecodingError on malformed JSON, a missing mandatory key, null
// for a mandatory key, a wrong JSON type, an integer that is not a whole signed 64-bit
// number, or a URL that does not parse. Unknown keys are ignored.
Result<AudioPackIndex> decodeAudioPackIndex(const QByteArray& json);
Result<AudioPackManifest> decodeAudioPackManifest(const QByteArray& json);

// The manifest as written to disk: pretty-printed, sorted keys, slashes not escaped,
// optional track keys only when present.
QByteArray encodeAudioPackManifest(const AudioPackManifest& manifest);

// The order of names in a file browser: runs of ASCII digits compare by value (9 < 10),
// the rest by the user's collation, case-insensitively. Returns -1, 0 or 1.
int standardCompare(const QString& a, const QString& b);

// The runs of numeric characters of `version` as integers ("1.10.2" → 1, 10, 2); a run
// that is not ASCII digits or does not fit 64 bits counts as 0.
QList<qint64> versionParts(const QString& version);
// Position by position, missing positions counting as 0: 1.2 equals 1.2.0, 1.10 > 1.9.
bool versionIsGreater(const QString& a, const QString& b);

// Both stop at the first failure, in the documented order, and return it; nothing when
// the document is valid. Names that become paths are checked with isSafePathComponent
// (model/pathcomponent.h). A manifest whose minimumAppVersion is greater than
// `compatibilityVersion` fails with unsupportedAppVersion.
std::optional<AudioPackError> validateIndex(const AudioPackIndex& index);
std::optional<AudioPackError>
validateManifest(const AudioPackManifest& manifest,
                 const QString& compatibilityVersion = BuildInfo::current().compatibilityVersion());

// "rainy-window-loop" → "Rainy Window Loop".
QString titleFromTrackID(const QString& id);
// `text` trimmed of white space and line breaks, or nothing when that is empty.
std::optional<QString> trimmedNilIfEmpty(const QString& text);

} // namespace calmcove
