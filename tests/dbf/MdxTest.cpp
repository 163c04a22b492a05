// Production indexes: key encoding, damaged files, the locks older workstations look at, and many changes from two
// processes at once, each checked with the independent decoder of the tests.
#include "../../tools/fuzz/MdxReadHarness.h"
#include "DbfTestUtil.h"
#include "MdxDecoder.h"
#include "TempAppDir.h"

#include "dbf/Locks.h"
#include "dbf/Table.h"

#include <QProcess>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include <atomic>
#include <random>
#include <set>
#include <thread>

using namespace qev::dbf;
using qev::dbf::test::fileBytes;
using qev::dbf::test::hex;
using qev::dbf::test::writeBytes;

namespace {

const QString kWorker = QStringLiteral(DBF_WORKER);

const std::vector<FieldDef> kFields = {{"C_PED", 'N', 8, 0}, {"X_APE1", 'C', 15, 0}};

std::unique_ptr<Table> makeIndexed(const std::string& path, Level level = Level::DBase7) {
    CreateOptions o;
    o.level = level;
    o.indexTags = {"C_PED", "X_APE1"};
    auto t = Table::create(path, kFields, o);
    EXPECT_TRUE(t.ok()) << (t.ok() ? "" : t.error());
    return t.ok() ? std::move(t).value() : nullptr;
}

// Every tag as the decoder reads it, against the rows: one key per record, in key order, each the record's own.
void expectTagsMatchRows(const std::string& tablePath, const std::string& mdxPath) {
    const qev::test::DecodedMdx m = qev::test::decodeMdx(mdxPath);
    ASSERT_TRUE(m.error.empty()) << m.error;
    ASSERT_EQ(m.tags.size(), 2u);
    auto t = Table::open(tablePath, OpenMode::ReadOnly);
    ASSERT_TRUE(t.ok()) << t.error();
    const uint32_t n = (*t)->recordCount();
    for (const auto& tag : m.tags) {
        const int field = (*t)->fieldIndex(tag.expression);
        ASSERT_GE(field, 0) << tag.expression;
        ASSERT_EQ(tag.keys.size(), n) << tag.name;
        std::set<uint32_t> records(tag.records.begin(), tag.records.end());
        EXPECT_EQ(records.size(), n) << tag.name << ": a record twice";
        for (size_t i = 0; i < tag.keys.size(); ++i) {
            auto row = (*t)->read(tag.records[i]);
            ASSERT_TRUE(row.ok()) << row.error();
            const Value& v = row->values[static_cast<size_t>(field)];
            if (tag.keyType == 'N') {
                const double k = qev::test::decodeBcdKey(tag.keys[i]);
                EXPECT_DOUBLE_EQ(k, v.isNull() ? 0.0 : v.number()) << tag.name << " key " << i;
                if (i > 0) {
                    EXPECT_LE(qev::test::decodeBcdKey(tag.keys[i - 1]), k) << tag.name << " order at " << i;
                }
            } else {
                std::string text = v.isNull() ? std::string() : v.text();
                text.resize(15, ' ');
                EXPECT_EQ(tag.keys[i], text) << tag.name << " key " << i;
                if (i > 0) {
                    EXPECT_LE(tag.keys[i - 1], tag.keys[i]) << tag.name << " order at " << i;
                }
            }
        }
    }
}

} // namespace

// Number keys as the notes' examples give them, and their order across signs and magnitudes.
TEST(MdxTest, NumberKeysAreBcdAndSortByValue) {
    const std::pair<const char*, const char*> cases[] = {
        {"    12.5", "36 0D 12 50"}, {"   -3.25", "35 8D 32 50"}, {" 1234.56", "38 19 12 34 56"},
        {"       0", "34 01 00 00"}, {"        ", "34 01 00 00"}, {"    0.05", "33 05 50 00"},
    };
    for (const auto& [text, want] : cases) {
        unsigned char k[12];
        mdxNumberKey(text, 8, k);
        const std::string got(reinterpret_cast<char*>(k), std::string(want).size() / 3 + 1);
        EXPECT_EQ(hex(got), want) << text;
    }
    const char* ascending[] = {"-1000", "-3.25", "-0.5", "0", "0.05", "0.5", "1", "12.5", "99", "1234.56"};
    unsigned char a[12];
    unsigned char b[12];
    for (size_t i = 0; i + 1 < std::size(ascending); ++i) {
        mdxNumberKey(ascending[i], static_cast<int>(std::strlen(ascending[i])), a);
        mdxNumberKey(ascending[i + 1], static_cast<int>(std::strlen(ascending[i + 1])), b);
        EXPECT_LT(compareMdxKeys('N', a, b, 12), 0) << ascending[i] << " < " << ascending[i + 1];
        EXPECT_GT(compareMdxKeys('N', b, a, 12), 0);
    }
}

// A damaged index is reported with file, tag and page, never hangs or crashes the writes, and the regeneration
// repairs it without losing a row.
struct Damage {
    const char* name;
    void (*apply)(std::string& mdx, uint32_t tagHeader, uint32_t root);
    const char* reported; // part of the check's text
};

class MdxDamageTest : public ::testing::TestWithParam<Damage> {};

TEST_P(MdxDamageTest, IsReportedAndRepairedByTheRegeneration) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("PED.DBF");
    {
        auto t = makeIndexed(path);
        ASSERT_TRUE(t);
        for (int i = 0; i < 700; ++i) // several leaves and an interior root in each tag
            ASSERT_TRUE(t->append({Value(1000 - i), Value("APE" + std::to_string(i % 97))}).ok());
    }
    const std::string mdxPath = companionFile(path, ".MDX");
    std::string mdx = fileBytes(mdxPath);
    const uint32_t tagHeader = qev::dbf::test::le32(mdx, 544); // first tag, C_PED
    const uint32_t root = qev::dbf::test::le32(mdx, tagHeader * 512);
    ASSERT_NE(qev::dbf::test::le32(mdx, root * 512 + 8 + qev::dbf::test::le32(mdx, root * 512) * 16), 0u)
        << "the root must be an interior block";
    GetParam().apply(mdx, tagHeader, root);
    writeBytes(mdxPath, mdx);

    auto t = Table::open(path, OpenMode::Shared);
    ASSERT_TRUE(t.ok()) << t.error();
    const std::vector<std::string> problems = (*t)->checkIndexFile(false);
    ASSERT_FALSE(problems.empty());
    EXPECT_NE(problems.front().find(GetParam().reported), std::string::npos) << problems.front();
    EXPECT_NE(problems.front().find("PED.MDX"), std::string::npos) << problems.front();
    // Rows are still written while the index is damaged.
    ASSERT_TRUE((*t)->append({Value(5), Value("NUEVO")}).ok());
    t.value().reset();

    auto ex = Table::open(path, OpenMode::Exclusive);
    ASSERT_TRUE(ex.ok()) << ex.error();
    ASSERT_TRUE((*ex)->regenerateIndexFile(false).ok());
    EXPECT_TRUE((*ex)->checkIndexFile(true).empty());
    EXPECT_EQ((*ex)->recordCount(), 701u);
    ex.value().reset();
    expectTagsMatchRows(path, mdxPath);
}

void putLe32(std::string& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
}

INSTANTIATE_TEST_SUITE_P(
    Damages, MdxDamageTest,
    ::testing::Values(
        Damage{"TruncatedInAPage", [](std::string& m, uint32_t, uint32_t) { m.resize(m.size() - 700); },
               "termina en medio de la página"},
        Damage{"PointerPastTheEnd", [](std::string& m, uint32_t, uint32_t root) { putLe32(m, root * 512 + 8, 90000); },
               "página 90000: la página está fuera del archivo"},
        Damage{"PointerBackUpTheTree",
               [](std::string& m, uint32_t, uint32_t root) { putLe32(m, root * 512 + 8, root); },
               "un puntero vuelve atrás"},
        Damage{"KeyLengthOfAnotherField", [](std::string& m, uint32_t header, uint32_t) { m[header * 512 + 12] = 8; },
               "no corresponde al campo"},
        Damage{"MoreKeysThanFit", [](std::string& m, uint32_t, uint32_t root) { putLe32(m, root * 512, 64); },
               "64 claves, más de las 63 que caben"}),
    [](const ::testing::TestParamInfo<Damage>& i) { return std::string(i.param.name); });

// An exclusive open holds the table as the old engine locks it whole; a record another workstation holds keeps
// the exclusive open out, and a writer waits for the index's lock before it changes a tag.
// A process that dies in the middle of a key's insertion must leave every other key reachable. A block that splits
// is written out as two new blocks, and only one block already in use is written in place: the ancestor that links
// the halves in (none when the root splits, whose pointer is in the tag header). So at any moment of a split the
// tree in the file is the old one or the new one.
TEST(MdxTest, ASplitRewritesInPlaceOnlyTheBlockThatLinksItsHalvesIn) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("SPLIT.DBF");
    const std::string mdx = dir.filePath("SPLIT.MDX");
    auto t = makeIndexed(path);
    ASSERT_TRUE(t);
    constexpr size_t kPage = 512;
    const auto tagHeaderPages = [](const std::string& file) {
        std::set<size_t> pages;
        const std::string b = fileBytes(file);
        const auto u32 = [&b](size_t at) {
            return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
                   static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
                   static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
                   static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
        };
        const size_t inUse = static_cast<unsigned char>(b[28]), stride = static_cast<unsigned char>(b[26]);
        for (size_t i = 0; i < inUse; ++i)
            pages.insert(u32(544 + i * stride));
        return pages;
    };
    std::mt19937 random(7);
    int splits = 0;
    for (int id = 1; id <= 400; ++id) {
        const std::string before = fileBytes(mdx);
        // Random names split blocks in the middle of the tree, growing numbers at its right edge.
        std::string name(8, ' ');
        for (char& c : name)
            c = static_cast<char>('A' + random() % 26);
        ASSERT_TRUE(t->append({Value(static_cast<double>(id)), Value(name)}));
        const std::string after = fileBytes(mdx);
        if (after.size() == before.size()) continue;
        ++splits;
        const std::set<size_t> headers = tagHeaderPages(mdx);
        // Blocks written in place: runs of changed pages (a block is two pages, of which one or both change).
        int rewritten = 0;
        bool inRun = false;
        for (size_t page = 4; page < before.size() / kPage; ++page) {
            const bool changed =
                !headers.count(page) && before.compare(page * kPage, kPage, after, page * kPage, kPage) != 0;
            rewritten += changed && !inRun ? 1 : 0;
            inRun = changed && !inRun;
        }
        // One key went into each of the two tags: the leaf of the tag that did not split, and the block that
        // links in the halves of the one that did.
        EXPECT_LE(rewritten, 2) << "append " << id;
    }
    EXPECT_GT(splits, 10);
    t.reset();
    expectTagsMatchRows(path, mdx);
}

TEST(MdxTest, WritesTakeTheOldEnginesLocks) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("PED.DBF");
    ASSERT_TRUE(makeIndexed(path));
    const int other = ::open(path.c_str(), O_RDWR | O_CLOEXEC); // another workstation's open of the same file
    ASSERT_GE(other, 0);
    {
        auto ex = Table::open(path, OpenMode::Exclusive);
        ASSERT_TRUE(ex.ok()) << ex.error();
        for (off_t at : {locks::recordOffset(1), locks::recordOffset(500000), locks::kBase, locks::kAppend})
            EXPECT_FALSE(locks::lock(other, at, 1, true, false)) << "offset " << at;
    }
    ASSERT_TRUE(locks::lock(other, locks::recordOffset(3), 1, true, false));
    EXPECT_FALSE(Table::open(path, OpenMode::Exclusive).ok());
    locks::unlock(other, locks::recordOffset(3), 1);
    ::close(other);

    auto t = Table::open(path, OpenMode::Shared);
    ASSERT_TRUE(t.ok());
    const std::string mdxPath = companionFile(path, ".MDX");
    const int mdxOther = ::open(mdxPath.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_TRUE(locks::lock(mdxOther, locks::kBase, 1, true, false));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        EXPECT_TRUE((*t)->append({Value(42), Value("ESPERA")}).ok());
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(done) << "the append changed the index without its lock";
    EXPECT_EQ(qev::test::decodeMdx(mdxPath).tags.at(0).keys.size(), 0u);
    locks::unlock(mdxOther, locks::kBase, 1);
    writer.join();
    ::close(mdxOther);
    EXPECT_TRUE(done);
    t.value().reset();
    expectTagsMatchRows(path, mdxPath);
}

// Two opens of one table, each keeping what it learnt of the tags between its own changes, take turns: whatever
// the other open did meanwhile (keys in the same leaf, a split in the middle of the last leaf, a new root, leaves
// emptied by moved keys), the next change must find the tag as the file holds it, never as it was kept.
struct Turn {
    int open;  // 0 or 1
    char what; // 'a' append above every key, 'i' append just below the highest key, 'u' move the first rows' keys
               // to the top, 'd' move the last rows' keys to the bottom
    int count;
};

struct Interleaving {
    const char* name;
    std::vector<Turn> turns;
};

void PrintTo(const Interleaving& i, std::ostream* os) {
    *os << i.name;
}

class MdxInterleavingTest : public ::testing::TestWithParam<Interleaving> {};

TEST_P(MdxInterleavingTest, EachOpenSeesTheOthersChanges) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("PED.DBF");
    ASSERT_TRUE(makeIndexed(path));
    std::unique_ptr<Table> opens[2];
    for (auto& o : opens) {
        auto t = Table::open(path, OpenMode::Shared);
        ASSERT_TRUE(t.ok()) << t.error();
        o = std::move(t).value();
    }
    auto row = [](int key) {
        char name[16];
        std::snprintf(name, sizeof name, "K%09d", key);
        return Record{Value(key), Value(name)};
    };
    int top = 0;    // highest key so far, a multiple of 100
    int bottom = 0; // keys moved down go below every other
    int below = 0;  // keys put just below the highest
    for (const Turn& turn : GetParam().turns) {
        Table& t = *opens[turn.open];
        const uint32_t n = t.recordCount();
        for (int k = 0; k < turn.count; ++k) {
            Result<void> r;
            if (turn.what == 'a' || turn.what == 'i') {
                auto a = t.append(row(turn.what == 'a' ? (top += 100) : top - 1 - (++below % 99)));
                if (!a) r = fail(a.error());
            } else {
                const auto recno = turn.what == 'u' ? static_cast<uint32_t>(k) + 1 : n - static_cast<uint32_t>(k);
                r = t.update(recno, row(turn.what == 'u' ? (top += 100) : --bottom));
            }
            ASSERT_TRUE(r.ok()) << r.error();
        }
        ASSERT_TRUE(t.hasIndexFile()) << t.indexFileProblem();
    }
    // The check opens the index afresh, so it comes only at the end.
    const std::vector<std::string> problems = opens[0]->checkIndexFile(true);
    EXPECT_TRUE(problems.empty()) << problems.front();
    for (auto& o : opens)
        o.reset();
    expectTagsMatchRows(path, companionFile(path, ".MDX"));
}

INSTANTIATE_TEST_SUITE_P(
    Turns, MdxInterleavingTest,
    ::testing::Values(
        Interleaving{"SameLeaf", {{0, 'a', 10}, {1, 'a', 3}, {0, 'a', 3}, {1, 'a', 1}}},
        // The other open splits the last leaf in the middle: the first one's leaf is no longer the last.
        Interleaving{"SplitBelowTheTop", {{0, 'a', 100}, {1, 'i', 40}, {0, 'a', 5}, {1, 'a', 2}, {0, 'i', 60}}},
        Interleaving{"NewRoot", {{0, 'a', 2400}, {1, 'i', 800}, {1, 'a', 600}, {0, 'a', 40}}},
        Interleaving{"LeavesEmptied", {{0, 'a', 300}, {1, 'd', 150}, {0, 'a', 20}, {1, 'u', 200}, {0, 'd', 30}}},
        Interleaving{"Alternating",
                     [] {
                         std::vector<Turn> v;
                         for (int i = 0; i < 150; ++i)
                             v.push_back({i % 2, i % 7 == 3 ? 'i' : (i % 11 == 5 ? 'u' : 'a'), 1 + i % 4});
                         return v;
                     }()}),
    [](const ::testing::TestParamInfo<Interleaving>& i) { return std::string(i.param.name); });

// Two processes append, change keys, delete and recall 10,000 times between them and pack twice each; every tag
// then holds exactly the keys a fresh regeneration writes, in the same order, and the regeneration itself is
// byte for byte repeatable.
TEST(MdxTest, TwoProcessesMixingChangesKeepEveryTagEqualToARegeneration) {
    for (const Level level : {Level::DBase7, Level::DBase4}) {
        qev::test::TempAppDir dir;
        const std::string path = dir.filePath("PED.DBF");
        ASSERT_TRUE(makeIndexed(path, level));
        std::vector<std::unique_ptr<QProcess>> procs;
        for (int w = 0; w < 2; ++w) {
            auto p = std::make_unique<QProcess>();
            p->start(kWorker, {QStringLiteral("mix"), QString::fromStdString(path), QString::number(7 + w),
                               QStringLiteral("5000")});
            procs.push_back(std::move(p));
        }
        for (auto& p : procs) {
            ASSERT_TRUE(p->waitForFinished(300000));
            EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
        }
        const std::string mdxPath = companionFile(path, ".MDX");
        EXPECT_EQ(fileBytes(mdxPath).substr(0, 1), std::string(1, level == Level::DBase7 ? '\x03' : '\x02'));
        {
            auto t = Table::open(path, OpenMode::ReadOnly);
            ASSERT_TRUE(t.ok());
            EXPECT_GT((*t)->recordCount(), 1000u);
            const std::vector<std::string> problems = (*t)->checkIndexFile(true);
            EXPECT_TRUE(problems.empty()) << problems.front();
        }
        expectTagsMatchRows(path, mdxPath);
        const qev::test::DecodedMdx kept = qev::test::decodeMdx(mdxPath);

        auto ex = Table::open(path, OpenMode::Exclusive);
        ASSERT_TRUE(ex.ok());
        bool written = true;
        ASSERT_TRUE((*ex)->regenerateIndexFile(false, &written).ok());
        EXPECT_FALSE(written) << "the kept index already holds what a regeneration writes";
        ASSERT_TRUE((*ex)->regenerateIndexFile(true).ok());
        const std::string first = fileBytes(mdxPath);
        ASSERT_TRUE((*ex)->regenerateIndexFile(true).ok());
        EXPECT_EQ(fileBytes(mdxPath), first);
        const qev::test::DecodedMdx fresh = qev::test::decodeMdx(mdxPath);
        ASSERT_EQ(fresh.tags.size(), kept.tags.size());
        for (size_t i = 0; i < fresh.tags.size(); ++i) {
            // Equal keys may sit in either order after key changes; the regeneration puts them by record.
            std::vector<std::pair<std::string, uint32_t>> a;
            std::vector<std::pair<std::string, uint32_t>> b;
            for (size_t k = 0; k < kept.tags[i].keys.size(); ++k)
                a.emplace_back(kept.tags[i].keys[k], kept.tags[i].records[k]);
            for (size_t k = 0; k < fresh.tags[i].keys.size(); ++k)
                b.emplace_back(fresh.tags[i].keys[k], fresh.tags[i].records[k]);
            std::stable_sort(a.begin(), a.end(), [&](const auto& x, const auto& y) {
                return compareMdxKeys(kept.tags[i].keyType, reinterpret_cast<const unsigned char*>(x.first.data()),
                                      reinterpret_cast<const unsigned char*>(y.first.data()),
                                      kept.tags[i].keyLength) < 0 ||
                       (x.first == y.first && x.second < y.second);
            });
            EXPECT_EQ(a, b) << fresh.tags[i].name;
        }
    }
}

// Sound index files with bytes changed at random, truncated or grown: whatever the damage, the reader neither
// hangs nor crashes, and the regeneration leaves a clean index with every row.
TEST(MdxTest, RandomlyDamagedIndexesAreAlwaysRepaired) {
    qev::test::TempAppDir dir;
    const std::string folder = dir.path().toStdString();
    ASSERT_TRUE(qev::fuzz::exerciseIndexBytes(folder, nullptr, 0));
    // A sound index of the harness's table, with enough keys for an interior level.
    std::string sound;
    {
        qev::test::TempAppDir other;
        const std::string path = other.filePath("I.DBF");
        auto t = makeIndexed(path);
        ASSERT_TRUE(t);
        for (int i = 0; i < qev::fuzz::kIndexHarnessRows; ++i)
            ASSERT_TRUE(t->append(qev::fuzz::indexHarnessRow(i)).ok());
        sound = fileBytes(companionFile(path, ".MDX"));
    }
    // Nothing stays open from one round to the next: an open file left behind per regeneration would, in a
    // program that runs all day, end in no table opening at all.
    auto openFiles = [] {
        std::error_code ec;
        auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
        return std::distance(it, std::filesystem::directory_iterator());
    };
    const auto filesBefore = openFiles();
    std::mt19937 rng(3);
    for (int round = 0; round < 300; ++round) {
        std::string bytes = sound;
        const int changes = 1 + static_cast<int>(rng() % 8);
        for (int c = 0; c < changes; ++c) {
            // Mostly the header, tag headers and the first nodes, where the structure lives.
            const size_t at = rng() % std::min<size_t>(bytes.size(), c % 2 ? 4096 : bytes.size());
            bytes[at] = static_cast<char>(rng());
        }
        if (round % 10 == 0) bytes.resize(rng() % bytes.size());
        if (round % 17 == 0) bytes += std::string(rng() % 1500, static_cast<char>(rng()));
        EXPECT_TRUE(qev::fuzz::exerciseIndexBytes(folder, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()))
            << "round " << round;
    }
    EXPECT_EQ(openFiles(), filesBefore);
}
