// A new office folder: every table with its fields in declared order, the lookup data the rules rely on, the
// default settings, the demo requests, and the refusal to touch a folder that already has tables.
#include "core/OfficeSchema.h"
#include "FixedClock.h"
#include "MdxDecoder.h"
#include "TempAppDir.h"
#include "dbf/Table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>

namespace qev {
namespace {

using dbf::FieldDef;
using dbf::Value;

struct TableRows {
    std::vector<FieldDef> fields;
    std::vector<dbf::Row> rows;

    int col(const char* name) const {
        for (size_t i = 0; i < fields.size(); ++i) {
            if (QString::fromStdString(fields[i].name).compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                return static_cast<int>(i);
        }
        ADD_FAILURE() << "no field " << name;
        return -1;
    }
    const Value& at(size_t row, const char* name) const {
        static const Value kNone;
        const int c = col(name);
        return c < 0 ? kNone : rows[row].values[static_cast<size_t>(c)];
    }
    std::string text(size_t row, const char* name) const {
        const Value& v = at(row, name);
        return v.isText() ? v.text() : std::string();
    }
    double number(size_t row, const char* name) const {
        const Value& v = at(row, name);
        return v.isNumber() ? v.number() : -1;
    }
    // First row whose field equals `key` as text.
    std::optional<size_t> find(const char* name, const std::string& key) const {
        for (size_t r = 0; r < rows.size(); ++r) {
            if (at(r, name).toString() == key) return r;
        }
        return std::nullopt;
    }
};

TableRows readAll(const QString& path) {
    TableRows t;
    auto opened = dbf::Table::open(path.toStdString(), dbf::OpenMode::ReadOnly);
    if (!opened) {
        ADD_FAILURE() << opened.error();
        return t;
    }
    t.fields = (*opened)->fields();
    const uint32_t n = (*opened)->recordCount();
    for (uint32_t r = 1; r <= n; ++r) {
        auto row = (*opened)->read(r);
        if (!row) {
            ADD_FAILURE() << row.error();
            return t;
        }
        t.rows.push_back(*row);
    }
    return t;
}

std::vector<std::string> names(const std::vector<FieldDef>& fields) {
    std::vector<std::string> n;
    for (const auto& f : fields)
        n.push_back(f.name);
    return n;
}

// A folder's files with their contents, to prove that a refused set-up changed nothing.
std::map<QString, QByteArray> snapshot(const QString& dir) {
    std::map<QString, QByteArray> files;
    for (const QString& name : QDir(dir).entryList(QDir::Files)) {
        QFile f(dir + QLatin1Char('/') + name);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        files[name] = f.readAll();
    }
    return files;
}

class OfficeFolderTest : public ::testing::Test {
protected:
    void create(bool demo) {
        QString error;
        ASSERT_TRUE(createOfficeFolder(m_dir.path(), demo, m_clock, &error)) << error.toStdString();
    }
    TableRows table(const char* component) const {
        const TableSpec* def = findOfficeTable(QString::fromLatin1(component));
        EXPECT_NE(def, nullptr) << component;
        return def ? readAll(m_dir.file(def->fileName)) : TableRows{};
    }

    test::TempAppDir m_dir;
    test::FixedClock m_clock{QDateTime(QDate(2024, 3, 15), QTime(10, 0))};
};

TEST_F(OfficeFolderTest, EveryTableIsWrittenAtLevel7WithItsFieldsInDeclaredOrder) {
    create(false);
    ASSERT_EQ(officeTables().size(), 20u);
    for (const TableSpec& def : officeTables()) {
        // The exact file name the program uses, not merely one that differs in case.
        const QString path = m_dir.file(def.fileName);
        ASSERT_TRUE(QFileInfo::exists(path)) << def.fileName.toStdString();
        auto t = dbf::Table::open(path.toStdString(), dbf::OpenMode::ReadOnly);
        ASSERT_TRUE(t) << t.error();
        EXPECT_EQ((*t)->level(), dbf::Level::DBase7) << def.fileName.toStdString();
        EXPECT_EQ((*t)->languageDriver(), "DBWINUS0");
        EXPECT_EQ((*t)->fields(), def.fields) << def.fileName.toStdString();
        if (!def.keyField.isEmpty()) {
            EXPECT_GE(def.fieldIndex(def.keyField), 0) << def.fileName.toStdString();
            EXPECT_TRUE((*t)->setIndex(def.keyField.toStdString())) << def.fileName.toStdString();
        }
    }
}

TEST_F(OfficeFolderTest, RequestTablesHoldTheStoredFieldsOnlyInTheirOrder) {
    create(false);
    const std::vector<std::string> ped = {
        "C_PED",      "C_SEXO",     "C_TDOC",     "C_NAC",      "C_PROV",     "C_ORG",      "F_PED",      "X_SEC",
        "X_DOM",      "C_CODPOS",   "X_LOC",      "X_DELITO",   "N_PRONT",    "X_APE1",     "X_APE2",     "X_NOM1",
        "X_NOM2",     "X_NOM3",     "F_NAC",      "N_EDAD",     "N_DOC",      "C_PROVCI",   "X_NOMPADR1", "X_NOMPADR2",
        "X_NOMPADR3", "X_APEMADR1", "X_APEMADR2", "X_NOMMADR1", "X_NOMMADR2", "X_NOMMADR3", "M_ENVIADO",  "M_CONTESTA",
        "X_OBS",      "B_HUELLA",   "C_REG",      "B_RESP",     "N_EXPE",     "F_CON",      "C_PRIOR",    "N_CAUSA",
        "C_EST",      "C_TDEL",     "C_CARPED",   "C_CLASDER",  "C_CLASIZQ",  "M_EXCART51", "M_TOMA_KRB", "M_ESPECIAL",
        "M_MENOR",    "X_RECHAZO",  "C_VERSION",  "N_REF",      "C_PREFIJO",  "C_SUFIJO",   "X_EMAIL",    "X_OAPE"};
    const std::vector<std::string> pedp = {
        "C_PED",        "C_SEXO",     "C_TDOC",     "C_NAC",      "C_PROV_S",   "F_PED",      "X_DOM_S",
        "C_CODPOS_S",   "X_LOC_S",    "X_APE1",     "X_APE2",     "X_NOM1",     "X_NOM2",     "X_NOM3",
        "F_NAC",        "N_DOC",      "X_NOMPADR1", "X_NOMPADR2", "X_NOMPADR3", "X_APEMADR1", "X_APEMADR2",
        "X_NOMMADR1",   "X_NOMMADR2", "X_NOMMADR3", "X_OBS",      "C_REG",      "N_EXPE",     "C_EST",
        "C_RECHAZO",    "N_CERT",     "C_PRIOR",    "F_CON",      "C_EXPP",     "C_TPED",     "C_RES",
        "N_RECIBO_E",   "N_RECIBO_M", "C_BANCO",    "C_PREFIJO",  "C_SUFIJO",   "C_TRAM",     "C_LOGIN",
        "X_OAPE",       "C_CLASDER",  "C_CLASIZQ",  "M_EXCART51", "X_RECHAZO",  "F_PAGO",     "C_PAGO",
        "C_PAGO_DOMIC", "C_SEGUR",    "VERIF_ID",   "F_CAPTURA",  "C_VERSION"};
    EXPECT_EQ(names(table("ped").fields), ped);
    EXPECT_EQ(names(table("pedp").fields), pedp);
    EXPECT_EQ(names(table("sup").fields),
              (std::vector<std::string>{"C_PED", "C_REG", "X_APE1", "X_APE2", "X_NOM1", "X_NOM2", "X_NOM3", "C_PROV"}));
    EXPECT_EQ(names(table("org").fields),
              (std::vector<std::string>{"C_ORG", "X_ORG", "X_DOM", "X_LOC", "C_CODPOS", "C_PROV", "X_EMAIL"}));
}

TEST_F(OfficeFolderTest, FieldTypesAndWidthsFollowTheirKinds) {
    create(false);
    const TableRows ped = table("ped");
    auto def = [&ped](const char* name) { return ped.fields[static_cast<size_t>(ped.col(name))]; };
    EXPECT_EQ(def("C_PED"), (FieldDef{"C_PED", 'N', 8, 0}));
    EXPECT_EQ(def("C_NAC"), (FieldDef{"C_NAC", 'N', 6, 0}));        // 16-bit with its sign
    EXPECT_EQ(def("C_REG"), (FieldDef{"C_REG", 'N', 4, 0}));        // as wide as in sup
    EXPECT_EQ(def("C_TDEL"), (FieldDef{"C_TDEL", 'N', 4, 0}));      // as the upgrade adds it
    EXPECT_EQ(def("N_CAUSA"), (FieldDef{"N_CAUSA", 'C', 15, 0}));   // the widened width
    EXPECT_EQ(def("B_HUELLA"), (FieldDef{"B_HUELLA", 'B', 10, 0})); // binary memo in the .DBT
    EXPECT_EQ(def("F_PED"), (FieldDef{"F_PED", 'D', 8, 0}));
    EXPECT_EQ(def("M_MENOR"), (FieldDef{"M_MENOR", 'L', 1, 0}));
    EXPECT_EQ(def("X_RECHAZO"), (FieldDef{"X_RECHAZO", 'C', 225, 0}));

    const TableRows sup = table("sup");
    EXPECT_EQ(sup.fields[0], (FieldDef{"C_PED", 'N', 8, 0}));
    EXPECT_EQ(sup.fields[1], (FieldDef{"C_REG", 'N', 4, 0}));
    EXPECT_EQ(table("usu").fields,
              (std::vector<FieldDef>{{"C_LOGIN", 'C', 10, 0}, {"X_USU", 'C', 80, 0}, {"C_CLAVE", 'C', 10, 0}}));
    EXPECT_EQ(table("tram").fields,
              (std::vector<FieldDef>{{"C_TRAM", 'C', 1, 0}, {"C_PRIOR", 'C', 1, 0}, {"X_TRAM", 'C', 15, 0}}));
    EXPECT_EQ(table("url").fields, (std::vector<FieldDef>{{"N_PRIOR", 'N', 6, 0}, {"X_URL", 'C', 40, 0}}));
    EXPECT_EQ(names(table("tdel").fields),
              (std::vector<std::string>{"C_TDEL", "N_LEY", "N_ART", "N_INC", "X_TDEL", "C_TDEL_P"}));
    const TableRows tdel = table("tdel");
    EXPECT_EQ(tdel.fields[4], (FieldDef{"X_TDEL", 'C', 254, 0}));
    EXPECT_GE(table("tdoc").col("C_EXPORT"), 0);
}

TEST_F(OfficeFolderTest, LookupTablesHoldWhatTheRulesNeed) {
    create(false);
    const TableRows tram = table("tram");
    const TableRows prior = table("prior");
    const auto exempt = tram.find("C_TRAM", "6");
    ASSERT_TRUE(exempt);
    EXPECT_EQ(tram.text(*exempt, "C_PRIOR"), "3");
    const auto five = prior.find("C_PRIOR", "3");
    ASSERT_TRUE(five);
    EXPECT_EQ(prior.text(*five, "X_PRIOR"), "5 Dias");
    // The priority each kind implies is a priority that exists.
    for (size_t r = 0; r < tram.rows.size(); ++r)
        EXPECT_TRUE(prior.find("C_PRIOR", tram.text(r, "C_PRIOR"))) << tram.text(r, "C_TRAM");

    const TableRows tdel = table("tdel");
    QSet<int> categories;
    for (size_t r = 0; r < tdel.rows.size(); ++r) {
        if (tdel.number(r, "C_TDEL_P") == 0) categories.insert(static_cast<int>(tdel.number(r, "C_TDEL")));
    }
    EXPECT_GE(categories.size(), 2);
    QSet<int> used;
    for (size_t r = 0; r < tdel.rows.size(); ++r) {
        const int parent = static_cast<int>(tdel.number(r, "C_TDEL_P"));
        if (parent == 0) continue;
        EXPECT_TRUE(categories.contains(parent)) << "offence " << tdel.number(r, "C_TDEL") << " under " << parent;
        EXPECT_FALSE(tdel.text(r, "N_LEY").empty());
        EXPECT_FALSE(tdel.text(r, "N_ART").empty());
        used.insert(parent);
    }
    EXPECT_EQ(used, categories) << "every category groups at least one offence";

    const TableRows est = table("Est");
    for (const char* code : {"I", "E", "T", "C", "R", "D"})
        EXPECT_TRUE(est.find("C_EST", code)) << code;
    const TableRows carped = table("carped");
    EXPECT_TRUE(carped.find("C_CARPED", "C"));
    EXPECT_TRUE(carped.find("C_CARPED", "N"));
    const TableRows tdoc = table("tdoc");
    ASSERT_FALSE(tdoc.rows.empty());
    for (size_t r = 0; r < tdoc.rows.size(); ++r)
        EXPECT_FALSE(tdoc.text(r, "C_EXPORT").empty());
    EXPECT_GE(table("prov").rows.size(), 24u);
    for (const char* t : {"nac", "sexo", "expp", "res", "estcent"})
        EXPECT_FALSE(table(t).rows.empty()) << t;
    const auto cordoba = table("prov").find("C_PROV", "14");
    ASSERT_TRUE(cordoba);
    EXPECT_EQ(table("prov").text(*cordoba, "X_PROV"), "Córdoba");

    const TableRows url = table("url");
    ASSERT_EQ(url.rows.size(), 1u);
    EXPECT_EQ(url.text(0, "X_URL"), kDefaultCentralUrl);
    EXPECT_EQ(url.number(0, "N_PRIOR"), 1);

    const TableRows usu = table("usu");
    const auto admin = usu.find("C_LOGIN", "admin");
    ASSERT_TRUE(admin);
    // No password stored: "admin" logs in with his own name and is told to change it.
    EXPECT_TRUE(usu.at(*admin, "C_CLAVE").isNull());

    const TableRows sec = table("sec");
    for (const char* object : {"ped", "pedp", "org"}) {
        const auto r = sec.find("C_SEC", object);
        ASSERT_TRUE(r) << object;
        EXPECT_EQ(sec.number(*r, "N_SEC"), 0) << object;
    }
    EXPECT_TRUE(table("ped").rows.empty());
    EXPECT_TRUE(table("pedp").rows.empty());
    EXPECT_TRUE(table("org").rows.empty());
}

TEST_F(OfficeFolderTest, SettingsHoldEveryKeyOnceWithUsableValues) {
    create(false);
    const TableRows amb = table("amb");
    const char* keys[] = {"c_reg",      "c_regp",     "x_reg",        "x_toreg",    "x_toregp",   "x_msgreg",
                          "x_msgregp",  "x_msgexp",   "x_msgexpp",    "x_msgconfp", "frec_recep", "dur_guarda",
                          "max_contes", "url_cert",   "m_impauto",    "m_impconfp", "m_fecpago",  "dias_fpago",
                          "m_domic",    "m_nomi",     "m_chkdatbol",  "m_segur",    "m_obli_doc", "m_es_suc",
                          "LiveScan",   "AutoAvance", "crlt_quality", "flip_hor",   "flip_ver",   "envWebService",
                          "usaOutlook", "waitFin",    "pop3Name",     "pop3Port",   "pop3User",   "pop3PwdE",
                          "smtpName",   "smtpPort",   "userEmail",    "emailFwd",   "LogOpeMail", "http_proxy",
                          "http_port",  "proxy_user", "proxy_pass"};
    std::map<std::string, int> seen;
    for (size_t r = 0; r < amb.rows.size(); ++r)
        ++seen[amb.text(r, "C_AMB")];
    for (const char* key : keys)
        EXPECT_EQ(seen[key], 1) << key;
    EXPECT_EQ(seen.size(), std::size(keys)) << "no key beyond the known ones";
    EXPECT_EQ(seen.count("pop3Pass"), 0u) << "the old plain password key is only ever migrated";

    auto value = [&amb](const char* key) { return amb.text(*amb.find("C_AMB", key), "X_AMB"); };
    EXPECT_EQ(value("dur_guarda"), "15");
    EXPECT_EQ(value("max_contes"), "1");
    EXPECT_EQ(value("dias_fpago"), "365");
    EXPECT_GT(std::stoi(value("frec_recep")), 0);
    EXPECT_EQ(value("c_reg"), std::to_string(kDefaultOfficeCode));
    EXPECT_EQ(value("x_reg"), kDefaultOfficeName);
    EXPECT_EQ(value("LiveScan"), "Ninguno");
    for (const char* flag : {"m_impauto", "m_impconfp", "m_fecpago", "m_domic", "m_nomi", "m_chkdatbol", "m_segur",
                             "m_obli_doc", "m_es_suc", "envWebService", "usaOutlook", "waitFin", "LogOpeMail"}) {
        const std::string v = value(flag);
        EXPECT_TRUE(v == "S" || v == "N") << flag << "=" << v;
    }
    // Subjects of the office's own messages must differ from each other and from the fixed ones.
    QSet<QString> subjects{QStringLiteral("CONFIRMO"), QStringLiteral("RECHAZO"), QStringLiteral("RECHAZOP"),
                           QStringLiteral("SETESTADO")};
    for (const char* key : {"x_msgreg", "x_msgregp", "x_msgexp", "x_msgexpp", "x_msgconfp"}) {
        const QString s = QString::fromStdString(value(key));
        EXPECT_FALSE(s.isEmpty()) << key;
        EXPECT_FALSE(subjects.contains(s)) << key;
        subjects.insert(s);
    }
}

TEST_F(OfficeFolderTest, DemoRequestsAreConsistentWithLookupsAndSequences) {
    create(true);
    const TableRows ped = table("ped");
    const TableRows pedp = table("pedp");
    const TableRows org = table("org");
    const TableRows sec = table("sec");
    const TableRows tram = table("tram");
    const TableRows tdel = table("tdel");
    ASSERT_FALSE(ped.rows.empty());
    ASSERT_FALSE(pedp.rows.empty());
    ASSERT_FALSE(org.rows.empty());

    auto maxOf = [](const TableRows& t, const char* field) {
        double m = 0;
        for (size_t r = 0; r < t.rows.size(); ++r)
            m = std::max(m, t.number(r, field));
        return m;
    };
    EXPECT_EQ(sec.number(*sec.find("C_SEC", "ped"), "N_SEC"), maxOf(ped, "C_PED"));
    EXPECT_EQ(sec.number(*sec.find("C_SEC", "pedp"), "N_SEC"), maxOf(pedp, "C_PED"));
    EXPECT_EQ(sec.number(*sec.find("C_SEC", "org"), "N_SEC"), maxOf(org, "C_ORG"));

    QSet<QString> officialStates;
    for (size_t r = 0; r < ped.rows.size(); ++r) {
        const std::string state = ped.text(r, "C_EST");
        officialStates.insert(QString::fromStdString(state));
        EXPECT_TRUE(org.find("C_ORG", ped.at(r, "C_ORG").toString())) << "ped " << r;
        const auto offence = tdel.find("C_TDEL", ped.at(r, "C_TDEL").toString());
        ASSERT_TRUE(offence);
        EXPECT_NE(tdel.number(*offence, "C_TDEL_P"), 0) << "an offence, not a category";
        EXPECT_EQ(ped.at(r, "M_ENVIADO").boolean(), state != "I");
        EXPECT_EQ(ped.at(r, "M_CONTESTA").boolean(), state == "C");
        EXPECT_EQ(ped.at(r, "F_CON").isNull(), state != "C");
        EXPECT_EQ(ped.number(r, "C_REG"), kDefaultOfficeCode);
    }
    EXPECT_EQ(officialStates, (QSet<QString>{"I", "E", "T", "C", "R"}));

    QSet<QString> personalStates;
    bool anyExempt = false;
    for (size_t r = 0; r < pedp.rows.size(); ++r) {
        personalStates.insert(QString::fromStdString(pedp.text(r, "C_EST")));
        const std::string kind = pedp.text(r, "C_TRAM");
        const auto k = tram.find("C_TRAM", kind);
        ASSERT_TRUE(k) << kind;
        EXPECT_EQ(pedp.at(r, "C_PRIOR").toString(), tram.text(*k, "C_PRIOR"));
        const std::string payment = pedp.text(r, "C_PAGO");
        ASSERT_EQ(payment.size(), 11u);
        EXPECT_EQ(payment.substr(1, 1), kind);
        EXPECT_EQ(pedp.text(r, "C_SEGUR").size(), 10u);
        if (kind == "6") {
            anyExempt = true;
            EXPECT_EQ(pedp.number(r, "C_PRIOR"), 3);
            EXPECT_TRUE(pedp.at(r, "C_BANCO").isNull());
            EXPECT_TRUE(pedp.at(r, "F_PAGO").isNull());
        } else {
            EXPECT_EQ(pedp.number(r, "C_BANCO"), 2);
        }
    }
    EXPECT_TRUE(anyExempt);
    EXPECT_EQ(personalStates, (QSet<QString>{"I", "E", "T", "C", "R", "D"}));

    // Answers are recent enough that closing the program does not purge them at once.
    const QDate cutoff = m_clock.today().addDays(-15);
    for (const TableRows* t : {&ped, &pedp}) {
        for (size_t r = 0; r < t->rows.size(); ++r) {
            const Value& answered = t->at(r, "F_CON");
            if (answered.isNull()) continue;
            const dbf::Date d = answered.date();
            EXPECT_GE(QDate(d.year, d.month, d.day), cutoff);
        }
    }
    const TableRows sup = table("sup");
    for (size_t r = 0; r < sup.rows.size(); ++r)
        EXPECT_TRUE(ped.find("C_PED", sup.at(r, "C_PED").toString()));
}

TEST_F(OfficeFolderTest, RefusesAFolderThatHasAnyOfficeTableAndChangesNothing) {
    // A lower-case name, a memo file without its table and an index count as tables already there.
    for (const char* present : {"ped.dbf", "PEDP.DBT", "Org.mdx"}) {
        test::TempAppDir dir;
        QFile f(dir.file(QString::fromLatin1(present)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("datos de la oficina que no deben perderse");
        f.close();
        const auto before = snapshot(dir.path());
        QString error;
        EXPECT_FALSE(createOfficeFolder(dir.path(), true, m_clock, &error)) << present;
        EXPECT_TRUE(error.contains(QString::fromLatin1(present))) << error.toStdString();
        EXPECT_EQ(snapshot(dir.path()), before) << present;
    }
}

TEST_F(OfficeFolderTest, ATableThatCannotBeWrittenLeavesTheFolderAsItWas) {
    // A folder where "Est.DBF" is taken by a directory: the tables made before it are removed again.
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(QStringLiteral("Est.DBF")));
    QFile other(m_dir.file(QStringLiteral("notas.txt")));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("otro archivo");
    other.close();
    const auto before = snapshot(m_dir.path());
    QString error;
    EXPECT_FALSE(createOfficeFolder(m_dir.path(), true, m_clock, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("Est.DBF"))) << error.toStdString();
    EXPECT_EQ(snapshot(m_dir.path()), before);
    EXPECT_TRUE(QFileInfo(m_dir.file(QStringLiteral("Est.DBF"))).isDir());
}

TEST_F(OfficeFolderTest, CreatesTheFolderWhenMissing) {
    const QString nested = m_dir.path() + QStringLiteral("/oficina/nueva");
    QString error;
    ASSERT_TRUE(createOfficeFolder(nested, false, m_clock, &error)) << error.toStdString();
    EXPECT_TRUE(QFileInfo::exists(nested + QStringLiteral("/PED.DBF")));
    EXPECT_EQ(existingOfficeFiles(nested).size(), 33)
        << "20 tables, the requests' memo file and the production indexes of 12 tables";
}

TEST(OfficeTablesTest, FindsTablesByComponentOrFileNameInAnyCase) {
    ASSERT_NE(findOfficeTable(QStringLiteral("pedp")), nullptr);
    EXPECT_EQ(findOfficeTable(QStringLiteral("PEDP.dbf")), findOfficeTable(QStringLiteral("pedp")));
    EXPECT_EQ(findOfficeTable(QStringLiteral("est"))->fileName, QStringLiteral("Est.DBF"));
    EXPECT_EQ(findOfficeTable(QStringLiteral("ped"))->keyField, QStringLiteral("C_PED"));
    EXPECT_EQ(findOfficeTable(QStringLiteral("expp"))->keyField, QStringLiteral("X_EXPP"));
    EXPECT_TRUE(findOfficeTable(QStringLiteral("sexo"))->keyField.isEmpty());
    EXPECT_EQ(findOfficeTable(QStringLiteral("packer")), nullptr);
    EXPECT_EQ(findOfficeTable(QString()), nullptr);
}

TEST_F(OfficeFolderTest, OfficeTablesOpenInKeyOrderWhateverTheCaseOfTheirFiles) {
    create(true);
    // An older folder may name its files in other cases.
    QDir(m_dir.path()).rename(QStringLiteral("org.DBF"), QStringLiteral("ORG.dbf"));
    const TableSpec* org = findOfficeTable(QStringLiteral("org"));
    ASSERT_NE(org, nullptr);
    {
        // Append an organisation whose key sorts before the others, at the end of the file.
        auto t = openOfficeTable(m_dir.path(), *org);
        ASSERT_TRUE(t.ok()) << t.error();
        dbf::Record row((*t)->fields().size());
        row[static_cast<size_t>((*t)->fieldIndex("C_ORG"))] = dbf::Value(0);
        row[static_cast<size_t>((*t)->fieldIndex("X_ORG"))] = dbf::Value("PRIMERO EN ORDEN");
        ASSERT_TRUE((*t)->append(row).ok());
    }
    auto t = openOfficeTable(m_dir.path(), *org);
    ASSERT_TRUE(t.ok()) << t.error();
    EXPECT_EQ((*t)->indexField(), "C_ORG");
    auto order = (*t)->orderedRecords();
    ASSERT_TRUE(order.ok());
    ASSERT_GE(order->size(), 2u);
    EXPECT_EQ(order->front(), (*t)->recordCount());
    double previous = -1;
    for (uint32_t recno : *order) {
        const double key = (*t)->readField(recno, (*t)->fieldIndex("C_ORG"))->number();
        EXPECT_GT(key, previous);
        previous = key;
    }
    auto found = (*t)->find(dbf::Value(0));
    ASSERT_TRUE(found.ok());
    EXPECT_EQ(found->value_or(0), (*t)->recordCount());
    const TableSpec* sexo = findOfficeTable(QStringLiteral("sexo"));
    auto unkeyed = openOfficeTable(m_dir.path(), *sexo);
    ASSERT_TRUE(unkeyed.ok());
    EXPECT_TRUE((*unkeyed)->indexField().empty());
}

} // namespace
} // namespace qev

namespace qev {
namespace {

// Every tag of the table's .MDX as the tests' own decoder reads it: one key per record, keys in order, each key the
// bytes (text) or the value (numbers) of its record's field.
void expectIndexDescribesTable(const QString& path, const TableSpec& layout) {
    SCOPED_TRACE(layout.fileName.toStdString());
    bool exists = false;
    const std::string mdx = dbf::companionFile(path.toStdString(), ".MDX", &exists);
    ASSERT_TRUE(exists);
    const test::DecodedMdx m = test::decodeMdx(mdx);
    ASSERT_TRUE(m.error.empty()) << m.error;
    EXPECT_EQ(m.version, 3);
    ASSERT_EQ(m.tags.size(), 1u);
    const test::DecodedTag& tag = m.tags[0];
    EXPECT_EQ(QString::fromStdString(tag.expression).compare(layout.keyField, Qt::CaseInsensitive), 0);
    auto t = dbf::Table::open(path.toStdString(), dbf::OpenMode::ReadOnly);
    ASSERT_TRUE(t) << t.error();
    const dbf::Table& table = **t;
    EXPECT_TRUE(table.hasMdxFlag());
    const int field = table.fieldIndex(tag.expression);
    ASSERT_GE(field, 0);
    int offset = 1;
    for (int i = 0; i < field; ++i)
        offset += table.fields()[static_cast<size_t>(i)].length;
    const dbf::FieldDef& f = table.fields()[static_cast<size_t>(field)];
    ASSERT_EQ(tag.keys.size(), (*t)->recordCount());
    std::vector<bool> seen(tag.keys.size() + 1, false);
    for (size_t i = 0; i < tag.keys.size(); ++i) {
        const uint32_t recno = tag.records[i];
        ASSERT_TRUE(recno >= 1 && recno <= tag.keys.size() && !seen[recno]) << "record " << recno;
        seen[recno] = true;
        std::string raw;
        ASSERT_TRUE((*t)->readRaw(recno, 1, raw));
        const std::string bytes = raw.substr(static_cast<size_t>(offset), static_cast<size_t>(f.length));
        if (tag.keyType == 'N') {
            const double v = bytes.find_first_not_of(' ') == std::string::npos ? 0 : std::stod(bytes);
            EXPECT_EQ(test::decodeBcdKey(tag.keys[i]), v) << "record " << recno;
            if (i > 0) {
                EXPECT_LE(test::decodeBcdKey(tag.keys[i - 1]), test::decodeBcdKey(tag.keys[i]));
            }
        } else {
            EXPECT_EQ(tag.keys[i], bytes) << "record " << recno;
            if (i > 0) {
                EXPECT_LE(tag.keys[i - 1], tag.keys[i]);
            }
        }
    }
}

} // namespace

// The indexes of a demo folder stay readable by an independent reader through appends, key changes, deletes and
// a pack of every indexed table, and always describe their tables.
TEST_F(OfficeFolderTest, IndependentReaderFindsEveryKeyInOrderAfterChangesAndAPack) {
    create(true);
    std::mt19937 rng(11);
    int indexed = 0;
    for (const TableSpec& layout : officeTables()) {
        const QString path = m_dir.file(layout.fileName);
        if (!layout.productionIndex) {
            bool exists = true;
            dbf::companionFile(path.toStdString(), ".MDX", &exists);
            EXPECT_FALSE(exists) << layout.fileName.toStdString();
            continue;
        }
        ++indexed;
        expectIndexDescribesTable(path, layout);
        {
            auto t = openOfficeTable(m_dir.path(), layout, dbf::OpenMode::Shared);
            ASSERT_TRUE(t) << t.error();
            dbf::Table& table = **t;
            const auto& fields = table.fields();
            auto randomRow = [&]() {
                dbf::Record r(fields.size());
                for (size_t i = 0; i < fields.size(); ++i) {
                    if (fields[i].type == 'N') {
                        r[i] = dbf::Value(static_cast<int>(rng() % 9000) - 50);
                    } else if (fields[i].type == 'C') {
                        std::string text;
                        for (int k = 0, n = 1 + static_cast<int>(rng() % static_cast<unsigned>(fields[i].length));
                             k < n; ++k)
                            text += static_cast<char>('A' + rng() % 26);
                        r[i] = dbf::Value(text);
                    }
                }
                return r;
            };
            // Enough rows for leaves to split and an interior level to form.
            for (int i = 0; i < 400; ++i)
                ASSERT_TRUE(table.append(randomRow())) << layout.fileName.toStdString();
            const uint32_t n = table.recordCount();
            for (int i = 0; i < 60; ++i) {
                const uint32_t recno = 1 + static_cast<uint32_t>(rng() % n);
                ASSERT_TRUE(table.update(recno, randomRow()));
            }
            for (uint32_t recno = 3; recno <= n; recno += 7)
                ASSERT_TRUE(table.setDeleted(recno, true));
            ASSERT_TRUE(table.setDeleted(10, false));
        }
        expectIndexDescribesTable(path, layout);
        {
            auto t = openOfficeTable(m_dir.path(), layout, dbf::OpenMode::Exclusive, false);
            ASSERT_TRUE(t) << t.error();
            ASSERT_TRUE((*t)->pack());
        }
        expectIndexDescribesTable(path, layout);
    }
    EXPECT_EQ(indexed, 12);
}

} // namespace qev
