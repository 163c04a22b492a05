#include "DbfTestUtil.h"
#include "TempAppDir.h"

#include "dbf/Table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

using namespace qev::dbf;
using namespace qev::dbf::test;

namespace {

std::vector<FieldDef> allTypes() {
    return {{"C_PED", 'N', 8, 0},   {"X_APE1", 'C', 15, 0},       {"F_NAC", 'D', 8, 0},  {"M_MENOR", 'L', 1, 0},
            {"X_NOTA", 'M', 10, 0}, {"B_HUELLA", 'B', 10, 0},     {"N_ENT", 'I', 4, 0},  {"N_DBL", 'O', 8, 0},
            {"F_TS", '@', 8, 0},    {"C_PAGO_DOMIC", 'C', 32, 0}, {"N_IMP", 'N', 10, 2}, {"N_AUTO", '+', 4, 0}};
}

std::unique_ptr<Table> make(const std::string& path, const std::vector<FieldDef>& f, CreateOptions o = {}) {
    auto t = Table::create(path, f, o);
    EXPECT_TRUE(t.ok()) << (t.ok() ? "" : t.error());
    return t.ok() ? std::move(t).value() : nullptr;
}

} // namespace

TEST(TableTest, LevelSevenFileFollowsTheOnDiskLayoutByteForByte) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("PED.DBF");
    auto t = make(path, allTypes());
    ASSERT_TRUE(t);
    const Record row = {
        Value(1234.0), Value("PEREZ"), Value(Date{1980, 5, 17}),
        Value(true),   Value("nota"),  Value(Bytes{std::string("\x00\x01\xFF", 3)}),
        Value(1),      Value(1.0),     Value(DateTime{Date{2024, 2, 29}, (13 * 3600 + 45 * 60 + 30) * 1000LL}),
        Value("ABC"),  Value(-3.5),    Value()};
    ASSERT_TRUE(t->append(row).ok());
    ASSERT_TRUE(t->append({Value(7.0), Value(), Value(), Value(), Value(), Value(), Value(-1), Value(-2.0)}).ok());
    t.reset();

    const std::string b = fileBytes(path);
    ASSERT_GE(b.size(), 68u);
    EXPECT_EQ(static_cast<unsigned char>(b[0]), 0x8C); // level 7 with memo
    EXPECT_EQ(le32(b, 4), 2u);
    const size_t nf = allTypes().size();
    EXPECT_EQ(le16(b, 8), 68 + 48 * nf + 1);
    EXPECT_EQ(b[29], '\0');
    EXPECT_EQ(b.substr(32, 9), std::string("DBWINUS0\0", 9));
    // Descriptors: name zero-filled in 32 bytes, then type, length, decimals.
    EXPECT_EQ(b.substr(68, 6), std::string("C_PED\0", 6));
    EXPECT_EQ(b[68 + 32], 'N');
    EXPECT_EQ(static_cast<unsigned char>(b[68 + 33]), 8);
    const size_t pagoDesc = 68 + 48 * 9;
    EXPECT_EQ(b.substr(pagoDesc, 13), std::string("C_PAGO_DOMIC\0", 13));
    EXPECT_EQ(static_cast<unsigned char>(b[pagoDesc + 33]), 32);
    EXPECT_EQ(static_cast<unsigned char>(b[68 + 48 * 10 + 34]), 2); // N_IMP decimals
    EXPECT_EQ(b[68 + 48 * nf], '\x0D');
    const size_t hl = le16(b, 8);
    const size_t rl = le16(b, 10);
    EXPECT_EQ(rl, 1u + 8 + 15 + 8 + 1 + 10 + 10 + 4 + 8 + 8 + 32 + 10 + 4);
    EXPECT_EQ(b.size(), hl + 2 * rl + 1);
    EXPECT_EQ(b.back(), '\x1A');

    const std::string r1 = b.substr(hl, rl);
    EXPECT_EQ(r1[0], ' ');
    EXPECT_EQ(r1.substr(1, 8), "    1234");
    EXPECT_EQ(r1.substr(9, 15), "PEREZ          ");
    EXPECT_EQ(r1.substr(24, 8), "19800517");
    EXPECT_EQ(r1[32], 'T');
    EXPECT_EQ(r1.substr(33, 10), "         1"); // first memo block
    EXPECT_EQ(hex(r1.substr(53, 4)), "80 00 00 01");
    EXPECT_EQ(hex(r1.substr(57, 8)), "BF F0 00 00 00 00 00 00");
    EXPECT_EQ(hex(r1.substr(65, 8)), "42 CD 08 86 38 10 48 00");
    EXPECT_EQ(r1.substr(105, 10), "     -3.50");
    EXPECT_EQ(hex(r1.substr(115, 4)), "80 00 00 01"); // autoincrement starts at 1
    const std::string r2 = b.substr(hl + rl, rl);
    EXPECT_EQ(r2.substr(9, 15), std::string(15, ' '));  // null text
    EXPECT_EQ(r2.substr(24, 8), std::string(8, ' '));   // null date
    EXPECT_EQ(r2[32], ' ');                             // null logical
    EXPECT_EQ(r2.substr(33, 10), std::string(10, ' ')); // no memo
    EXPECT_EQ(hex(r2.substr(53, 4)), "7F FF FF FF");
    EXPECT_EQ(hex(r2.substr(57, 8)), "3F FF FF FF FF FF FF FF");
    EXPECT_EQ(hex(r2.substr(65, 8)), "00 00 00 00 00 00 00 00"); // null timestamp
    EXPECT_EQ(hex(r2.substr(115, 4)), "80 00 00 02");

    const std::string m = fileBytes(dir.filePath("PED.DBT"));
    ASSERT_GE(m.size(), 1024u);
    EXPECT_EQ(le16(m, 20), 512);
    EXPECT_EQ(hex(m.substr(512, 8)), "FF FF 08 00 0C 00 00 00");
    EXPECT_EQ(m.substr(520, 4), "nota");
}

TEST(TableTest, ValuesAndNullsSurviveARoundTrip) {
    qev::test::TempAppDir dir;
    auto t = make(dir.filePath("t.dbf"), allTypes());
    ASSERT_TRUE(t);
    const Record full = {Value(99999999.0),
                         Value("ÑANDÚ O'HARA"),
                         Value(Date{2024, 2, 29}),
                         Value(false),
                         Value(std::string(3000, 'm')),
                         Value(Bytes{std::string(700, '\0') + "end"}),
                         Value(-2147483647),
                         Value(-1234.5678),
                         Value(DateTime{Date{1999, 12, 31}, 86399999}),
                         Value(std::string(32, 'Z')),
                         Value(1234567.89),
                         Value(41)};
    ASSERT_TRUE(t->append(full).ok());
    ASSERT_TRUE(t->append({Value(1.0), Value(""), Value(), Value()}).ok());
    auto a = t->read(1);
    ASSERT_TRUE(a.ok()) << a.error();
    EXPECT_EQ(a->values, full);
    auto b = t->read(2);
    ASSERT_TRUE(b.ok());
    for (size_t i = 1; i < b->values.size() - 1; ++i)
        EXPECT_TRUE(b->values[i].isNull()) << i;
    EXPECT_EQ(b->values.back(), Value(static_cast<int64_t>(1))); // autoincrement filled in
}

TEST(TableTest, WritesThatDoNotFitAreRefusedAndLeaveTheRowUntouched) {
    qev::test::TempAppDir dir;
    auto t = make(dir.filePath("t.dbf"), {{"X_APE1", 'C', 5, 0}, {"N_DOC", 'N', 4, 0}, {"F", 'D', 8, 0}});
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->append({Value("ABC"), Value(12.0), Value(Date{2020, 1, 1})}).ok());
    const std::string before = fileBytes(dir.filePath("t.dbf"));
    auto tooLong = t->update(1, {Value("ABCDEF"), Value(1.0), Value()});
    ASSERT_FALSE(tooLong.ok());
    EXPECT_NE(tooLong.error().find("X_APE1"), std::string::npos);
    EXPECT_NE(tooLong.error().find("record 1"), std::string::npos);
    EXPECT_FALSE(t->update(1, {Value("A"), Value(12345.0)}).ok());
    EXPECT_FALSE(t->update(1, {Value("Ω")}).ok()); // not in code page 1252
    EXPECT_FALSE(t->update(1, {Value("A"), Value(1.0), Value("2024-13-45")}).ok());
    EXPECT_FALSE(t->append({Value("toolongvalue")}).ok());
    EXPECT_EQ(fileBytes(dir.filePath("t.dbf")), before);
    EXPECT_EQ(t->recordCount(), 1u);
}

TEST(TableTest, FreedMemoRunsAreReusedAndUnchangedMemosKeepTheirBlocks) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("m.dbf");
    auto t = make(path, {{"K", 'N', 4, 0}, {"X_OBS", 'M', 10, 0}});
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->append({Value(1.0), Value(std::string(600, 'a'))}).ok()); // blocks 1-2
    ASSERT_TRUE(t->append({Value(2.0), Value(std::string(100, 'b'))}).ok()); // block 3
    auto pointerOf = [&](uint32_t recno) {
        std::string raw;
        EXPECT_TRUE(t->readRaw(recno, 1, raw).ok());
        return raw.substr(5, 10);
    };
    EXPECT_EQ(pointerOf(1), "         1");
    EXPECT_EQ(pointerOf(2), "         3");
    // A changed memo never overwrites its blocks: it goes to new ones (the end here) and frees the old run.
    ASSERT_TRUE(t->update(1, {Value(1.0), Value(std::string(700, 'c'))}).ok());
    EXPECT_EQ(pointerOf(1), "         4");
    // Too large for the freed run 1-2: to the end again; its blocks 4-5 head the free chain.
    ASSERT_TRUE(t->update(1, {Value(1.0), Value(std::string(2000, 'd'))}).ok());
    EXPECT_EQ(pointerOf(1), "         6");
    const auto sizeBefore = std::filesystem::file_size(dir.filePath("m.dbt"));
    ASSERT_TRUE(t->append({Value(3.0), Value(std::string(200, 'e'))}).ok());
    EXPECT_EQ(pointerOf(3), "         4"); // reused the first freed run
    ASSERT_TRUE(t->append({Value(4.0), Value(std::string(100, 'f'))}).ok());
    EXPECT_EQ(pointerOf(4), "         5"); // the rest of that run
    ASSERT_TRUE(t->append({Value(5.0), Value(std::string(10, 'g'))}).ok());
    EXPECT_EQ(pointerOf(5), "         1"); // the next run of the chain
    EXPECT_EQ(std::filesystem::file_size(dir.filePath("m.dbt")), sizeBefore);
    // Unchanged value: same pointer.
    ASSERT_TRUE(t->update(2, {Value(2.0), Value(std::string(100, 'b'))}).ok());
    EXPECT_EQ(pointerOf(2), "         3");
    const std::vector<std::string> expect = {std::string(2000, 'd'), std::string(100, 'b'), std::string(200, 'e'),
                                             std::string(100, 'f'), std::string(10, 'g')};
    for (uint32_t r = 1; r <= 5; ++r) {
        auto row = t->read(r);
        ASSERT_TRUE(row.ok()) << row.error();
        EXPECT_EQ(row->values[1].text(), expect[r - 1]) << r;
    }
    // Emptying a memo frees it and blanks the pointer.
    ASSERT_TRUE(t->update(5, {Value(5.0), Value()}).ok());
    EXPECT_EQ(pointerOf(5), std::string(10, ' '));
}

// Once as the tests run, once waiting for the disk after every post as the program does.
class DiskWaitTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { Table::setSyncDefault(GetParam()); }
    void TearDown() override { Table::setSyncDefault(false); }
};

TEST_P(DiskWaitTest, PackDropsDeletedRowsAndCompactsMemos) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("PEDP.DBF");
    auto t = make(path, {{"C_PED", 'N', 8, 0}, {"X_OBS", 'M', 10, 0}});
    ASSERT_TRUE(t);
    for (int i = 1; i <= 6; ++i)
        ASSERT_TRUE(t->append({Value(i), Value(std::string(300 * i, 'a' + i))}).ok());
    ASSERT_TRUE(t->setDeleted(2, true).ok());
    ASSERT_TRUE(t->setDeleted(5, true).ok());
    EXPECT_FALSE(t->pack().ok()); // shared open
    t.reset();
    const auto memoBefore = std::filesystem::file_size(dir.filePath("PEDP.DBT"));
    auto ex = Table::open(path, OpenMode::Exclusive);
    ASSERT_TRUE(ex.ok()) << ex.error();
    ASSERT_TRUE((*ex)->setIndex("C_PED").ok());
    ASSERT_TRUE((*ex)->pack().ok());
    EXPECT_EQ((*ex)->recordCount(), 4u);
    const int kept[] = {1, 3, 4, 6};
    for (uint32_t r = 1; r <= 4; ++r) {
        auto row = (*ex)->read(r);
        ASSERT_TRUE(row.ok()) << row.error();
        EXPECT_FALSE(row->deleted);
        EXPECT_EQ(row->values[0].number(), kept[r - 1]);
        EXPECT_EQ(row->values[1].text(),
                  std::string(static_cast<size_t>(300 * kept[r - 1]), static_cast<char>('a' + kept[r - 1])));
    }
    EXPECT_LT(std::filesystem::file_size(dir.filePath("PEDP.DBT")), memoBefore);
    auto found = (*ex)->find(Value(6));
    ASSERT_TRUE(found.ok());
    EXPECT_EQ(found->value_or(0), 4u);
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp~"));
}

INSTANTIATE_TEST_SUITE_P(TableTest, DiskWaitTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "waiting" : "not_waiting"; });

TEST(TableTest, AddingAndWideningFieldsKeepsEveryRowFlagAndMemo) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("PED.DBF");
    CreateOptions indexed;
    indexed.indexTags = {"C_PED", "N_CAUSA"};
    auto t = make(path, {{"C_PED", 'N', 5, 0}, {"N_CAUSA", 'C', 8, 0}, {"X_OBS", 'M', 10, 0}, {"N_IMP", 'N', 6, 2}},
                  indexed);
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->append({Value(1), Value("12345678"), Value("primera nota"), Value(12.5)}).ok());
    ASSERT_TRUE(t->append({Value(99999), Value("X"), Value(), Value(-1.25)}).ok());
    ASSERT_TRUE(t->setDeleted(2, true).ok());
    t.reset();

    ASSERT_TRUE(addField(path, {"M_MENOR", 'L', 1, 0}).ok());
    EXPECT_FALSE(addField(path, {"m_menor", 'L', 1, 0}).ok()); // exists already
    ASSERT_TRUE(widenField(path, "N_CAUSA", 15).ok());
    ASSERT_TRUE(widenField(path, "C_PED", 8).ok());
    EXPECT_FALSE(widenField(path, "N_CAUSA", 3).ok());

    auto r = Table::open(path);
    ASSERT_TRUE(r.ok());
    Table& tb = **r;
    EXPECT_EQ(tb.fields().size(), 5u);
    EXPECT_EQ(tb.fields()[1].length, 15);
    EXPECT_EQ(tb.fields()[0].length, 8);
    EXPECT_EQ(tb.fields()[4].name, "M_MENOR");
    // The production index follows the new layout: the widened text key is 15 bytes now, the deleted row keeps
    // its keys.
    EXPECT_TRUE(tb.hasMdxFlag());
    EXPECT_EQ(tb.indexTags(), (std::vector<std::string>{"C_PED", "N_CAUSA"}));
    const std::vector<std::string> problems = tb.checkIndexFile(true);
    EXPECT_TRUE(problems.empty()) << problems.front();
    auto a = tb.read(1);
    ASSERT_TRUE(a.ok()) << a.error();
    EXPECT_EQ(a->values[0], Value(1.0));
    EXPECT_EQ(a->values[1], Value("12345678"));
    EXPECT_EQ(a->values[2], Value("primera nota"));
    EXPECT_EQ(a->values[3], Value(12.5));
    EXPECT_TRUE(a->values[4].isNull());
    auto b = tb.read(2);
    ASSERT_TRUE(b.ok());
    EXPECT_TRUE(b->deleted);
    EXPECT_EQ(b->values[0], Value(99999.0));
    EXPECT_EQ(b->values[3], Value(-1.25));
    std::string raw;
    ASSERT_TRUE(tb.readRaw(1, 1, raw).ok());
    EXPECT_EQ(raw.substr(1, 8), "       1"); // numbers stay right-justified after widening
    ASSERT_TRUE(
        tb.update(1, {Value(1), Value("123456789012345"), Value("primera nota"), Value(12.5), Value(false)}).ok());
}

TEST(TableTest, KeyIndexOrdersRowsAndSeesRowsOfOtherOpens) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("org.DBF");
    auto t = make(path, {{"C_ORG", 'N', 8, 0}, {"X_ORG", 'C', 20, 0}});
    ASSERT_TRUE(t);
    for (int k : {30, 10, 20})
        ASSERT_TRUE(t->append({Value(k), Value("ORG " + std::to_string(k))}).ok());
    ASSERT_TRUE(t->setIndex("c_org").ok());
    auto order = t->orderedRecords();
    ASSERT_TRUE(order.ok());
    EXPECT_EQ(*order, (std::vector<uint32_t>{2, 3, 1}));

    auto other = Table::open(path);
    ASSERT_TRUE(other.ok());
    ASSERT_TRUE((*other)->append({Value(15), Value("OTRO")}).ok());
    auto f = t->find(Value(15));
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(f->value_or(0), 4u);
    // A row another open deleted or changed is not answered from the stale in-memory key.
    ASSERT_TRUE((*other)->setDeleted(2, true).ok());
    ASSERT_TRUE((*other)->update(3, {Value(25), Value("CAMBIADO")}).ok());
    EXPECT_FALSE(t->find(Value(10))->has_value());
    EXPECT_FALSE(t->find(Value(20))->has_value());
    EXPECT_EQ(t->find(Value(25))->value_or(0), 3u);
    ASSERT_TRUE(t->rebuildIndex().ok());
    EXPECT_EQ(*t->orderedRecords(), (std::vector<uint32_t>{4, 3, 1}));
    EXPECT_FALSE(t->find(Value(99))->has_value());
}

TEST(TableTest, TextUsesTheTableCodePage) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("cp.dbf");
    auto t = make(path, {{"X", 'C', 10, 0}});
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->append({Value("ÑANDÚ€")}).ok());
    t.reset();
    std::string b = fileBytes(path);
    const size_t hl = le16(b, 8);
    EXPECT_EQ(hex(b.substr(hl + 1, 6)), "D1 41 4E 44 DA 80");
    // The same bytes under a DOS language driver read as other letters.
    b.replace(32, 8, "DB850US0");
    b[hl + 1] = static_cast<char>(0xA5); // Ñ in code page 850
    writeBytes(path, b);
    auto r = Table::open(path);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ((*r)->codepageName(), "cp850");
    EXPECT_EQ((*r)->read(1)->values[0].text().substr(0, 2), "Ñ");
}

TEST(TableTest, CompanionFilesAreFoundWhateverTheCaseOfTheirNames) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("PED.DBF");
    auto t = make(path, {{"X_OBS", 'M', 10, 0}});
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->append({Value("texto")}).ok());
    t.reset();
    std::filesystem::rename(dir.filePath("PED.DBT"), dir.filePath("PED.dbt"));
    auto r = Table::open(dir.filePath("ped.dbf")); // the table name's case differs too
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_EQ((*r)->read(1)->values[0], Value("texto"));
    bool exists = false;
    EXPECT_EQ(companionFile(path, ".DBT", &exists), dir.filePath("PED.dbt"));
    EXPECT_TRUE(exists);
    EXPECT_EQ(companionFile(path, "_bak.mdx", &exists), dir.filePath("PED_bak.mdx"));
    EXPECT_FALSE(exists);
}

TEST(TableTest, ExclusiveAndSharedOpensRefuseEachOther) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("sec.dbf");
    auto t = make(path, {{"C_SEC", 'C', 10, 0}});
    ASSERT_TRUE(t);
    auto ex = Table::open(path, OpenMode::Exclusive);
    EXPECT_FALSE(ex.ok()); // t still holds it shared
    t.reset();
    ex = Table::open(path, OpenMode::Exclusive);
    ASSERT_TRUE(ex.ok());
    EXPECT_FALSE(Table::open(path, OpenMode::Shared).ok());
    EXPECT_FALSE(Table::open(path, OpenMode::ReadOnly).ok());
    EXPECT_FALSE(Table::open(path, OpenMode::Exclusive).ok());
}

// Packing reads the rows once: the key index comes out of that pass, and a table with nothing deleted is left
// exactly as it was. Each case deletes a different set of rows.
class PackPassTest : public ::testing::TestWithParam<std::vector<int>> {};

TEST_P(PackPassTest, IndexFromThePassMatchesAFreshOneAndCleanTablesStayUntouched) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("PED.DBF");
    auto t = make(path, {{"C_PED", 'N', 8, 0}, {"X_APE1", 'C', 12, 0}, {"X_OBS", 'M', 10, 0}});
    ASSERT_TRUE(t);
    // Keys out of row order, some repeated, one null, so that the order is the index's and not the file's.
    const int rows = 4500; // more than two blocks of the pass
    for (int i = 1; i <= rows; ++i) {
        const Value key = i == 7 ? Value() : Value((i * 7919) % 1000);
        ASSERT_TRUE(
            t->append({key, Value("N" + std::to_string(i)), Value(i % 500 == 0 ? "memo " + std::to_string(i) : "")})
                .ok());
    }
    const std::vector<int>& deleted = GetParam();
    for (int r : deleted)
        ASSERT_TRUE(t->setDeleted(static_cast<uint32_t>(r), true).ok());
    t.reset();
    const std::string before = fileBytes(path);
    const std::string memoBefore = fileBytes(dir.filePath("PED.DBT"));
    struct stat fileBefore {};
    ASSERT_EQ(::stat(path.c_str(), &fileBefore), 0);

    auto ex = Table::open(path, OpenMode::Exclusive);
    ASSERT_TRUE(ex.ok()) << ex.error();
    ASSERT_TRUE((*ex)->setIndex("C_PED", false).ok());
    ASSERT_TRUE((*ex)->pack().ok());
    auto packedOrder = (*ex)->orderedRecords();
    ASSERT_TRUE(packedOrder.ok());
    auto sevenFound = (*ex)->find(Value((3 * 7919) % 1000));
    ASSERT_TRUE(sevenFound.ok());
    ex.value().reset();

    auto fresh = Table::open(path, OpenMode::ReadOnly);
    ASSERT_TRUE(fresh.ok());
    EXPECT_EQ((*fresh)->recordCount(), static_cast<uint32_t>(rows) - deleted.size());
    ASSERT_TRUE((*fresh)->setIndex("C_PED").ok());
    EXPECT_EQ(*packedOrder, *(*fresh)->orderedRecords());
    EXPECT_EQ(*sevenFound, *(*fresh)->find(Value((3 * 7919) % 1000)));
    struct stat fileAfter {};
    ASSERT_EQ(::stat(path.c_str(), &fileAfter), 0);
    if (deleted.empty()) {
        EXPECT_EQ(fileAfter.st_ino, fileBefore.st_ino) << "a table with nothing deleted is not written anew";
        EXPECT_EQ(fileBytes(path), before);
        EXPECT_EQ(fileBytes(dir.filePath("PED.DBT")), memoBefore);
    } else {
        // Every kept row, memo included, in its old order.
        uint32_t at = 0;
        for (int i = 1; i <= rows; ++i) {
            if (std::find(deleted.begin(), deleted.end(), i) != deleted.end()) continue;
            auto row = (*fresh)->read(++at);
            ASSERT_TRUE(row.ok()) << row.error();
            ASSERT_EQ(row->values[1].text(), "N" + std::to_string(i)) << at;
            ASSERT_EQ(row->values[2].isNull() ? "" : row->values[2].text(),
                      i % 500 == 0 ? "memo " + std::to_string(i) : "");
        }
    }
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp~"));
}

INSTANTIATE_TEST_SUITE_P(DeletedRows, PackPassTest,
                         ::testing::Values(std::vector<int>{}, std::vector<int>{1}, std::vector<int>{4500},
                                           std::vector<int>{2048, 2049, 3000, 7}, std::vector<int>{4096, 500, 1000}));

TEST(TableTest, SharingAnExclusiveOpenLetsOthersInAndKeepsItsIndex) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("ORG.DBF");
    auto t = make(path, {{"C_ORG", 'N', 5, 0}});
    ASSERT_TRUE(t);
    for (int i = 3; i >= 1; --i)
        ASSERT_TRUE(t->append({Value(i)}).ok());
    t.reset();
    auto ex = Table::open(path, OpenMode::Exclusive);
    ASSERT_TRUE(ex.ok());
    ASSERT_TRUE((*ex)->setIndex("C_ORG").ok());
    EXPECT_FALSE(Table::open(path, OpenMode::Shared).ok());
    ASSERT_TRUE((*ex)->share().ok());
    EXPECT_FALSE((*ex)->exclusive());
    auto other = Table::open(path, OpenMode::Shared);
    ASSERT_TRUE(other.ok()) << other.error();
    EXPECT_FALSE(Table::open(path, OpenMode::Exclusive).ok()) << "the shared open still counts";
    // Rows the other open appends show up in the kept index.
    ASSERT_TRUE((*other)->append({Value(0)}).ok());
    EXPECT_EQ(*(*ex)->orderedRecords(), (std::vector<uint32_t>{4, 3, 2, 1}));
    EXPECT_FALSE((*ex)->pack().ok()) << "a shared open cannot pack";
}
