#pragma once

// The folder a release archive was unpacked into (bin/calmcove beside share/calmcove),
// and how a new version replaces it: the new archive is unpacked beside the tree, its
// program must report the new version, and the two folders then trade places in one
// atomic exchange, so an interruption at any moment leaves one complete tree at the
// tree's path. What the exchange moved aside, and any unpacking an interruption left
// behind, lies beside the tree under ".<name>.update-*" until removeLeftovers().
// Main thread.

#include "model/expected.h"

#include <QCoro/QCoroTask>
#include <QString>

namespace calmcove {

// A new version unpacked and checked beside the tree, ready for the exchange.
struct StagedTree
{
    QString path;    // the new tree's folder
    QString version; // what its program reported
};

class InstallTree
{
public:
    // Marks a tree unpacked from a release archive; packaged installs (/usr) lack it.
    static inline const QString releaseMarker = QStringLiteral(".calmcove-release");

    explicit InstallTree(QString path);
    // The tree of the running program: the folder above its bin/.
    static InstallTree ofRunningProgram();

    const QString& path() const { return m_path; }

    // Whether the program may replace this tree: it carries the release marker, and the
    // user may write the tree, its bin/ and the folder holding it.
    bool canUpdateItself() const;

    // Removes what earlier installs left beside the tree: trees moved aside by an
    // exchange (the new one has started by the time this runs) and interrupted unpacking.
    void removeLeftovers() const;

    // Exchanges the tree with `staged` in one step (renameat2 RENAME_EXCHANGE); the old
    // tree then lies at staged.path, a leftover. Fails, changing nothing, where the file
    // system cannot exchange folders.
    Expected<bool, QString> exchange(const StagedTree& staged) const;

    // ".<name>.update-": the start of the names of folders that installs leave beside it.
    QString leftoverPrefix() const;

private:
    QString m_path;
};

// Unpacks the release archive (tar.xz, one top folder holding the release marker) beside
// `tree` and runs its bin/calmcove --version, which must print "calmcove <version>". On
// failure nothing is left beside the tree and the message says why. Awaits tar and the
// program; owns copies of its arguments, so its caller may go away meanwhile.
QCoro::Task<Expected<StagedTree, QString>> stageRelease(InstallTree tree, QString archivePath,
                                                        QString version);

} // namespace calmcove
