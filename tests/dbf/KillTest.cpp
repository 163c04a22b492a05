// A process posting to a table is killed (SIGKILL) at a random moment, two hundred times per kind of post. After
// every kill the table opens, the full check finds nothing wrong, every post acknowledged before the kill is there,
// and every row is whole: its name and its memo belong to the same post.
#include "KillProcess.h"
#include "KillWorker.h"
#include "TempAppDir.h"

#include "../../tools/qevdb/TableCheck.h"
#include "dbf/Table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>

using namespace qev::dbf;

namespace {

constexpr int kKills = 200;
constexpr int kRows = 40; // rows the table starts with, for the kinds that change existing rows

struct Parsed {
    long id = 0;
    long version = 0;
};

// "N<id>v<version>"; nothing when the name is not of that form.
std::optional<Parsed> parseName(const std::string& name) {
    long id = 0, version = 0;
    char tail = 0;
    if (std::sscanf(name.c_str(), "N%ldv%ld%c", &id, &version, &tail) != 2) return std::nullopt;
    return Parsed{id, version};
}

struct Seen {
    uint32_t recno;
    bool deleted;
    Parsed post;
};

// Every row, checked whole; a row whose memo belongs to another post than its name fails the test.
std::vector<Seen> readWholeRows(Table& t) {
    std::vector<Seen> rows;
    for (uint32_t r = 1; r <= t.recordCount(); ++r) {
        auto row = t.read(r);
        EXPECT_TRUE(row.ok()) << row.error();
        if (!row) continue;
        const auto post = parseName(row->values[1].text());
        EXPECT_TRUE(post) << "record " << r << ": " << row->values[1].text();
        if (!post) continue;
        EXPECT_EQ(static_cast<long>(row->values[0].number()), post->id) << "record " << r;
        EXPECT_EQ(row->values[2].text(), qev::test::killWorkerMemo(post->id, post->version))
            << "record " << r << ": the memo is not the one of " << row->values[1].text();
        rows.push_back({r, row->deleted, *post});
    }
    return rows;
}

// What the posts acknowledged so far promise, and the first number the next worker may use.
struct Model {
    std::set<long> appended;          // ids acknowledged appended
    std::set<long> deletedIds;        // ids acknowledged deleted (pack)
    std::map<uint32_t, long> version; // update: acknowledged version per record
    std::map<uint32_t, bool> flag;    // delete: acknowledged flag per record
    int fieldWidth = 0;               // restructure: acknowledged width of F1 (0: absent)
    long next = 1;
};

void apply(Model& m, const std::string& ack) {
    std::istringstream in(ack);
    std::string what;
    in >> what;
    if (what == "A") {
        long id = 0;
        in >> id;
        m.appended.insert(id);
        m.next = std::max(m.next, id + 1);
    } else if (what == "U") {
        uint32_t recno = 0;
        long version = 0;
        in >> recno >> version;
        m.version[recno] = version;
        m.next = std::max(m.next, version + 1);
    } else if (what == "D") {
        long a = 0, b = -1;
        in >> a >> b;
        if (b < 0) {
            m.deletedIds.insert(a);
        } else {
            m.flag[static_cast<uint32_t>(a)] = b == 1;
        }
    } else if (what == "F") {
        in >> m.fieldWidth;
    }
}

Result<std::unique_ptr<Table>> makeTable(const std::string& path) {
    CreateOptions o;
    o.indexTags = {"C_PED", "X_APE1"};
    return Table::create(path, {{"C_PED", 'N', 10, 0}, {"X_APE1", 'C', 24, 0}, {"X_OBS", 'M', 10, 0}}, o);
}

class KillTest : public ::testing::TestWithParam<const char*> {};

TEST_P(KillTest, AcknowledgedPostsSurviveAndTheTableChecksClean) {
    const std::string kind = GetParam();
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("KILL.DBF");
    Model model;
    {
        auto t = makeTable(path);
        ASSERT_TRUE(t) << t.error();
        const int rows = kind == "append" || kind == "pack" ? 0 : kRows;
        for (long id = 1; id <= rows; ++id) {
            ASSERT_TRUE((*t)->append({Value(static_cast<double>(id)), Value(qev::test::killWorkerName(id, 0)),
                                      Value(qev::test::killWorkerMemo(id, 0))}));
            model.appended.insert(id);
            model.version[static_cast<uint32_t>(id)] = 0;
            model.flag[static_cast<uint32_t>(id)] = false;
        }
        model.next = rows + 1;
    }
    // From the worker's start-up to a few posts in.
    qev::test::KillDelay delay(static_cast<unsigned>(std::hash<std::string>()(kind)), 25000, 4000, 400000, 1500);
    for (int round = 0; round < kKills; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const auto r = qev::test::runAndKill(DBF_KILL_WORKER, {kind, path, std::to_string(model.next)}, delay.next());
        ASSERT_TRUE(r.killed()) << "the worker was not killed: " << r.ending();
        delay.after(r.lines.size(), 8);
        for (const std::string& a : r.lines)
            apply(model, a);

        // Before anything opens the table, the check finds it sound or says that a change was cut short (and its
        // index problems wait for the next open for writing); after that open it is sound.
        const auto left = qev::tools::checkTable(QString::fromStdString(path));
        const QString leftText = left.problems.join(QStringLiteral("\n"));
        if (leftText.contains(QStringLiteral(".MDX"))) {
            EXPECT_TRUE(leftText.contains(QStringLiteral("un cambio quedó a medias"))) << leftText.toStdString();
        }
        // Opening for writing takes back what the killed process left half done.
        auto t = Table::open(path, OpenMode::Shared);
        ASSERT_TRUE(t) << t.error();
        const auto report = qev::tools::checkTable(QString::fromStdString(path));
        ASSERT_EQ(report.status, qev::tools::CheckReport::Status::Ok)
            << report.problems.join(QStringLiteral("\n")).toStdString();
        const std::vector<Seen> rows = readWholeRows(**t);
        ASSERT_FALSE(::testing::Test::HasFailure());
        for (const Seen& s : rows)
            model.next = std::max(model.next, (kind == "update" ? s.post.version : s.post.id) + 1);

        if (kind == "append" || kind == "pack") {
            std::set<long> present, live;
            for (const Seen& s : rows) {
                EXPECT_TRUE(present.insert(s.post.id).second) << "id " << s.post.id << " twice";
                if (!s.deleted) live.insert(s.post.id);
            }
            // The post under way when the worker died may have been a delete, done but not acknowledged.
            int gone = 0;
            for (long id : model.appended) {
                if (model.deletedIds.count(id) || live.count(id)) continue;
                ++gone;
                if (kind == "pack") model.deletedIds.insert(id);
            }
            EXPECT_LE(gone, kind == "pack" ? 1 : 0) << "acknowledged rows are gone";
        } else if (kind == "update") {
            int ahead = 0;
            for (const Seen& s : rows) {
                EXPECT_GE(s.post.version, model.version[s.recno]) << "record " << s.recno << " lost its update";
                if (s.post.version > model.version[s.recno]) ++ahead;
                model.version[s.recno] = s.post.version; // the post under way may be done, unacknowledged
            }
            EXPECT_LE(ahead, 1) << "more rows changed than the one post under way";
            ASSERT_EQ(rows.size(), static_cast<size_t>(kRows));
        } else if (kind == "delete") {
            int differ = 0;
            for (const Seen& s : rows) {
                if (s.deleted != model.flag[s.recno]) ++differ;
                model.flag[s.recno] = s.deleted;
            }
            EXPECT_LE(differ, 1) << "more flags differ than the one post under way";
        } else if (kind == "restructure") {
            const int width =
                (*t)->fieldIndex("F1") < 0 ? 0 : (*t)->fields()[static_cast<size_t>((*t)->fieldIndex("F1"))].length;
            const int after = model.fieldWidth == 0 ? 4 : model.fieldWidth == 4 ? 9 : 0;
            EXPECT_TRUE(width == model.fieldWidth || width == after)
                << "F1 is " << width << " wide, acknowledged " << model.fieldWidth;
            model.fieldWidth = width; // the post under way may have been done without its acknowledgement
            ASSERT_EQ(rows.size(), static_cast<size_t>(kRows));
        }
        ASSERT_FALSE(::testing::Test::HasFailure());
        // The appending kinds start again on a fresh table now and then, so that each round stays short.
        if ((kind == "append" || kind == "pack") && rows.size() > 300) {
            t->reset();
            for (const char* suffix : {".DBF", ".DBT", ".MDX", ".MDJ"})
                std::filesystem::remove(companionFile(path, suffix));
            ASSERT_TRUE(makeTable(path));
            model.appended.clear();
            model.deletedIds.clear();
        }
    }
    // The kills fell among the posts, not only before the first.
    std::printf("%d of %d kills fell after an acknowledged step\n", delay.midway(), kKills);
    EXPECT_GT(delay.midway(), kKills / 2) << "of " << kKills << " kills";
}

INSTANTIATE_TEST_SUITE_P(Posts, KillTest, ::testing::Values("append", "update", "delete", "pack", "restructure"),
                         [](const ::testing::TestParamInfo<const char*>& p) { return std::string(p.param); });

} // namespace
