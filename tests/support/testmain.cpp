// Runs GoogleTest inside a Qt application object with private XDG directories; tests
// that need the event loop spin it themselves.

#include "tempxdg.h"

#include <gtest/gtest.h>
#include <QCoreApplication>

int main(int argc, char** argv)
{
    const calmcove::test::TemporaryXdgDirectories xdg;
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
