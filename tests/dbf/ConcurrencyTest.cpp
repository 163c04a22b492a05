// Several processes share one table: appends and updates must never lose, duplicate or tear a row.
#include "TempAppDir.h"

#include "dbf/Table.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace qev::dbf;

namespace {

const QString kWorker = QStringLiteral(DBF_WORKER);

std::unique_ptr<Table> makeShared(const std::string& path) {
    auto t = Table::create(path, {{"TAG", 'C', 10, 0}, {"N", 'N', 8, 0}, {"X_OBS", 'M', 10, 0}});
    EXPECT_TRUE(t.ok());
    return t.ok() ? std::move(t).value() : nullptr;
}

// Starts a worker that opens the table and keeps it open; returns once it said whether it got it.
std::unique_ptr<QProcess> holder(const std::string& path, const char* mode) {
    auto p = std::make_unique<QProcess>();
    p->start(kWorker,
             {QStringLiteral("hold"), QString::fromStdString(path), QString::fromLatin1(mode), QStringLiteral("30")});
    EXPECT_TRUE(p->waitForReadyRead(10000));
    return p;
}

} // namespace

TEST(ConcurrencyTest, FourAppendersAndOneUpdaterLoseNothing) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("shared.dbf");
    ASSERT_TRUE(makeShared(path));
    std::vector<std::unique_ptr<QProcess>> procs;
    for (int w = 0; w < 4; ++w) {
        auto p = std::make_unique<QProcess>();
        p->start(kWorker, {QStringLiteral("append"), QString::fromStdString(path), QStringLiteral("1000"),
                           QStringLiteral("W%1").arg(w)});
        procs.push_back(std::move(p));
    }
    auto updater = std::make_unique<QProcess>();
    updater->start(kWorker, {QStringLiteral("update"), QString::fromStdString(path), QStringLiteral("600")});
    procs.push_back(std::move(updater));
    for (auto& p : procs) {
        ASSERT_TRUE(p->waitForFinished(120000));
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
    }

    auto t = Table::open(path, OpenMode::ReadOnly);
    ASSERT_TRUE(t.ok());
    ASSERT_EQ((*t)->recordCount(), 4000u);
    std::map<std::string, std::set<int>> seen;
    for (uint32_t r = 1; r <= 4000; ++r) {
        auto row = (*t)->read(r);
        ASSERT_TRUE(row.ok()) << row.error();
        const std::string tag = row->values[0].text();
        const int n = static_cast<int>(row->values[1].number());
        EXPECT_TRUE(seen[tag].insert(n).second) << "duplicate " << tag << " " << n;
        const std::string memo = row->values[2].text();
        if (memo.rfind("updated ", 0) == 0) {
            EXPECT_EQ(memo.substr(8, tag.size()), tag) << "record " << r;
        } else {
            std::string expect;
            for (int k = 0; k < 1 + n % 7; ++k)
                expect += "memo " + tag + " " + std::to_string(n) + ";";
            EXPECT_EQ(memo, expect) << "record " << r;
        }
    }
    ASSERT_EQ(seen.size(), 4u);
    for (const auto& [tag, ns] : seen) {
        EXPECT_EQ(ns.size(), 1000u) << tag;
        EXPECT_EQ(*ns.begin(), 0);
        EXPECT_EQ(*ns.rbegin(), 999);
    }
}

TEST(ConcurrencyTest, ReaderSeesRowsAppendedByAnotherProcessWithoutReopening) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("shared.dbf");
    auto reader = makeShared(path);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->recordCount(), 0u);
    QProcess p;
    p.start(kWorker,
            {QStringLiteral("append"), QString::fromStdString(path), QStringLiteral("25"), QStringLiteral("OTRO")});
    ASSERT_TRUE(p.waitForFinished(30000));
    ASSERT_EQ(p.exitCode(), 0);
    EXPECT_EQ(reader->recordCount(), 25u);
    auto last = reader->read(25);
    ASSERT_TRUE(last.ok());
    EXPECT_EQ(last->values[0], Value("OTRO"));
    ASSERT_TRUE(reader->setIndex("N").ok());
    EXPECT_EQ(reader->find(Value(24))->value_or(0), 25u);
}

TEST(ConcurrencyTest, ExclusiveOpenIsRefusedWhileAnotherProcessHoldsTheTable) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("sec.dbf");
    ASSERT_TRUE(makeShared(path));
    {
        auto p = holder(path, "shared");
        EXPECT_EQ(p->readLine().trimmed(), "ready");
        auto ex = Table::open(path, OpenMode::Exclusive);
        ASSERT_FALSE(ex.ok());
        EXPECT_NE(ex.error().find("in use"), std::string::npos);
        EXPECT_TRUE(Table::open(path, OpenMode::Shared).ok());
        p->kill();
        p->waitForFinished();
    }
    EXPECT_TRUE(Table::open(path, OpenMode::Exclusive).ok()); // the holder's death released it
    {
        auto p = holder(path, "exclusive");
        EXPECT_EQ(p->readLine().trimmed(), "ready");
        EXPECT_FALSE(Table::open(path, OpenMode::Shared).ok());
        EXPECT_FALSE(Table::open(path, OpenMode::Exclusive).ok());
        p->kill();
        p->waitForFinished();
    }
    // A second exclusive opener is refused at once rather than waiting.
    auto mine = Table::open(path, OpenMode::Exclusive);
    ASSERT_TRUE(mine.ok());
    QProcess p;
    p.start(kWorker,
            {QStringLiteral("hold"), QString::fromStdString(path), QStringLiteral("exclusive"), QStringLiteral("1")});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(p.readAllStandardOutput().startsWith("refused"));
}
