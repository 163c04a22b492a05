#include "requests/CaptureResults.h"
#include "TempAppDir.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <gtest/gtest.h>

namespace qev {
namespace {

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

TEST(CaptureResultsTest, OnlyAChangedCardOrANewerDocumentReplacesTheWorkFile) {
    test::TempAppDir dir;
    const QString edit = dir.file(QStringLiteral("edit.tif"));
    write(edit, "ficha anterior");
    const QString saved = dir.file(QStringLiteral("huella2.TIF"));
    QString error;

    write(saved, "ficha vista");
    EXPECT_FALSE(tomarFicha(dir.appDir(), saved, false, &error)) << "shown, not changed";
    EXPECT_EQ(contents(edit), "ficha anterior");
    EXPECT_FALSE(QFile::exists(saved));

    write(saved, "ficha nueva");
    EXPECT_TRUE(tomarFicha(dir.appDir(), saved, true, &error));
    EXPECT_EQ(contents(edit), "ficha nueva");
    EXPECT_FALSE(QFile::exists(saved));
    EXPECT_FALSE(tomarFicha(dir.appDir(), QString(), true, &error)) << "closed without saving";
    EXPECT_EQ(contents(edit), "ficha nueva");

    const QString doc = dir.file(QStringLiteral("4.tif"));
    const QString docu = dir.file(QStringLiteral("docu.tif"));
    write(doc, "documento guardado");
    const QDateTime before = QFileInfo(doc).lastModified();
    EXPECT_FALSE(tomarDocumento(dir.appDir(), doc, before, &error)) << "not newer";
    EXPECT_FALSE(QFile::exists(docu));
    EXPECT_FALSE(QFile::exists(doc));
    QThread::msleep(20);
    write(doc, "documento digitalizado");
    EXPECT_TRUE(tomarDocumento(dir.appDir(), doc, before, &error));
    EXPECT_EQ(contents(docu), "documento digitalizado");
    write(doc, "primer documento");
    EXPECT_TRUE(tomarDocumento(dir.appDir(), doc, QDateTime(), &error)) << "there was none before";
    EXPECT_EQ(contents(docu), "primer documento");
}

} // namespace
} // namespace qev
