#pragma once

// Files that appear whole or not at all: bytes are written under a hidden partial name in
// the destination's own folder, flushed to disk and then renamed over the final name, which
// never sees a partial file (a rename never falls back to copying here). Any thread.

#include <atomic>
#include <optional>
#include <QString>

namespace calmcove {

// ".<file name>.partial" beside `finalPath`; nothing reads it as a track or picture.
QString partialPathFor(const QString& finalPath);
bool isPartialFileName(const QString& fileName);

// Flushes `path`'s bytes to disk. False with the reason when it cannot.
bool syncFile(const QString& path, QString* errorMessage);

// rename(2) of `from` onto `to`, both on one file system; fails rather than copying.
bool renameOnto(const QString& from, const QString& to, QString* errorMessage);

// Copies `source` to `target` in 1 MiB blocks through partialPathFor(target), synced and
// renamed into place; the bytes go to the disk as the copy goes, not all at the end. Stops
// between blocks once `cancelled` (may be null) is set. On failure nothing is left under
// either name and `errorMessage` says why. Blocks the calling thread: call it off the main
// thread for files of any size.
bool copyFileAtomically(const QString& source, const QString& target, QString* errorMessage,
                        const std::atomic<bool>* cancelled = nullptr);

// Moves `source` onto `target`: synced and renamed when both lie on one file system, else
// copied as copyFileAtomically() does and the source removed. Never a partial `target`.
bool moveFileAtomically(const QString& source, const QString& target, QString* errorMessage,
                        const std::atomic<bool>* cancelled = nullptr);

// Removes the partial files of earlier runs directly inside `folder`.
void removePartialFiles(const QString& folder);

} // namespace calmcove
