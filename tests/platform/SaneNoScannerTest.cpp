// The scanner port where SANE knows no scanner at all (its own test program, run over a configuration without
// backends: SANE reads its configuration once per process).
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "capture/ScanSetup.h"
#include "platform/SaneScanner.h"

#include <QFile>
#include <gtest/gtest.h>

namespace qev {
namespace {

TEST(SaneWithoutScannersTest, AScanWithNoScannerSaysSoAndWritesNothing) {
    ASSERT_TRUE(qEnvironmentVariable("SANE_CONFIG_DIR").endsWith(QStringLiteral("sane-empty.d")));
    test::TempAppDir dir;
    test::ScriptedPrompter prompter;
    platform::SaneScanner scanner;
    std::vector<capture::ScanSourceInfo> sources;
    EXPECT_TRUE(scanner.listSources(sources, nullptr));
    EXPECT_TRUE(sources.empty());
    capture::ScanSetup setup(scanner, dir.appDir(), prompter);
    const capture::ScanSetup::Result r = setup.scan();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("No hay ningún scanner conectado")});
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("OUT.TIF"))));
    EXPECT_FALSE(setup.scanning());
}

} // namespace
} // namespace qev
