// Rewriting the office's SQL dialect for SQLite, without touching any file.
#include "dbf/sql/Dialect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

using namespace qev::dbf;
using namespace qev::dbf::sql;

namespace {

// Resolves every file to T<stem in lower case> and remembers what it was asked for.
struct RecordingResolver {
    std::vector<std::string> asked;
    TableResolver resolver() {
        return [this](const std::string& file) -> Result<std::string> {
            asked.push_back(file);
            std::string stem = file.substr(0, file.find('.'));
            std::transform(stem.begin(), stem.end(), stem.begin(), [](unsigned char c) { return std::tolower(c); });
            if (stem == "missing") return fail("table does not exist: " + file);
            return "T" + stem;
        };
    }
};

struct TranslationCase {
    const char* name;
    const char* statement;
    const char* expected;
    std::vector<std::string> tables;
};

class TranslationTest : public ::testing::TestWithParam<TranslationCase> {};

TEST_P(TranslationTest, RewritesTablesAndLiterals) {
    const TranslationCase& c = GetParam();
    RecordingResolver r;
    auto sql = translate(c.statement, r.resolver());
    ASSERT_TRUE(sql.ok()) << sql.error();
    EXPECT_EQ(*sql, c.expected);
    EXPECT_EQ(r.asked, c.tables);
}

INSTANTIATE_TEST_SUITE_P(
    Statements, TranslationTest,
    ::testing::Values(
        TranslationCase{"PurgeDelete",
                        "DELETE\nFROM \"pedp.dbf\" \nWHERE (c_est = \"C\") and (f_con < :f_con)",
                        "DELETE\nFROM Tpedp \nWHERE (c_est = 'C') and (f_con < :f_con)",
                        {"pedp.dbf"}},
        TranslationCase{"BareStem", "SELECT * FROM ped WHERE c_ped=5", "SELECT * FROM Tped WHERE c_ped=5", {"ped"}},
        TranslationCase{"JoinQuotedWithAliases",
                        "select ped.c_ped, org.x_org from \"ped.DBF\" ped, \"org.DBF\" org where ( ped.c_org = "
                        "org.c_org ) order by c_ped",
                        "select ped.c_ped, org.x_org from Tped ped, Torg org where ( ped.c_org = org.c_org ) order by "
                        "c_ped",
                        {"ped.DBF", "org.DBF"}},
        TranslationCase{"JoinKeyword",
                        "SELECT * FROM \"ped.dbf\" p JOIN \"org.dbf\" o ON p.c_org = o.c_org",
                        "SELECT * FROM Tped p JOIN Torg o ON p.c_org = o.c_org",
                        {"ped.dbf", "org.dbf"}},
        TranslationCase{"InsertInto",
                        "INSERT INTO \"org.dbf\" (C_ORG, X_ORG) VALUES (1, \"A, B\")",
                        "INSERT INTO Torg (C_ORG, X_ORG) VALUES (1, 'A, B')",
                        {"org.dbf"}},
        TranslationCase{"SubqueryInWhere",
                        "SELECT * FROM \"ped.dbf\" WHERE c_ped IN (SELECT c_ped FROM \"sup.dbf\" WHERE x_ape1 = \"A\")",
                        "SELECT * FROM Tped WHERE c_ped IN (SELECT c_ped FROM Tsup WHERE x_ape1 = 'A')",
                        {"ped.dbf", "sup.dbf"}},
        TranslationCase{"QuotedFileAsQualifier",
                        "SELECT \"ped.dbf\".c_ped, \"x\" FROM \"ped.dbf\"",
                        "SELECT Tped.c_ped, 'x' FROM Tped",
                        {"ped.dbf", "ped.dbf"}},
        TranslationCase{"SingleQuotesAndCommentsStay",
                        "SELECT 'it''s \"x\"' -- \"ped.dbf\"\nFROM ped /* \"a\" */ WHERE a = 'b'",
                        "SELECT 'it''s \"x\"' -- \"ped.dbf\"\nFROM Tped /* \"a\" */ WHERE a = 'b'",
                        {"ped"}},
        TranslationCase{
            "TrailingSemicolon", "DELETE FROM ped WHERE c_ped = 1;", "DELETE FROM Tped WHERE c_ped = 1;", {"ped"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(DialectTest, DoubleQuotedValuesBecomeSafeSingleQuotedText) {
    RecordingResolver r;
    // Doubled quotation marks stand for one; apostrophes are escaped; nothing inside the value reaches SQL.
    auto sql = translate("SELECT * FROM ped WHERE x = \"O'BRIEN\" AND y = \"A\"\"B\" AND z = \"'; DROP TABLE t; --\"",
                         r.resolver());
    ASSERT_TRUE(sql.ok()) << sql.error();
    EXPECT_EQ(*sql, "SELECT * FROM Tped WHERE x = 'O''BRIEN' AND y = 'A\"B' AND z = '''; DROP TABLE t; --'");

    const std::string typed = "X\" OR \"1\"=\"1";
    sql = translate("SELECT * FROM ped WHERE x_ape1 = " + quoteLiteral(typed), r.resolver());
    ASSERT_TRUE(sql.ok()) << sql.error();
    EXPECT_EQ(*sql, "SELECT * FROM Tped WHERE x_ape1 = 'X\" OR \"1\"=\"1'");
}

TEST(DialectTest, RefusesWhatIsNotOneSupportedStatement) {
    RecordingResolver r;
    EXPECT_FALSE(translate("SELECT * FROM ped WHERE x = \"open", r.resolver()).ok());
    EXPECT_FALSE(translate("SELECT * FROM ped /* open", r.resolver()).ok());
    EXPECT_FALSE(translate("SELECT * FROM ped; DELETE FROM ped", r.resolver()).ok());
    EXPECT_FALSE(translate("   ", r.resolver()).ok());
    auto missing = translate("SELECT * FROM \"missing.dbf\"", r.resolver());
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), "table does not exist: missing.dbf");

    EXPECT_EQ(*statementKind("select 1"), StatementKind::Select);
    EXPECT_EQ(*statementKind("\n DELETE\nFROM x"), StatementKind::Delete);
    EXPECT_EQ(*statementKind("Update x set a=1"), StatementKind::Update);
    EXPECT_EQ(*statementKind("INSERT INTO x VALUES (1)"), StatementKind::Insert);
    EXPECT_EQ(*statementKind("ALTER TABLE x ADD a DATE"), StatementKind::AlterTable);
    for (const char* refused : {"PRAGMA writable_schema = 1", "ATTACH '/tmp/x.db' AS x", "DROP TABLE ped",
                                "CREATE TABLE x(a)", "VACUUM", "", "SELECT 1; SELECT 2"}) {
        EXPECT_FALSE(statementKind(refused).ok()) << refused;
    }
}

struct AlterCase {
    const char* statement;
    const char* table;
    FieldDef field;
};

class AlterTableTest : public ::testing::TestWithParam<AlterCase> {};

TEST_P(AlterTableTest, MapsTheColumnTypeToAField) {
    auto alter = parseAlterTable(GetParam().statement);
    ASSERT_TRUE(alter.ok()) << alter.error();
    EXPECT_EQ(alter->table, GetParam().table);
    ASSERT_EQ(alter->fields.size(), 1u);
    EXPECT_EQ(alter->fields[0], GetParam().field);
}

INSTANTIATE_TEST_SUITE_P(
    SchemaUpgrade, AlterTableTest,
    ::testing::Values(
        AlterCase{"ALTER TABLE \"pedp.dbf\" ADD C_SEGUR CHAR(10)", "pedp.dbf", {"C_SEGUR", 'C', 10, 0}},
        AlterCase{"ALTER TABLE \"pedp.dbf\" ADD C_TRAM char(1)", "pedp.dbf", {"C_TRAM", 'C', 1, 0}},
        AlterCase{"ALTER TABLE \"pedp.dbf\" ADD VERIF_ID NUMERIC(8)", "pedp.dbf", {"VERIF_ID", 'N', 8, 0}},
        AlterCase{"ALTER TABLE \"ped.dbf\" ADD C_TDEL numeric(4)", "ped.dbf", {"C_TDEL", 'N', 4, 0}},
        AlterCase{"ALTER TABLE \"ped.dbf\" ADD M_MENOR BOOLEAN", "ped.dbf", {"M_MENOR", 'L', 0, 0}},
        AlterCase{"ALTER TABLE \"pedp.dbf\" ADD F_PAGO Date", "pedp.dbf", {"F_PAGO", 'D', 0, 0}},
        AlterCase{"alter table ped.DBF add column N_IMP DECIMAL(10, 2);", "ped.DBF", {"N_IMP", 'N', 10, 2}},
        AlterCase{"ALTER TABLE org ADD \"X_EMAIL\" VARCHAR(100)", "org", {"X_EMAIL", 'C', 100, 0}}));

TEST(DialectTest, AlterTableAddsSeveralFieldsAndRefusesOtherChanges) {
    auto two = parseAlterTable("ALTER TABLE \"ped.dbf\" ADD C_PREFIJO CHAR(20), ADD C_SUFIJO CHAR(20)");
    ASSERT_TRUE(two.ok()) << two.error();
    ASSERT_EQ(two->fields.size(), 2u);
    EXPECT_EQ(two->fields[1].name, "C_SUFIJO");

    for (const char* bad : {"ALTER TABLE \"ped.dbf\" DROP X_OBS", "ALTER TABLE \"ped.dbf\" ADD X CHAR",
                            "ALTER TABLE \"ped.dbf\" ADD X CHAR(0)", "ALTER TABLE \"ped.dbf\" ADD X CHAR(300)",
                            "ALTER TABLE \"ped.dbf\" ADD X NUMERIC(4,3)", "ALTER TABLE \"ped.dbf\" ADD X BOOLEAN(1)",
                            "ALTER TABLE \"ped.dbf\" ADD X GEOMETRY", "ALTER TABLE \"ped.dbf\" ADD X CHAR(5",
                            "ALTER TABLE \"ped.dbf\" ADD", "ALTER TABLE \"ped.dbf\"", "ALTER TABLE ADD X DATE",
                            "ALTER TABLE \"ped.dbf\" ADD X DATE Y", "ALTER TABLE \"ped.dbf\" ADD X CHAR(1.5)"}) {
        EXPECT_FALSE(parseAlterTable(bad).ok()) << bad;
    }
}

} // namespace
