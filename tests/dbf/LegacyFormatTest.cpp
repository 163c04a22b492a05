// Tables written by independent tools read identically here, and tables this engine changes keep their level
// and read identically in an independent reader.
#include "DbfTestUtil.h"
#include "TempAppDir.h"

#include "dbf/Table.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

using namespace qev::dbf;
using namespace qev::dbf::test;

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");
const QString kData = QStringLiteral(QEV_SOURCE_DIR "/tests/dbf/data/");

QJsonDocument runPython(const QString& script, const QStringList& args) {
    QProcess p;
    p.start(kPython, QStringList{kData + script} + args);
    EXPECT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(p.readAllStandardOutput());
}

// The engine's value in the JSON form the Python readers print.
QJsonValue asJson(const Value& v) {
    if (v.isNull()) return QJsonValue();
    if (v.isText()) return QString::fromStdString(v.text());
    if (v.isNumber()) return v.number();
    if (v.isBool()) return v.boolean();
    if (v.isDate()) return QString::fromStdString(v.date().iso());
    return QString::fromStdString(v.toString());
}

// Both readers agree on a memo or text that one side reports as empty and the other as null.
bool sameValue(const QJsonValue& expected, const QJsonValue& actual) {
    auto blank = [](const QJsonValue& v) { return v.isNull() || (v.isString() && v.toString().isEmpty()); };
    if (blank(expected) && blank(actual)) return true;
    if (expected.isDouble() && actual.isDouble()) return qFuzzyCompare(expected.toDouble() + 1, actual.toDouble() + 1);
    return expected == actual;
}

void expectRows(Table& t, const QJsonArray& rows, bool deleted) {
    uint32_t seen = 0;
    for (uint32_t r = 1; r <= t.recordCount(); ++r) {
        auto row = t.read(r);
        ASSERT_TRUE(row.ok()) << row.error();
        if (row->deleted != deleted) continue;
        ASSERT_LT(seen, static_cast<uint32_t>(rows.size()));
        const QJsonArray exp = rows[static_cast<int>(seen++)].toArray();
        ASSERT_EQ(exp.size(), static_cast<int>(row->values.size()));
        for (int i = 0; i < exp.size(); ++i) {
            EXPECT_TRUE(sameValue(exp[i], asJson(row->values[static_cast<size_t>(i)])))
                << "record " << r << " field " << t.fields()[static_cast<size_t>(i)].name << ": expected "
                << QJsonDocument(QJsonArray{exp[i]}).toJson().toStdString() << " got "
                << row->values[static_cast<size_t>(i)].toString();
        }
    }
    EXPECT_EQ(seen, static_cast<uint32_t>(rows.size()));
}

} // namespace

TEST(LegacyFormatTest, DBaseThreeTablesWrittenByPythonDbfReadIdentically) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("legacy.dbf");
    const QJsonDocument expected = runPython("make_dbase3.py", {QString::fromStdString(path)});
    ASSERT_TRUE(expected.isArray());
    auto t = Table::open(path, OpenMode::ReadOnly);
    ASSERT_TRUE(t.ok()) << t.error();
    EXPECT_EQ((*t)->level(), Level::DBase3);
    EXPECT_EQ((*t)->versionByte(), 0x83);
    expectRows(**t, expected.array(), false);
}

TEST(LegacyFormatTest, ChangedDBaseThreeTableKeepsItsLevelAndReadsIdenticallyInDbfread) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("LEGACY.DBF");
    runPython("make_dbase3.py", {QString::fromStdString(path)});
    {
        auto t = Table::open(path);
        ASSERT_TRUE(t.ok()) << t.error();
        Table& tb = **t;
        ASSERT_TRUE(tb.append({Value("NUEVO"), Value(5), Value(1.5), Value(Date{2001, 9, 11}), Value(true),
                               Value(std::string(700, 'n'))})
                        .ok());
        auto first = tb.read(1);
        ASSERT_TRUE(first.ok());
        Record changed = first->values;
        changed[0] = Value("PEREZ ÁLVAREZ");
        changed[5] = Value(std::string(1200, 'z')); // a longer memo moves to new blocks
        ASSERT_TRUE(tb.update(1, changed).ok());
        ASSERT_TRUE(tb.setDeleted(2, true).ok());
    }
    ASSERT_TRUE(addField(path, {"M_MENOR", 'L', 1, 0}).ok());

    auto check = [&](bool expectDeleted) {
        auto t = Table::open(path, OpenMode::ReadOnly);
        ASSERT_TRUE(t.ok()) << t.error();
        EXPECT_EQ((*t)->versionByte(), 0x83);
        const QJsonObject peer = runPython("read_dbfread.py", {QString::fromStdString(path)}).object();
        const QJsonArray fields = peer.value("fields").toArray();
        ASSERT_EQ(fields.size(), 7);
        EXPECT_EQ(fields[6].toArray()[0].toString(), "M_MENOR");
        expectRows(**t, peer.value("records").toArray(), false);
        EXPECT_EQ(peer.value("records").toArray().size(), 4);
        EXPECT_EQ(peer.value("deleted").toArray().size(), expectDeleted ? 1 : 0);
        if (expectDeleted) expectRows(**t, peer.value("deleted").toArray(), true);
    };
    check(true);
    {
        auto t = Table::open(path, OpenMode::Exclusive);
        ASSERT_TRUE(t.ok());
        ASSERT_TRUE((*t)->pack().ok());
    }
    check(false);
}

TEST(LegacyFormatTest, DBaseFourTablesWithMemosReadIdenticallyInDbfread) {
    qev::test::TempAppDir dir;
    const std::string path = dir.filePath("iv.dbf");
    CreateOptions o;
    o.level = Level::DBase4;
    auto t = Table::create(
        path, {{"X_APE1", 'C', 15, 0}, {"N_DOC", 'N', 9, 0}, {"F_PED", 'D', 8, 0}, {"X_OBS", 'M', 10, 0}}, o);
    ASSERT_TRUE(t.ok()) << t.error();
    ASSERT_TRUE((*t)->append({Value("ÑOÑO"), Value(7), Value(Date{2020, 1, 31}), Value("uno")}).ok());
    ASSERT_TRUE((*t)->append({Value("B"), Value(), Value(), Value(std::string(900, 'q'))}).ok());
    ASSERT_TRUE(
        (*t)->update(1, {Value("ÑOÑO"), Value(7), Value(Date{2020, 1, 31}), Value(std::string(1500, 'w'))}).ok());
    ASSERT_TRUE((*t)->append({Value("C"), Value(3), Value(), Value("reusa")}).ok());
    EXPECT_EQ((*t)->versionByte(), 0x8B);
    const QJsonObject peer = runPython("read_dbfread.py", {QString::fromStdString(path)}).object();
    expectRows(**t, peer.value("records").toArray(), false);
    EXPECT_EQ(peer.value("records").toArray().size(), 3);

    // Delete, add a field and pack: still a dBase IV table that the peer reads the same way.
    ASSERT_TRUE((*t)->setDeleted(2, true).ok());
    t.value().reset();
    ASSERT_TRUE(addField(path, {"M_MENOR", 'L', 1, 0}).ok());
    {
        auto ex = Table::open(path, OpenMode::Exclusive);
        ASSERT_TRUE(ex.ok());
        ASSERT_TRUE((*ex)->pack().ok());
    }
    auto after = Table::open(path, OpenMode::ReadOnly);
    ASSERT_TRUE(after.ok());
    EXPECT_EQ((*after)->versionByte(), 0x8B);
    const QJsonObject packed = runPython("read_dbfread.py", {QString::fromStdString(path)}).object();
    EXPECT_EQ(packed.value("fields").toArray().size(), 5);
    EXPECT_EQ(packed.value("records").toArray().size(), 2);
    EXPECT_EQ(packed.value("deleted").toArray().size(), 0);
    expectRows(**after, packed.value("records").toArray(), false);
}
