#include "TempAppDir.h"
#include "core/OfficeSchema.h"

#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>
#include <set>

namespace qev {
namespace {

std::vector<std::unique_ptr<QProcess>> startWorkers(const QString& mode, const QString& dir, int processes, int each) {
    std::vector<std::unique_ptr<QProcess>> workers;
    for (int p = 0; p < processes; ++p) {
        auto w = std::make_unique<QProcess>();
        w->start(QStringLiteral(QEV_CORE_WORKER), {mode, dir, QStringLiteral("w%1").arg(p), QString::number(each)});
        workers.push_back(std::move(w));
    }
    return workers;
}

TEST(CrossProcess, EightProcessesDrawDistinctNumbersAndNoneIsLost) {
    test::TempAppDir dir;
    QString error;
    ASSERT_TRUE(createOfficeFolder(dir.path(), false, &error));
    constexpr int kProcesses = 8;
    constexpr int kEach = 500;
    auto workers = startWorkers(QStringLiteral("seq"), dir.path(), kProcesses, kEach);
    std::set<long long> seen;
    size_t total = 0;
    for (auto& w : workers) {
        ASSERT_TRUE(w->waitForFinished(180000));
        ASSERT_EQ(w->exitCode(), 0) << w->readAllStandardError().toStdString();
        const QList<QByteArray> lines = w->readAllStandardOutput().split('\n');
        for (const QByteArray& l : lines) {
            if (l.isEmpty()) continue;
            seen.insert(l.toLongLong());
            ++total;
        }
    }
    EXPECT_EQ(total, static_cast<size_t>(kProcesses * kEach));
    EXPECT_EQ(seen.size(), static_cast<size_t>(kProcesses * kEach)) << "no number given twice";
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(*seen.begin(), 1);
    EXPECT_EQ(*seen.rbegin(), kProcesses * kEach) << "no number skipped";

    auto sec = dbf::Table::open(dir.filePath("sec.dbf"), dbf::OpenMode::ReadOnly);
    ASSERT_TRUE(sec);
    EXPECT_EQ(sec.value()->read(1)->values[1].number(), kProcesses * kEach);
}

TEST(CrossProcess, ConcurrentLogWritersKeepEveryLineWhole) {
    test::TempAppDir dir;
    constexpr int kProcesses = 4;
    constexpr int kEach = 300;
    auto workers = startWorkers(QStringLiteral("log"), dir.path(), kProcesses, kEach);
    for (auto& w : workers) {
        ASSERT_TRUE(w->waitForFinished(60000));
        ASSERT_EQ(w->exitCode(), 0);
    }
    QFile f(dir.file(QStringLiteral("QevRegLog.log")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    std::set<QByteArray> unique;
    for (const QByteArray& l : lines) {
        if (l.isEmpty()) continue;
        ASSERT_TRUE(l.endsWith('\r')) << l.toStdString();
        ASSERT_TRUE(l.startsWith('w')) << l.toStdString();
        unique.insert(l);
    }
    EXPECT_EQ(unique.size(), static_cast<size_t>(kProcesses * kEach));
}

} // namespace
} // namespace qev
