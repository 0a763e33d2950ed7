// Runs GoogleTest inside a QApplication (widget tests, offscreen unless a platform is
// named) with private XDG directories.

#include "support/tempxdg.h"

#include <gtest/gtest.h>
#include <QApplication>

int main(int argc, char** argv)
{
    const calmcove::test::TemporaryXdgDirectories xdg;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
