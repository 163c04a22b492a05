#include "dm/Tdm.h"
#include "FixedClock.h"
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "capture/ImageLib.h"
#include "core/OfficeSchema.h"
#include "core/Records.h"

#include <QFile>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace qev {
namespace {

using dbf::Value;

std::unique_ptr<dbf::Table> openFile(const QString& path, dbf::OpenMode mode = dbf::OpenMode::ReadOnly) {
    auto t = dbf::Table::open(path.toStdString(), mode);
    if (!t) {
        ADD_FAILURE() << t.error();
        return nullptr;
    }
    return std::move(t).value();
}

// Writes a table of the folder anew with some fields dropped and others narrowed, as older installations have
// them; every row keeps its values.
void makeOldLayout(const QString& path, const QStringList& drop, const std::map<QString, int>& widths) {
    std::vector<dbf::FieldDef> fields;
    std::vector<int> from;
    std::vector<dbf::Record> rows;
    {
        auto t = openFile(path);
        ASSERT_TRUE(t);
        for (size_t i = 0; i < t->fields().size(); ++i) {
            auto f = t->fields()[i];
            const QString name = QString::fromStdString(f.name).toUpper();
            if (drop.contains(name)) continue;
            auto w = widths.find(name);
            if (w != widths.end()) f.length = w->second;
            fields.push_back(f);
            from.push_back(static_cast<int>(i));
        }
        for (uint32_t rn = 1; rn <= t->recordCount(); ++rn) {
            auto row = t->read(rn);
            ASSERT_TRUE(row);
            if (row->deleted) continue;
            dbf::Record r;
            for (int i : from)
                r.push_back(row->values[static_cast<size_t>(i)]);
            rows.push_back(r);
        }
    }
    QFile::remove(path);
    QFile::remove(QString::fromStdString(dbf::companionFile(path.toStdString(), ".DBT")));
    auto created = dbf::Table::create(path.toStdString(), fields);
    ASSERT_TRUE(created) << created.error();
    for (const auto& r : rows) {
        auto a = created.value()->append(r);
        ASSERT_TRUE(a) << a.error();
    }
}

int fieldWidth(const QString& path, const char* field) {
    auto t = openFile(path);
    const int i = t ? t->fieldIndex(field) : -1;
    return i < 0 ? -1 : t->fields()[static_cast<size_t>(i)].length;
}

class TdmTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(createOfficeFolder(dir.path(), true, clock, &error)) << error.toStdString();
    }
    test::TempAppDir dir;
    test::FixedClock clock{QDateTime(QDate(2024, 5, 10), QTime(10, 0))};
    test::ScriptedPrompter prompter;
};

TEST_F(TdmTest, FreshFolderStartsReadyWithoutMessages) {
    Tdm dm(dir.appDir(), prompter, clock);
    ASSERT_TRUE(dm.create());
    EXPECT_TRUE(dm.ready());
    EXPECT_TRUE(dm.receptionIdle());
    EXPECT_TRUE(prompter.texts().isEmpty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(dm.ped().active());
    EXPECT_FALSE(dm.table(QStringLiteral("sec"))->active()) << "sec is open only while a number is taken";
    EXPECT_EQ(dm.officeName(), QString::fromUtf8(kDefaultOfficeName));
    EXPECT_EQ(dm.timer().interval(), 5 * 60000);
}

TEST_F(TdmTest, OldLayoutFolderIsUpgradedOnce) {
    // PED before most additions, with the old widths; rows must keep their data.
    const QString pedPath = dir.file(QStringLiteral("PED.DBF"));
    {
        auto t = openFile(pedPath, dbf::OpenMode::Exclusive);
        for (uint32_t rn = 1; rn <= t->recordCount(); ++rn) {
            auto row = t->read(rn);
            row->values[static_cast<size_t>(t->fieldIndex("N_CAUSA"))] = Value("123/24");
            ASSERT_TRUE(t->update(rn, row->values));
        }
    }
    makeOldLayout(pedPath,
                  {"X_OAPE", "M_MENOR", "M_TOMA_KRB", "M_ESPECIAL", "M_EXCART51", "C_CLASDER", "C_CLASIZQ", "X_RECHAZO",
                   "C_CARPED"},
                  {{"N_CAUSA", 8}});
    makeOldLayout(dir.file(QStringLiteral("sup.dbf")), {}, {{"C_PED", 5}, {"C_REG", 3}});
    makeOldLayout(dir.file(QStringLiteral("Pedp.DBF")), {"C_SEGUR", "F_PAGO"}, {});
    const int rows = static_cast<int>(openFile(pedPath)->recordCount());
    ASSERT_GT(rows, 0);
    const int obsWidth = fieldWidth(pedPath, "X_OBS");

    Tdm dm(dir.appDir(), prompter, clock);
    ASSERT_TRUE(dm.upgradeSchema()) << prompter.lastText().toStdString();
    EXPECT_TRUE(prompter.texts().isEmpty()) << prompter.texts().join(QLatin1Char('|')).toStdString();

    auto ped = openFile(pedPath);
    for (const char* f : {"X_OAPE", "M_MENOR", "M_TOMA_KRB", "M_ESPECIAL", "M_EXCART51", "C_CLASDER", "X_RECHAZO"})
        EXPECT_GE(ped->fieldIndex(f), 0) << f;
    for (uint32_t rn = 1; rn <= ped->recordCount(); ++rn) {
        auto row = ped->read(rn);
        ASSERT_TRUE(row);
        for (const char* f : {"M_MENOR", "M_TOMA_KRB", "M_ESPECIAL", "M_EXCART51"})
            EXPECT_EQ(row->values[static_cast<size_t>(ped->fieldIndex(f))], Value(false)) << f << " row " << rn;
        EXPECT_EQ(row->values[static_cast<size_t>(ped->fieldIndex("N_CAUSA"))], Value("123/24"));
    }
    EXPECT_EQ(static_cast<int>(ped->recordCount()), rows);
    EXPECT_EQ(fieldWidth(pedPath, "N_CAUSA"), 15);
    EXPECT_EQ(fieldWidth(pedPath, "X_OBS"), obsWidth) << "other widths stay";
    EXPECT_EQ(fieldWidth(dir.file(QStringLiteral("sup.dbf")), "C_PED"), 8);
    EXPECT_EQ(fieldWidth(dir.file(QStringLiteral("sup.dbf")), "C_REG"), 4);
    EXPECT_GE(openFile(dir.file(QStringLiteral("Pedp.DBF")))->fieldIndex("C_SEGUR"), 0);

    // A second run finds nothing to do and changes nothing.
    QFile f(pedPath);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray before = f.readAll().mid(32);
    f.close();
    ASSERT_TRUE(dm.upgradeSchema());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().mid(32), before);
}

TEST_F(TdmTest, WidthsOtherThanTheOldOnesAreLeftAlone) {
    makeOldLayout(dir.file(QStringLiteral("PED.DBF")), {}, {{"N_CAUSA", 10}});
    Tdm dm(dir.appDir(), prompter, clock);
    ASSERT_TRUE(dm.upgradeSchema());
    EXPECT_EQ(fieldWidth(dir.file(QStringLiteral("PED.DBF")), "N_CAUSA"), 10);
}

QByteArray fileContents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void overwrite(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// The start checks every production index page by page: a damaged "PED.MDX" comes back silently from the copy the
// last rebuild left; without a copy the check's messages are shown and the rebuild regenerates it.
TEST_F(TdmTest, DamagedIndexIsRestoredFromItsBackupOrRegenerated) {
    const QString index = dir.file(QStringLiteral("PED.MDX"));
    const QString backup = dir.file(QStringLiteral("PED_bak.mdx"));
    {
        Tdm dm(dir.appDir(), prompter, clock);
        ASSERT_TRUE(dm.create());
    }
    const QByteArray good = fileContents(index);
    ASSERT_GT(good.size(), 2048);
    EXPECT_EQ(fileContents(backup), good) << "the rebuild at start leaves the copy";
    EXPECT_TRUE(QFile::exists(dir.file(QStringLiteral("org_bak.mdx"))));

    overwrite(index, good.left(good.size() - 300)); // cut in the middle of a page
    {
        Tdm dm(dir.appDir(), prompter, clock);
        ASSERT_TRUE(dm.create());
        EXPECT_TRUE(prompter.messages().empty()) << prompter.lastText().toStdString();
        EXPECT_EQ(fileContents(index), good);
        EXPECT_TRUE(dm.ped().active());
    }

    // Another workstation with the table open keeps writing into the index file it opened: the copy must not
    // take that file's place, and the damaged index stays for a start that has the table to itself.
    overwrite(index, QByteArray("damaged"));
    {
        int ready[2], release[2];
        ASSERT_EQ(::pipe(ready), 0);
        ASSERT_EQ(::pipe(release), 0);
        const pid_t other = ::fork();
        ASSERT_GE(other, 0);
        const std::string table = dir.file(QStringLiteral("PED.DBF")).toStdString();
        if (other == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            auto t = dbf::Table::open(table, dbf::OpenMode::Shared);
            char c = t ? 'y' : 'n';
            (void)!::write(ready[1], &c, 1);
            (void)!::read(release[0], &c, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        char c = 0;
        ASSERT_EQ(::read(ready[0], &c, 1), 1);
        ASSERT_EQ(c, 'y');
        {
            // The start stops later on, as it must: the pack and the index rebuild need the table to themselves too.
            Tdm dm(dir.appDir(), prompter, clock);
            (void)dm.create();
            ASSERT_FALSE(prompter.messages().empty());
            EXPECT_EQ(
                prompter.messages().front().text,
                QStringLiteral("ERROR: Al Chequear tabla - Msg: ERROR: Al reparar Mdx - Msg: No generar MDX desde "
                               "el archivo de backup de la tabla PED.DBF"));
            EXPECT_EQ(fileContents(index), QByteArray("damaged"));
        }
        ::close(release[1]);
        ::close(ready[0]);
        int status = 0;
        ::waitpid(other, &status, 0);
        prompter.clear();
    }

    QFile::remove(backup);
    overwrite(index, QByteArray("garbage"));
    overwrite(dir.file(QStringLiteral("org.MDX")), QByteArray(4096, '\x07'));
    {
        Tdm dm(dir.appDir(), prompter, clock);
        ASSERT_TRUE(dm.create());
        ASSERT_EQ(prompter.messages().size(), 1u) << "the first error ends the check";
        EXPECT_EQ(prompter.lastText(),
                  QStringLiteral(
                      "ERROR: Al Chequear tabla - Msg: ERROR: Al reparar Mdx - Msg: No existe Archivo PED_bak.mdx"));
    }
    for (const char* table : {"PED.DBF", "org.DBF"}) {
        auto t = openFile(dir.file(QString::fromLatin1(table)));
        ASSERT_TRUE(t);
        const std::vector<std::string> problems = t->checkIndexFile(true);
        EXPECT_TRUE(problems.empty()) << table << ": " << problems.front();
    }
    EXPECT_EQ(fileContents(backup), fileContents(index));
}

TEST_F(TdmTest, MissingSequenceRowRefusesTheNumber) {
    {
        auto sec = openFile(dir.file(QStringLiteral("sec.dbf")), dbf::OpenMode::Exclusive);
        for (uint32_t rn = 1; rn <= sec->recordCount(); ++rn) {
            auto row = sec->read(rn);
            if (row->values[0] == Value("ped")) {
                ASSERT_TRUE(sec->setDeleted(rn, true));
            }
        }
    }
    Tdm dm(dir.appDir(), prompter, clock);
    ASSERT_TRUE(dm.create());
    Dataset& ped = dm.ped();
    const int rows = ped.rowCount();
    ped.beforePost = [&dm](Dataset& d) { return dm.assignKey(d, QStringLiteral("C_PED")); };
    ASSERT_TRUE(ped.insert());
    ped.setText(QStringLiteral("X_APE1"), QStringLiteral("PEREZ"));
    EXPECT_FALSE(ped.post());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("No se puedo obtener el número de secuencia del objeto \"ped\""));
    EXPECT_EQ(ped.state(), Dataset::State::Insert);
    ped.cancel();
    EXPECT_EQ(ped.rowCount(), rows);
    EXPECT_EQ(prompter.busyDepth(), 0);

    // The other sequences still work and count up.
    const double a = dm.nextNumber(QStringLiteral("org"));
    EXPECT_EQ(dm.nextNumber(QStringLiteral("org")), a + 1);
}

TEST_F(TdmTest, OldPop3PasswordIsMigratedExactlyOnce) {
    {
        Tdm dm(dir.appDir(), prompter, clock);
        ASSERT_TRUE(dm.openTables());
        ASSERT_TRUE(dm.settings().write(QStringLiteral("pop3Pass"), QStringLiteral("secreto9")));
    }
    for (int run = 0; run < 2; ++run) {
        Tdm dm(dir.appDir(), prompter, clock);
        ASSERT_TRUE(dm.create());
        EXPECT_FALSE(dm.settings().exists(QStringLiteral("pop3Pass")));
        const QString stored = dm.settings().read(QStringLiteral("pop3PwdE"));
        EXPECT_NE(stored, QStringLiteral("secreto9"));
        EXPECT_EQ(complementText(stored), QStringLiteral("secreto9")) << "run " << run;
        int rows = 0;
        for (int i = 0; i < dm.amb().rowCount(); ++i)
            rows += dm.amb().textAt(i, QStringLiteral("C_AMB")) == QStringLiteral("pop3PwdE");
        EXPECT_EQ(rows, 1);
    }
}

TEST_F(TdmTest, SettingsAreNormalisedAtStart) {
    {
        Tdm dm(dir.appDir(), prompter, clock);
        ASSERT_TRUE(dm.openTables());
        Settings& s = dm.settings();
        ASSERT_TRUE(s.write(QStringLiteral("m_fecpago"), QStringLiteral("x")));
        ASSERT_TRUE(s.write(QStringLiteral("dias_fpago"), QStringLiteral("0")));
        ASSERT_TRUE(s.write(QStringLiteral("m_domic"), QString()));
        ASSERT_TRUE(s.write(QStringLiteral("m_impauto"), QString()));
        ASSERT_TRUE(s.write(QStringLiteral("m_segur"), QString()));
        ASSERT_TRUE(s.write(QStringLiteral("frec_recep"), QStringLiteral("0")));
    }
    Tdm dm(dir.appDir(), prompter, clock);
    ASSERT_TRUE(dm.create());
    Settings& s = dm.settings();
    EXPECT_EQ(s.read(QStringLiteral("m_fecpago")), QStringLiteral("S"));
    EXPECT_EQ(s.read(QStringLiteral("dias_fpago")), QStringLiteral("365"));
    EXPECT_EQ(s.read(QStringLiteral("m_domic")), QStringLiteral("N"));
    EXPECT_TRUE(dm.autoPrint()) << "an empty m_impauto counts as on";
    EXPECT_FALSE(dm.accessControl()) << "an empty m_segur counts as off";
    EXPECT_FALSE(dm.timer().isActive()) << "frec_recep 0 never fires";

    ASSERT_TRUE(s.write(QStringLiteral("dias_fpago"), QStringLiteral("abc")));
    ASSERT_TRUE(dm.applySettings());
    EXPECT_EQ(s.read(QStringLiteral("dias_fpago")), QStringLiteral("365"));
}

TEST_F(TdmTest, NonNumericReceptionFrequencyLeavesReceptionOff) {
    {
        Tdm dm(dir.appDir(), prompter, clock);
        ASSERT_TRUE(dm.openTables());
        ASSERT_TRUE(dm.settings().write(QStringLiteral("frec_recep"), QStringLiteral("cinco")));
    }
    Tdm dm(dir.appDir(), prompter, clock);
    ASSERT_TRUE(dm.create());
    EXPECT_FALSE(dm.ready());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("'cinco' no es un valor entero válido"));
}

TEST_F(TdmTest, OutdatedDocumentTypesEndTheProgram) {
    makeOldLayout(dir.file(QStringLiteral("tdoc.DBF")), {"C_EXPORT"}, {});
    bool ended = false;
    Tdm dm(dir.appDir(), prompter, clock);
    dm.terminateRequested = [&ended] { ended = true; };
    EXPECT_FALSE(dm.create());
    EXPECT_TRUE(ended);
    EXPECT_TRUE(prompter.lastText().startsWith(QStringLiteral("Debe actualizar las tablas. Por favor, \rpongase")));
}

TEST_F(TdmTest, StartPacksDeletedRequests) {
    {
        auto ped = openFile(dir.file(QStringLiteral("PED.DBF")), dbf::OpenMode::Shared);
        ASSERT_TRUE(ped->setDeleted(1, true));
    }
    const uint32_t before = openFile(dir.file(QStringLiteral("PED.DBF")))->recordCount();
    Tdm dm(dir.appDir(), prompter, clock);
    ASSERT_TRUE(dm.create());
    EXPECT_EQ(openFile(dir.file(QStringLiteral("PED.DBF")))->recordCount(), before - 1);
}

TEST_F(TdmTest, StartHandsEveryTableOverSharedWithItsRowsInKeyOrder) {
    uint32_t pedRows = 0;
    {
        auto ped = openFile(dir.file(QStringLiteral("PED.DBF")), dbf::OpenMode::Shared);
        pedRows = ped->recordCount();
        ASSERT_GE(pedRows, 2u);
        ASSERT_TRUE(ped->setDeleted(2, true));
    }
    Tdm dm(dir.appDir(), prompter, clock);
    ASSERT_TRUE(dm.create());
    EXPECT_TRUE(prompter.messages().empty()) << prompter.lastText().toStdString();
    // The tables the start took exclusively are shared again: another workstation gets in, and cannot pack them.
    for (const char* name : {"PED.DBF", "Pedp.DBF", "org.DBF", "amb.dbf"}) {
        auto other = dbf::Table::open(dir.file(QString::fromLatin1(name)).toStdString(), dbf::OpenMode::Shared);
        EXPECT_TRUE(other) << name;
        EXPECT_FALSE(dbf::Table::open(dir.file(QString::fromLatin1(name)).toStdString(), dbf::OpenMode::Exclusive))
            << name;
    }
    Dataset& ped = dm.ped();
    ASSERT_TRUE(ped.active());
    EXPECT_EQ(static_cast<uint32_t>(ped.rowCount()), pedRows - 1);
    double last = -1;
    int seen = 0;
    for (ped.first(); !ped.eof(); ped.next(), ++seen) {
        const double key = ped.value(QStringLiteral("C_PED")).number();
        EXPECT_GT(key, last);
        last = key;
    }
    EXPECT_EQ(seen, ped.rowCount());
    EXPECT_FALSE(dm.settings().read(QStringLiteral("x_reg")).isEmpty()) << "the settings table was handed over too";
}

TEST_F(TdmTest, RebuildRefusedByAnotherWorkstationEndsTheProgram) {
    Tdm dm(dir.appDir(), prompter, clock);
    ASSERT_TRUE(dm.openTables());
    // Another workstation keeps the personal requests open.
    auto held = openFile(dir.file(QStringLiteral("Pedp.DBF")), dbf::OpenMode::Shared);
    bool ended = false;
    dm.terminateRequested = [&ended] { ended = true; };
    EXPECT_FALSE(dm.rebuildIndexes());
    EXPECT_TRUE(ended);
    EXPECT_TRUE(prompter.lastText().startsWith(
        QStringLiteral("No existe la tabla: pedp .Comuniquese con el soporte  técnico de QEV Central.\r")));
    EXPECT_TRUE(dm.ped().active()) << "tables before the failing one are reopened";

    held.reset();
    prompter.clear();
    EXPECT_TRUE(dm.rebuildIndexes());
    EXPECT_TRUE(dm.ped().active());
    EXPECT_FALSE(dm.table(QStringLiteral("sec"))->active()) << "a table closed before stays closed";
}

struct CountingReception final : Reception {
    int outlook = 0;
    int pop3 = 0;
    void receiveOutlook() override { ++outlook; }
    void receivePop3() override { ++pop3; }
};

TEST_F(TdmTest, ReceptionCycleHonoursItsGuards) {
    Tdm dm(dir.appDir(), prompter, clock);
    ASSERT_TRUE(dm.create());
    CountingReception reception;
    dm.setReception(&reception);

    dm.timerTick();
    EXPECT_EQ(reception.pop3, 1);
    EXPECT_TRUE(dm.receptionIdle());

    // A tick while a request is open for editing does nothing.
    ASSERT_TRUE(dm.pedp().edit());
    dm.timerTick();
    EXPECT_EQ(reception.pop3, 1);
    dm.pedp().cancel();

    // Nor while another reception or a mail window runs.
    dm.setReceptionIdle(false);
    dm.runReceptionCycle();
    EXPECT_EQ(reception.pop3, 1);
    dm.setReceptionIdle(true);

    ASSERT_TRUE(dm.settings().write(QStringLiteral("usaOutlook"), QStringLiteral("S")));
    dm.runReceptionCycle();
    EXPECT_EQ(reception.outlook, 1);

    // Switching automatic reception off stops the timer for the run; manual reception goes on.
    dm.timer().start();
    dm.automaticReceptionOff = [] { return true; };
    dm.timerTick();
    EXPECT_FALSE(dm.timer().isActive());
    EXPECT_EQ(reception.outlook + reception.pop3, 2);
    dm.runReceptionCycle();
    EXPECT_EQ(reception.outlook, 2);
}

// Edits a request as a window would: the save goes through the request rules with the window's permission.
void setRow(Tdm& dm, Dataset& ds, double cped, const std::map<QString, Value>& values) {
    ASSERT_TRUE(ds.locate(QStringLiteral("C_PED"), Value(cped)));
    ASSERT_TRUE(ds.edit());
    for (const auto& [k, v] : values)
        ASSERT_TRUE(ds.setValue(k, v));
    dm.setSavePermission(true);
    ASSERT_TRUE(ds.post());
}

TEST_F(TdmTest, PurgeRemovesAnswersOlderThanTheCutOffAndTheirFiles) {
    Tdm dm(dir.appDir(), prompter, clock);
    ASSERT_TRUE(dm.create());
    ASSERT_TRUE(dm.settings().write(QStringLiteral("dur_guarda"), QStringLiteral("abc"))); // counts as 15
    const QDate cutoff = clock.today().addDays(-15);
    Dataset& ped = dm.ped();
    ASSERT_GE(ped.rowCount(), 3);
    std::vector<double> keys;
    for (int i = 0; i < 3; ++i)
        keys.push_back(ped.valueAt(i, QStringLiteral("C_PED")).number());
    // Every other demo request is taken out of the way first.
    for (int i = 0; i < ped.rowCount(); ++i)
        setRow(dm, ped, ped.valueAt(i, QStringLiteral("C_PED")).number(),
               {{QStringLiteral("M_CONTESTA"), Value(false)}});
    setRow(dm, ped, keys[0],
           {{QStringLiteral("M_CONTESTA"), Value(true)}, {QStringLiteral("F_CON"), fromQDate(cutoff)}});
    setRow(dm, ped, keys[1],
           {{QStringLiteral("M_CONTESTA"), Value(true)}, {QStringLiteral("F_CON"), fromQDate(cutoff.addDays(-1))}});
    setRow(dm, ped, keys[2], {{QStringLiteral("M_CONTESTA"), Value(true)}, {QStringLiteral("F_CON"), Value()}});
    const QString reg = ped.text(QStringLiteral("C_REG"));

    Dataset& pedp = dm.pedp();
    ASSERT_GE(pedp.rowCount(), 2);
    const double p0 = pedp.valueAt(0, QStringLiteral("C_PED")).number();
    const double p1 = pedp.valueAt(1, QStringLiteral("C_PED")).number();
    for (int i = 0; i < pedp.rowCount(); ++i)
        setRow(dm, pedp, pedp.valueAt(i, QStringLiteral("C_PED")).number(), {{QStringLiteral("C_EST"), Value("E")}});
    setRow(dm, pedp, p0,
           {{QStringLiteral("C_EST"), Value("R")}, {QStringLiteral("F_CON"), fromQDate(cutoff.addDays(-90))}});
    setRow(dm, pedp, p1,
           {{QStringLiteral("C_EST"), Value("C")}, {QStringLiteral("F_CON"), fromQDate(cutoff.addDays(-2))}});
    const QString regp = pedp.text(QStringLiteral("C_REG"));

    auto touch = [this](const QString& name) {
        QFile f(dir.file(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    };
    auto n = [](double v) { return QString::number(static_cast<qint64>(v)); };
    for (const char* p : {"h", "z", "c", "d"})
        touch(QString::fromLatin1(p) + n(keys[1]) + QLatin1Char('.') + reg);
    touch(QStringLiteral("h") + n(keys[0]) + QLatin1Char('.') + reg);
    for (const char* p : {"hp", "zp", "cp", "dp"})
        touch(QString::fromLatin1(p) + n(p1) + QLatin1Char('.') + regp);

    dm.purgeAnswered();
    EXPECT_TRUE(prompter.texts().isEmpty()) << prompter.lastText().toStdString();

    auto pedTable = openOfficeTable(dir.path(), *findOfficeTable(QStringLiteral("ped")));
    ASSERT_TRUE(pedTable);
    auto has = [](dbf::Table& t, double key) { return t.find(Value(key)).value().has_value(); };
    EXPECT_TRUE(has(*pedTable.value(), keys[0])) << "answered on the cut-off day stays";
    EXPECT_FALSE(has(*pedTable.value(), keys[1])) << "one day older is purged";
    EXPECT_TRUE(has(*pedTable.value(), keys[2])) << "no answer date, never purged";
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("h") + n(keys[1]) + QLatin1Char('.') + reg)));
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("c") + n(keys[1]) + QLatin1Char('.') + reg)));
    EXPECT_TRUE(QFile::exists(dir.file(QStringLiteral("d") + n(keys[1]) + QLatin1Char('.') + reg)))
        << "the documents of an official request are kept";
    EXPECT_TRUE(QFile::exists(dir.file(QStringLiteral("h") + n(keys[0]) + QLatin1Char('.') + reg)));

    auto pedpTable = openOfficeTable(dir.path(), *findOfficeTable(QStringLiteral("pedp")));
    EXPECT_TRUE(has(*pedpTable.value(), p0)) << "a rejected request is never purged";
    EXPECT_FALSE(has(*pedpTable.value(), p1));
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("dp") + n(p1) + QLatin1Char('.') + regp)));
    // Packed: no deleted rows remain.
    for (uint32_t rn = 1; rn <= pedTable.value()->recordCount(); ++rn)
        EXPECT_FALSE(pedTable.value()->isDeleted(rn).value());
}

TEST_F(TdmTest, ImageChecksFindWorkFilesInTheOfficeFolder) {
    Tdm dm(dir.appDir(), prompter, clock);
    capture::Raster card = capture::Raster::grey(2480, 1299, 180);
    card.resolutionX = card.resolutionY = 300;
    std::string error;
    ASSERT_TRUE(capture::saveAs(dir.filePath("edit.tif"), card, {}, &error)) << error;
    EXPECT_TRUE(dm.ValidarImagenHuella(QStringLiteral("edit.tif")));
    EXPECT_TRUE(dm.ValidarImagenHuella(dir.file(QStringLiteral("edit.tif"))));
    EXPECT_FALSE(dm.ValidarImagenDocumento(QStringLiteral("edit.tif")));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("La imagen debe estar en tamaño A4 a 300 puntos por pulgada"));
    prompter.clear();
    EXPECT_FALSE(dm.ValidarImagenDocumento(QStringLiteral("docu.tif")));
    EXPECT_TRUE(prompter.texts().isEmpty());
}

TEST_F(TdmTest, RequestFileNamesAndRecordHelpers) {
    Tdm dm(dir.appDir(), prompter, clock);
    ASSERT_TRUE(dm.create());
    EXPECT_EQ(requestFileName(QStringLiteral("h"), Value(1234.0), Value(7.0)), QStringLiteral("h1234.7"));
    EXPECT_EQ(requestFileName(QStringLiteral("h"), Value(), Value(7.0)), QString());
    dm.pedp().first();
    const QString name = dm.requestFile(dm.pedp(), QLatin1Char('z'));
    EXPECT_TRUE(name.startsWith(QStringLiteral("zp"))) << name.toStdString();

    EXPECT_EQ(normaliseBlanks(QStringLiteral("  DE   LA    TORRE ")), QStringLiteral("DE LA TORRE"));
    EXPECT_TRUE(normaliseBlanks(Value()).isNull());
    EXPECT_TRUE(dm.nameCharacters(Value("D'ARTAGNAN PEÑA")));
    EXPECT_TRUE(prompter.texts().isEmpty());
    EXPECT_FALSE(dm.nameCharacters(Value("PEREZ2")));
    EXPECT_EQ(prompter.lastText(),
              QStringLiteral("PEREZ2 contiene caracteres que no son válidos\rSólo se acepta A .. Z y el apostrofe"));
    EXPECT_FALSE(dm.nameCharacters(Value("Perez")));
    EXPECT_TRUE(dm.requiredField(Value(""), QStringLiteral("Apellido")));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Debe completar el campo \"Apellido\""));
    EXPECT_FALSE(dm.requiredField(Value("X"), QStringLiteral("Apellido")));

    EXPECT_FALSE(dm.checkSavePermission());
    EXPECT_EQ(prompter.messages().back().caption, QStringLiteral("Advertencia"));
    dm.setSavePermission(true);
    EXPECT_TRUE(dm.checkSavePermission());
    EXPECT_FALSE(dm.checkSavePermission()) << "every check clears the flag";
}

} // namespace
} // namespace qev
