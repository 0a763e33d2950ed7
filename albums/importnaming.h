#pragma once

// How imported files are named and recognised: titles from file names, the names of the
// copies in an album folder, and the rule that finds a track already in an album.

#include "model/calmtrack.h"

#include <optional>
#include <QStringList>

namespace calmcove {

// The file name without extension, "_", "-" and control characters turned into spaces,
// trimmed; "URL Track" when nothing is left.
QString trackTitle(const QString& fileName);

// `name` with every control character (ESC, BEL, newline, ...) made a space, so that a
// file name never drives a terminal or a label.
QString withoutControlCharacters(QString name);

// "NN-<sanitised base name>.<lower-case extension>" for the `number`-th (1-based) copy.
// The sanitised name keeps letters, digits, "-" and "_", turns everything else into "-",
// collapses "--" once and trims "-" at both ends: "My Song (live).mp3" as number 3 gives
// "03-My-Song-live.mp3".
QString copiedFileName(const QString& sourceFileName, int number);

// A title folded for comparison: case and diacritics ignored, runs of white space,
// "_" and "-" made one space, trimmed.
QString normalisedTitle(const QString& title);

// The index of the first track with the same normalised title and a compatible duration
// (either one 0 or less, or both positive within 2.0 s).
std::optional<qsizetype> duplicateTrackIndex(const QList<CalmTrack>& tracks, const QString& title,
                                             double duration);

// Orders file names as a file browser does: case-insensitive, numbers by value
// ("track2" before "track10"). Negative, zero or positive like strcmp.
int compareFileNames(QStringView a, QStringView b);
// Sorts file paths by their file names with compareFileNames.
void sortByFileName(QStringList& paths);

} // namespace calmcove
