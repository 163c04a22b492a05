#include "../../tools/fuzz/ImageInfoHarness.h"
#include "TempAppDir.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace qev {
namespace {

// Every saved fuzzer input (seeds and former crashes) runs through the readers again under the test build.
TEST(ImageFuzzRegression, SavedInputsReadWithoutFault) {
    const QDir inputs(QStringLiteral(QEV_SOURCE_DIR "/tests/capture/data/fuzz/image"));
    const QStringList files = inputs.entryList(QDir::Files);
    ASSERT_FALSE(files.isEmpty());
    test::TempAppDir dir;
    for (const QString& name : files) {
        QFile f(inputs.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        SCOPED_TRACE(name.toStdString());
        fuzz::exerciseImageBytes(dir.filePath("input"), reinterpret_cast<const uint8_t*>(bytes.constData()),
                                 static_cast<size_t>(bytes.size()));
    }
}

} // namespace
} // namespace qev
