// Damaged tables give errors that name the file, the record and the field; the rest stays readable and nothing
// on disk changes unless the caller writes.
#include "DbfTestUtil.h"
#include "TempAppDir.h"

#include "dbf/Table.h"

#include <gtest/gtest.h>

using namespace qev::dbf;
using namespace qev::dbf::test;

namespace {

struct Fixture {
    qev::test::TempAppDir dir;
    std::string path = dir.filePath("PED.DBF");
    size_t headerLength = 0;
    size_t recordLength = 0;

    Fixture() {
        auto t = Table::create(path, {{"C_PED", 'N', 6, 0},
                                      {"N_DOC", 'N', 8, 0},
                                      {"F_NAC", 'D', 8, 0},
                                      {"M_ENV", 'L', 1, 0},
                                      {"X_OBS", 'M', 10, 0}});
        EXPECT_TRUE(t.ok());
        for (int i = 1; i <= 3; ++i) {
            EXPECT_TRUE(
                (*t)->append({Value(i), Value(1000 + i), Value(Date{2000, 1, i}), Value(true), Value("memo")}).ok());
        }
        const std::string b = fileBytes(path);
        headerLength = le16(b, 8);
        recordLength = le16(b, 10);
    }
    // Overwrites bytes of one field of record `recno` (fields start after the delete flag).
    void poke(uint32_t recno, size_t fieldOffset, const std::string& bytes) {
        std::string b = fileBytes(path);
        b.replace(headerLength + (recno - 1) * recordLength + 1 + fieldOffset, bytes.size(), bytes);
        writeBytes(path, b);
    }
};

void expectNamed(const std::string& error, const std::string& record, const std::string& field) {
    EXPECT_NE(error.find("PED.DBF"), std::string::npos) << error;
    EXPECT_NE(error.find(record), std::string::npos) << error;
    EXPECT_NE(error.find(field), std::string::npos) << error;
}

} // namespace

TEST(BadInputTest, DamagedFieldsNameFileRecordAndFieldAndSpareTheOtherRows) {
    struct Case {
        const char* name;
        size_t offset;
        std::string bytes;
        const char* field;
    };
    const Case cases[] = {
        {"non-numeric N", 6, "12AB5678", "N_DOC"},         {"impossible date", 14, "20241345", "F_NAC"},
        {"date with letters", 14, "2024-1-5", "F_NAC"},    {"bad logical", 22, "X", "M_ENV"},
        {"memo past the file", 23, "     99999", "X_OBS"}, {"memo pointer not a number", 23, "      12ab", "X_OBS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture fx;
        fx.poke(2, c.offset, c.bytes);
        const std::string before = fileBytes(fx.path);
        auto t = Table::open(fx.path);
        ASSERT_TRUE(t.ok()) << t.error();
        auto bad = (*t)->read(2);
        ASSERT_FALSE(bad.ok());
        expectNamed(bad.error(), "record 2", c.field);
        EXPECT_TRUE((*t)->read(1).ok());
        EXPECT_TRUE((*t)->read(3).ok());
        EXPECT_TRUE((*t)->readField(2, 0).ok()); // other fields of the damaged row stay readable
        EXPECT_EQ(fileBytes(fx.path), before);
    }
}

TEST(BadInputTest, DamagedHeadersAreRefusedWithTheFileName) {
    Fixture fx;
    const std::string good = fileBytes(fx.path);
    struct Case {
        const char* name;
        std::string bytes;
    };
    std::string unknownVersion = good;
    unknownVersion[0] = 0x02;
    std::string hugeHeader = good;
    hugeHeader[8] = '\xFF';
    hugeHeader[9] = '\x7F';
    std::string noTerminator = good;
    noTerminator[68 + 48 * 5] = 'Z';
    std::string shortRecords = good;
    shortRecords[10] = 5;
    shortRecords[11] = 0;
    const Case cases[] = {{"truncated header", good.substr(0, 20)},
                          {"truncated level 7 header", good.substr(0, 50)},
                          {"unknown version", unknownVersion},
                          {"header longer than the file", hugeHeader},
                          {"field list without end mark", noTerminator},
                          {"record length below the fields", shortRecords},
                          {"empty file", std::string()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeBytes(fx.path, c.bytes);
        auto t = Table::open(fx.path);
        ASSERT_FALSE(t.ok());
        EXPECT_NE(t.error().find("PED.DBF"), std::string::npos) << t.error();
        EXPECT_EQ(fileBytes(fx.path), c.bytes);
    }
}

TEST(BadInputTest, RecordCountBeyondTheFileEndLeavesEarlierRowsReadableAndRefusesAppends) {
    Fixture fx;
    std::string b = fileBytes(fx.path);
    b[4] = 10; // claims ten rows, holds three
    writeBytes(fx.path, b);
    auto t = Table::open(fx.path);
    ASSERT_TRUE(t.ok());
    EXPECT_EQ((*t)->recordCount(), 10u);
    EXPECT_TRUE((*t)->read(3).ok());
    auto past = (*t)->read(5);
    ASSERT_FALSE(past.ok());
    EXPECT_NE(past.error().find("beyond the end"), std::string::npos);
    EXPECT_NE(past.error().find("PED.DBF"), std::string::npos);
    EXPECT_FALSE((*t)->append({Value(9)}).ok());
    EXPECT_EQ(fileBytes(fx.path), b);
}

TEST(BadInputTest, UnknownFieldTypesLeaveTheOtherFieldsUsable) {
    Fixture fx;
    std::string b = fileBytes(fx.path);
    b[68 + 48 * 1 + 32] = 'Q'; // N_DOC becomes a type nobody knows
    writeBytes(fx.path, b);
    auto t = Table::open(fx.path);
    ASSERT_TRUE(t.ok()) << t.error();
    auto row = (*t)->read(1);
    ASSERT_FALSE(row.ok());
    expectNamed(row.error(), "record 1", "N_DOC");
    EXPECT_EQ(*(*t)->readField(1, 0), Value(1.0));
    // Writing the row keeps the unknown field's bytes as they were.
    ASSERT_TRUE((*t)->update(1, {Value(11), Value(), Value(Date{2000, 1, 1}), Value(false), Value("memo")}).ok());
    const std::string after = fileBytes(fx.path);
    EXPECT_EQ(after.substr(fx.headerLength + 7, 8), b.substr(fx.headerLength + 7, 8));
    EXPECT_FALSE((*t)->update(1, {Value(11), Value(5)}).ok());
}

TEST(BadInputTest, MissingMemoFileIsReportedPerField) {
    Fixture fx;
    std::remove(fx.dir.filePath("PED.DBT").c_str());
    auto t = Table::open(fx.path);
    ASSERT_TRUE(t.ok());
    auto row = (*t)->read(1);
    ASSERT_FALSE(row.ok());
    expectNamed(row.error(), "record 1", "X_OBS");
    EXPECT_EQ(*(*t)->readField(1, 1), Value(1001.0));
}
