#pragma once

// A small tmpfs of its own for tests of full disks and of moves across file systems:
// mounted in a fresh folder when the test runs as root, unmounted at the end. Without root
// it is not mounted and skipReason() says why.

#include <QString>
#include <QTemporaryDir>

namespace calmcove::test {

class SmallFileSystem
{
public:
    explicit SmallFileSystem(int mebibytes);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool isMounted() const { return m_mounted; }
    QString skipReason() const { return m_skipReason; }
    QString path() const { return m_folder.path(); }

private:
    QTemporaryDir m_folder;
    bool m_mounted = false;
    QString m_skipReason;
};

} // namespace calmcove::test
