// The qevdb command run as a program: set-up of a folder, schema, dump, check of damaged files and pack.
#include "TempAppDir.h"
#include "core/OfficeSchema.h"
#include "dbf/Table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace qev {
namespace {

struct Outcome {
    int code = -1;
    QString out;
    QString err;
};

Outcome qevdb(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(QEVDB_EXE), args);
    Outcome r;
    if (!p.waitForFinished(60000)) {
        ADD_FAILURE() << "qevdb did not finish: " << args.join(QLatin1Char(' ')).toStdString();
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

void writeAt(const QString& path, qint64 offset, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.seek(offset));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

class QevDbTest : public ::testing::Test {
protected:
    QString path(const QString& name) const { return m_dir.file(name); }

    // A small table with a memo, used by the dump, check and pack cases.
    QString makeNotes(const std::vector<dbf::Record>& rows) {
        const QString file = path(QStringLiteral("notas.dbf"));
        auto t = dbf::Table::create(file.toStdString(),
                                    {{"C_NRO", 'N', 4, 0}, {"X_TEXTO", 'C', 30, 0}, {"M_NOTA", 'M', 10, 0}});
        EXPECT_TRUE(t) << t.error();
        if (!t) return file;
        for (const auto& r : rows) {
            auto a = (*t)->append(r);
            EXPECT_TRUE(a) << a.error();
        }
        return file;
    }

    // Byte offset of a field of a record in the table file.
    qint64 fieldOffset(const QString& file, uint32_t recno, const char* field) {
        auto t = dbf::Table::open(file.toStdString(), dbf::OpenMode::ReadOnly);
        EXPECT_TRUE(t);
        qint64 offset = (*t)->headerLength() + qint64(recno - 1) * (*t)->recordLength() + 1;
        for (const auto& f : (*t)->fields()) {
            if (f.name == field) return offset;
            offset += f.length;
        }
        ADD_FAILURE() << "no field " << field;
        return -1;
    }

    test::TempAppDir m_dir;
};

TEST_F(QevDbTest, InitCreatesTheFolderAndSchemaShowsTheDeclaredFields) {
    const QString office = path(QStringLiteral("oficina"));
    const Outcome init = qevdb({QStringLiteral("init"), office, QStringLiteral("--demo")});
    ASSERT_EQ(init.code, 0) << init.err.toStdString();
    for (const TableSpec& t : officeTables()) {
        EXPECT_TRUE(QFile::exists(office + QLatin1Char('/') + t.fileName)) << t.fileName.toStdString();
        EXPECT_TRUE(init.out.contains(t.fileName));
    }

    const Outcome schema = qevdb({QStringLiteral("schema"), office + QStringLiteral("/sup.dbf")});
    ASSERT_EQ(schema.code, 0) << schema.err.toStdString();
    EXPECT_TRUE(schema.out.contains(QStringLiteral("Versión: 0x04 (dBase nivel 7)"))) << schema.out.toStdString();
    EXPECT_TRUE(schema.out.contains(QStringLiteral("Controlador de idioma: DBWINUS0 (cp1252)")));
    EXPECT_TRUE(schema.out.contains(QStringLiteral("Registros: 2")));
    EXPECT_TRUE(schema.out.contains(QStringLiteral("Índice de producción (MDX): sí")));
    // One line per field, in declared order, with type, length and decimals.
    const QStringList lines = schema.out.split(QLatin1Char('\n'));
    const qsizetype first = lines.indexOf(QRegularExpression(QStringLiteral("^\\s+1\\s+C_PED\\s+N\\s+8\\s+0$")));
    ASSERT_GE(first, 0) << schema.out.toStdString();
    EXPECT_TRUE(lines[first + 1].contains(QRegularExpression(QStringLiteral("^\\s+2\\s+C_REG\\s+N\\s+4\\s+0$"))));
    EXPECT_TRUE(lines[first + 7].contains(QRegularExpression(QStringLiteral("^\\s+8\\s+C_PROV\\s+N\\s+6\\s+0$"))));

    const Outcome ped = qevdb({QStringLiteral("schema"), office + QStringLiteral("/PED.DBF")});
    EXPECT_TRUE(ped.out.contains(QStringLiteral("Versión: 0x8C"))) << "a table with memo fields";
    EXPECT_TRUE(ped.out.contains(QStringLiteral("Campos: 56")));
}

TEST_F(QevDbTest, InitRefusesAFolderWithTablesAndLosesNothing) {
    const QString office = path(QStringLiteral("oficina"));
    ASSERT_EQ(qevdb({QStringLiteral("init"), office}).code, 0);
    const QByteArray before = readFile(office + QStringLiteral("/amb.dbf"));
    QFile::remove(office + QStringLiteral("/url.DBF"));
    const Outcome again = qevdb({QStringLiteral("init"), office, QStringLiteral("--demo")});
    EXPECT_EQ(again.code, 1);
    EXPECT_TRUE(again.err.contains(QStringLiteral("amb.dbf"))) << again.err.toStdString();
    EXPECT_EQ(readFile(office + QStringLiteral("/amb.dbf")), before);
    EXPECT_FALSE(QFile::exists(office + QStringLiteral("/url.DBF"))) << "nothing is filled in either";
}

// check verifies every tag of the production index and names file, tag and page of a damage; reindex repairs it.
TEST_F(QevDbTest, CheckVerifiesTheIndexTagByTagAndReindexRepairsIt) {
    const QString office = path(QStringLiteral("oficina"));
    ASSERT_EQ(qevdb({QStringLiteral("init"), office, QStringLiteral("--demo")}).code, 0);
    const QString table = office + QStringLiteral("/PED.DBF");
    const QString index = office + QStringLiteral("/PED.MDX");
    ASSERT_EQ(qevdb({QStringLiteral("check"), table}).code, 0);

    // The first tag's root (a leaf here) is made to point at record 999, which does not exist.
    const QByteArray mdx = readFile(index);
    const auto u32 = [&mdx](qint64 at) {
        return static_cast<uint32_t>(static_cast<uint8_t>(mdx[at])) |
               static_cast<uint32_t>(static_cast<uint8_t>(mdx[at + 1])) << 8;
    };
    const uint32_t root = u32(u32(544) * 512);
    writeAt(index, root * 512 + 8, QByteArray("\xE7\x03\x00\x00", 4));
    const Outcome damaged = qevdb({QStringLiteral("check"), table});
    EXPECT_EQ(damaged.code, 1);
    EXPECT_TRUE(damaged.out.contains(QStringLiteral("PED.MDX, etiqueta C_PED: la clave apunta al registro 999")))
        << damaged.out.toStdString();
    EXPECT_TRUE(damaged.out.contains(QStringLiteral("falta la clave del registro 1")));

    // A pointer past the end of the file names the page.
    writeAt(index, root * 512, QByteArray("\x00\x00\x00\x00", 4));
    writeAt(index, u32(544) * 512, QByteArray("\x50\xC3\x00\x00", 4));
    const Outcome lost = qevdb({QStringLiteral("check"), table});
    EXPECT_TRUE(lost.out.contains(QStringLiteral("PED.MDX, etiqueta C_PED, página 50000"))) << lost.out.toStdString();

    const Outcome reindex = qevdb({QStringLiteral("reindex"), table});
    ASSERT_EQ(reindex.code, 0) << reindex.err.toStdString();
    EXPECT_TRUE(reindex.out.contains(QStringLiteral("PED.DBF: índice regenerado; 5 registros, etiquetas C_PED")))
        << reindex.out.toStdString();
    const Outcome sound = qevdb({QStringLiteral("check"), table});
    EXPECT_EQ(sound.code, 0) << sound.out.toStdString();
}

TEST_F(QevDbTest, DumpListsEveryRowWithDeletedOnesFlagged) {
    const QString file = makeNotes(
        {{1, "Pérez, \"Juan\"", "línea 1\nlínea 2"}, {2, "  con blancos", dbf::Value()}, {3, "simple\tcon tab", "x"}});
    {
        auto t = dbf::Table::open(file.toStdString());
        ASSERT_TRUE(t);
        ASSERT_TRUE((*t)->setDeleted(2, true));
    }
    const Outcome csv = qevdb({QStringLiteral("dump"), file, QStringLiteral("--csv")});
    ASSERT_EQ(csv.code, 0) << csv.err.toStdString();
    EXPECT_EQ(csv.out, QStringLiteral("_NRO,_BORRADO,C_NRO,X_TEXTO,M_NOTA\n"
                                      "1,,1,\"Pérez, \"\"Juan\"\"\",\"línea 1\nlínea 2\"\n"
                                      "2,*,2,\"  con blancos\",\n"
                                      "3,,3,simple\tcon tab,x\n"));

    const Outcome text = qevdb({QStringLiteral("dump"), file});
    ASSERT_EQ(text.code, 0) << text.err.toStdString();
    EXPECT_EQ(text.out, QStringLiteral("_NRO\t_BORRADO\tC_NRO\tX_TEXTO\tM_NOTA\n"
                                       "1\t\t1\tPérez, \"Juan\"\tlínea 1\\nlínea 2\n"
                                       "2\t*\t2\t  con blancos\t\n"
                                       "3\t\t3\tsimple\\tcon tab\tx\n"));
}

TEST_F(QevDbTest, CheckPassesASoundTableAndNamesTheDamageOfBrokenOnes) {
    const QString file = makeNotes({{1, "uno", "primera nota"}, {2, "dos", "segunda nota"}, {3, "tres", "tercera"}});
    const Outcome sound = qevdb({QStringLiteral("check"), file});
    EXPECT_EQ(sound.code, 0) << sound.out.toStdString() << sound.err.toStdString();
    EXPECT_TRUE(sound.out.contains(QStringLiteral("sin problemas")));

    // A copy cut short in its last record.
    const QString cut = path(QStringLiteral("cortada.dbf"));
    ASSERT_TRUE(QFile::copy(file, cut));
    ASSERT_TRUE(QFile::copy(path(QStringLiteral("notas.dbt")), path(QStringLiteral("cortada.dbt"))));
    QFile::resize(cut, QFileInfo(cut).size() - 20);
    const Outcome truncated = qevdb({QStringLiteral("check"), cut});
    EXPECT_EQ(truncated.code, 1);
    EXPECT_TRUE(truncated.out.contains(QStringLiteral("cortada.dbf: el archivo tiene"))) << truncated.out.toStdString();
    EXPECT_TRUE(truncated.out.contains(QStringLiteral("solo hay 2 registros completos")));

    // A memo pointer beyond the end of the memo file, another that does not start a memo, and a bad number.
    const QString bad = path(QStringLiteral("rota.dbf"));
    ASSERT_TRUE(QFile::copy(file, bad));
    ASSERT_TRUE(QFile::copy(path(QStringLiteral("notas.dbt")), path(QStringLiteral("rota.dbt"))));
    writeAt(bad, fieldOffset(bad, 2, "M_NOTA"), QByteArray("      9999"));
    writeAt(bad, fieldOffset(bad, 3, "C_NRO"), QByteArray("x3y4"));
    const Outcome broken = qevdb({QStringLiteral("check"), bad});
    EXPECT_EQ(broken.code, 1);
    EXPECT_TRUE(broken.out.contains(QStringLiteral("rota.dbf: registro 2, campo M_NOTA: el puntero de memo 9999 queda "
                                                   "fuera de rota.dbt")))
        << broken.out.toStdString();
    EXPECT_TRUE(broken.out.contains(QStringLiteral("rota.dbf: registro 3, campo C_NRO")));
    EXPECT_FALSE(broken.out.contains(QStringLiteral("registro 1,")));
    EXPECT_TRUE(broken.out.contains(QStringLiteral("2 problemas")));

    // Record 2 pointing at record 1's memo block.
    const QString shared = path(QStringLiteral("cruzada.dbf"));
    ASSERT_TRUE(QFile::copy(file, shared));
    ASSERT_TRUE(QFile::copy(path(QStringLiteral("notas.dbt")), path(QStringLiteral("cruzada.dbt"))));
    const QByteArray first = readFile(shared).mid(fieldOffset(shared, 1, "M_NOTA"), 10);
    writeAt(shared, fieldOffset(shared, 2, "M_NOTA"), first);
    const Outcome crossed = qevdb({QStringLiteral("check"), shared});
    EXPECT_EQ(crossed.code, 1);
    EXPECT_TRUE(crossed.out.contains(QStringLiteral("registro 2, campo M_NOTA"))) << crossed.out.toStdString();
    EXPECT_TRUE(crossed.out.contains(QStringLiteral("también lo usa el registro 1")));

    // Not a table at all, and a file that is missing.
    const QString junk = path(QStringLiteral("basura.dbf"));
    QFile j(junk);
    ASSERT_TRUE(j.open(QIODevice::WriteOnly));
    j.write(QByteArray(100, 'z'));
    j.close();
    const Outcome unreadable = qevdb({QStringLiteral("check"), junk});
    EXPECT_EQ(unreadable.code, 2);
    EXPECT_TRUE(unreadable.err.contains(QStringLiteral("basura.dbf"))) << unreadable.err.toStdString();
    EXPECT_EQ(qevdb({QStringLiteral("check"), path(QStringLiteral("falta.dbf"))}).code, 2);
}

TEST_F(QevDbTest, PackRemovesDeletedRowsAndNeedsTheTableForItself) {
    const QString file = makeNotes({{1, "uno", "primera"}, {2, "dos", "segunda"}, {3, "tres", "tercera"}});
    {
        auto t = dbf::Table::open(file.toStdString());
        ASSERT_TRUE(t);
        ASSERT_TRUE((*t)->setDeleted(2, true));

        // While another open holds the table, pack is refused and nothing changes.
        const QByteArray before = readFile(file);
        const Outcome busy = qevdb({QStringLiteral("pack"), file});
        EXPECT_EQ(busy.code, 1);
        EXPECT_TRUE(busy.err.contains(QStringLiteral("notas.dbf"))) << busy.err.toStdString();
        EXPECT_EQ(readFile(file), before);
    }
    const Outcome pack = qevdb({QStringLiteral("pack"), file});
    ASSERT_EQ(pack.code, 0) << pack.err.toStdString();
    EXPECT_TRUE(pack.out.contains(QStringLiteral("2 registros, 1 borrados eliminados"))) << pack.out.toStdString();

    auto t = dbf::Table::open(file.toStdString(), dbf::OpenMode::ReadOnly);
    ASSERT_TRUE(t);
    ASSERT_EQ((*t)->recordCount(), 2u);
    auto r1 = (*t)->read(1);
    auto r2 = (*t)->read(2);
    ASSERT_TRUE(r1 && r2);
    EXPECT_EQ(r1->values[1], dbf::Value("uno"));
    EXPECT_EQ(r2->values[1], dbf::Value("tres"));
    EXPECT_EQ(r2->values[2], dbf::Value("tercera"));
    EXPECT_FALSE(r2->deleted);
    EXPECT_EQ(qevdb({QStringLiteral("check"), file}).code, 0);
}

TEST_F(QevDbTest, SqlRunsStatementsWithTypedParameters) {
    const QString office = path(QStringLiteral("oficina"));
    ASSERT_EQ(qevdb({QStringLiteral("init"), office}).code, 0);
    const QString prior = office + QStringLiteral("/prior.DBF");

    const Outcome select = qevdb({QStringLiteral("sql"), office,
                                  QStringLiteral("SELECT c_prior, x_prior FROM \"prior.dbf\" WHERE c_prior "
                                                 ">= :desde AND x_prior <> :texto ORDER BY c_prior"),
                                  QStringLiteral("--param"), QStringLiteral("desde:num=2"), QStringLiteral("--param"),
                                  QStringLiteral("texto=48 Horas")});
    ASSERT_EQ(select.code, 0) << select.err.toStdString();
    EXPECT_EQ(select.out, QStringLiteral("C_PRIOR\tX_PRIOR\n3\t5 Dias\n4\t10 Dias\n(2 filas)\n"));

    // Dates, logicals and nulls reach the statement with their types.
    ASSERT_EQ(qevdb({QStringLiteral("sql"), office,
                     QStringLiteral("ALTER TABLE \"prior.dbf\" ADD F_ALTA DATE, ADD M_ACTIVA BOOLEAN")})
                  .code,
              0);
    const Outcome update =
        qevdb({QStringLiteral("sql"), office,
               QStringLiteral("UPDATE \"prior.dbf\" SET f_alta = :alta, m_activa = :activa, "
                              "x_prior = :nada WHERE c_prior = 4"),
               QStringLiteral("--param"), QStringLiteral("alta:date=2024-01-05"), QStringLiteral("--param"),
               QStringLiteral(":activa:bool=s"), QStringLiteral("--param"), QStringLiteral("nada:null")});
    ASSERT_EQ(update.code, 0) << update.err.toStdString();
    EXPECT_EQ(update.out, QStringLiteral("1 fila modificada\n"));
    const Outcome after = qevdb({QStringLiteral("sql"), office,
                                 QStringLiteral("SELECT c_prior, f_alta, m_activa, x_prior FROM prior WHERE f_alta < "
                                                ":limite"),
                                 QStringLiteral("--csv"), QStringLiteral("--param"),
                                 QStringLiteral("limite:datetime=2024-01-05T00:00:01")});
    ASSERT_EQ(after.code, 0) << after.err.toStdString();
    EXPECT_EQ(after.out, QStringLiteral("C_PRIOR,F_ALTA,M_ACTIVA,X_PRIOR\n4,2024-01-05,T,\n"));

    // A statement the table refuses, or a parameter of the wrong form, changes nothing.
    const QByteArray before = readFile(prior);
    const Outcome tooLong =
        qevdb({QStringLiteral("sql"), office, QStringLiteral("UPDATE prior SET x_prior = :t"),
               QStringLiteral("--param"), QStringLiteral("t=un texto de prioridad demasiado largo para el campo")});
    EXPECT_EQ(tooLong.code, 1);
    EXPECT_FALSE(tooLong.err.isEmpty());
    const Outcome badDate = qevdb({QStringLiteral("sql"), office, QStringLiteral("UPDATE prior SET f_alta = :d"),
                                   QStringLiteral("--param"), QStringLiteral("d:date=2024-02-30")});
    EXPECT_EQ(badDate.code, 2);
    EXPECT_TRUE(badDate.err.contains(QStringLiteral("el parámetro d no es una fecha"))) << badDate.err.toStdString();
    EXPECT_EQ(qevdb({QStringLiteral("sql"), office, QStringLiteral("SELECT 1"), QStringLiteral("--param"),
                     QStringLiteral("n:num=cinco")})
                  .code,
              2);
    EXPECT_EQ(qevdb({QStringLiteral("sql"), office, QStringLiteral("SELECT * FROM nada")}).code, 1);
    EXPECT_EQ(readFile(prior), before);
}

TEST_F(QevDbTest, WrongUsageIsExplainedOnStandardError) {
    const Outcome none = qevdb({});
    EXPECT_EQ(none.code, 2);
    EXPECT_TRUE(none.err.contains(QStringLiteral("Uso: qevdb")));
    const Outcome unknown = qevdb({QStringLiteral("borrar"), QStringLiteral("x.dbf")});
    EXPECT_EQ(unknown.code, 2);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("comando desconocido: borrar")));
    EXPECT_EQ(qevdb({QStringLiteral("dump"), QStringLiteral("a.dbf"), QStringLiteral("--xml")}).code, 2);
    EXPECT_EQ(qevdb({QStringLiteral("schema")}).code, 2);
    const Outcome help = qevdb({QStringLiteral("help")});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("NOMBRE:date=2024-01-05")));
    const Outcome missing = qevdb({QStringLiteral("dump"), path(QStringLiteral("no-existe.dbf"))});
    EXPECT_EQ(missing.code, 1);
    EXPECT_TRUE(missing.err.contains(QStringLiteral("no-existe.dbf")));
}

} // namespace
} // namespace qev
