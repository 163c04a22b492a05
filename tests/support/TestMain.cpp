// Test entry point: Qt runs offscreen so window tests need no display.
#include <QCoreApplication>

#include "NoDiskWait.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    qev::test::skipDiskWaits();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
