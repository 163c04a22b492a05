#include "requests/OfficialRequestRules.h"
#include "RequestFixture.h"
#include "core/Records.h"

#include <QDir>

namespace qev {
namespace {

using dbf::Value;
using test::RequestFixture;

const QString kPermission = QStringLiteral(
    "Se han modificado los datos de este registro.\rPresione en el navegador el tilde para grabar\ro la equis para "
    "cancelar.");

class OfficialRulesTest : public RequestFixture {
protected:
    QString fileOf(const char* kind) const { return dm->requestFile(dm->ped(), QLatin1Char(kind[0])); }
};

TEST_F(OfficialRulesTest, NewRequestTakesDefaultsAndItsNumberOnlyWhenSaved) {
    const double org = addOrganisation();
    EXPECT_EQ(org, 1);
    newOfficialRequest(org);
    Dataset& ped = dm->ped();
    EXPECT_EQ(ped.text(QStringLiteral("C_EST")), QStringLiteral("I"));
    EXPECT_EQ(ped.text(QStringLiteral("C_CARPED")), QStringLiteral("C"));
    EXPECT_EQ(ped.text(QStringLiteral("C_CLASDER")), QStringLiteral("_____"));
    EXPECT_EQ(toQDate(ped.value(QStringLiteral("F_PED"))), clock.today());
    EXPECT_EQ(ped.text(QStringLiteral("C_REG")), dm->settings().read(QStringLiteral("c_reg")));
    EXPECT_FALSE(ped.value(QStringLiteral("M_ENVIADO")).boolean());
    // The organisation's address came with its choice.
    EXPECT_EQ(ped.text(QStringLiteral("X_DOM")), QStringLiteral("AV. SIEMPRE VIVA 742"));
    EXPECT_EQ(ped.value(QStringLiteral("C_CODPOS")).number(), 5000);
    EXPECT_TRUE(ped.isNull(QStringLiteral("C_PED")));

    // Without the window's permission nothing is stored and the operator's input stays.
    EXPECT_FALSE(ped.post());
    EXPECT_EQ(prompter.lastText(), kPermission);
    EXPECT_EQ(ped.state(), Dataset::State::Insert);
    EXPECT_EQ(ped.text(QStringLiteral("X_APE1")), QStringLiteral("GOMEZ"));

    ASSERT_TRUE(save(ped)) << texts().toStdString();
    EXPECT_EQ(ped.value(QStringLiteral("C_PED")).number(), 1);
    EXPECT_EQ(ped.text(QStringLiteral("C_VERSION")), dm->versionText());
    ASSERT_TRUE(ped.insert());
    EXPECT_TRUE(ped.isNull(QStringLiteral("C_ORG"))) << "a missing organisation gives nulls";
}

TEST_F(OfficialRulesTest, RequiredFieldsInOrderAndTheOffenceOnlyForNewRequests) {
    const double org = addOrganisation();
    newOfficialRequest(org);
    Dataset& ped = dm->ped();
    ped.setNull(QStringLiteral("X_LOC"));
    ped.setNull(QStringLiteral("X_NOM1"));
    EXPECT_FALSE(save(ped));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Debe completar el campo \"Localidad\""));
    EXPECT_EQ(prompter.messages().back().caption, QStringLiteral("Advertencia"));
    ped.setValue(QStringLiteral("X_LOC"), Value("CORDOBA"));
    EXPECT_FALSE(save(ped));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Debe completar el campo \"Nombre\""));
    ped.setValue(QStringLiteral("X_NOM1"), Value("JUAN"));
    ped.setNull(QStringLiteral("C_TDEL"));
    EXPECT_FALSE(save(ped));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Debe completar el campo \"Delito\""));
    ped.setValue(QStringLiteral("C_TDEL"), Value(101));
    ped.setNull(QStringLiteral("C_CARPED"));
    ASSERT_TRUE(save(ped));
    EXPECT_EQ(ped.text(QStringLiteral("C_CARPED")), QStringLiteral("C"));

    // An old request without offence is edited and saved without being asked for one.
    ASSERT_TRUE(ped.edit());
    ped.setNull(QStringLiteral("C_TDEL"));
    ped.setValue(QStringLiteral("X_OBS"), Value("CORREGIDO"));
    prompter.clear();
    EXPECT_TRUE(save(ped)) << texts().toStdString();
}

struct AgeCase {
    const char* name;
    QDate today;
    QDate birth;  // invalid: none
    int presumed; // -1: none
    bool minor;
    const char* message; // nullptr: accepted
};

class AgeTest : public OfficialRulesTest, public ::testing::WithParamInterface<AgeCase> {};

const char* const kBirthMessage =
    "El causante debe tener entre 16 y 99 años de edad.\rVerifique la fecha de nacimiento.";
const char* const kPresumedMessage = "El causante debe tener entre 16 y 99 años de edad.\rVerifique la edad presunta.";
const char* const kCenturyMessage = "La Fecha de Nacimiento debe ser mayor a 1900";

TEST_P(AgeTest, AgesAreCountedInDaysOver365) {
    const AgeCase& c = GetParam();
    clock.set(QDateTime(c.today, QTime(9, 0)));
    newOfficialRequest(addOrganisation());
    Dataset& ped = dm->ped();
    ped.setValue(QStringLiteral("F_NAC"), fromQDate(c.birth));
    if (c.presumed >= 0) ped.setValue(QStringLiteral("N_EDAD"), Value(c.presumed));
    ped.setValue(QStringLiteral("M_MENOR"), Value(c.minor));
    prompter.clear();
    const bool saved = save(ped);
    if (c.message) {
        EXPECT_FALSE(saved);
        EXPECT_EQ(prompter.lastText(), QString::fromUtf8(c.message));
        EXPECT_TRUE(ped.isNull(QStringLiteral("C_PED"))) << "a refused request takes no number";
    } else {
        EXPECT_TRUE(saved) << texts().toStdString();
    }
}

const QDate kToday(2024, 5, 10);
INSTANTIATE_TEST_SUITE_P(
    Limits, AgeTest,
    ::testing::Values(
        AgeCase{"BornOnTheFirstDayOf1900", QDate(1999, 1, 1), QDate(1900, 1, 1), -1, false, nullptr},
        AgeCase{"BornIn1899", QDate(1999, 1, 1), QDate(1899, 12, 31), -1, true, kCenturyMessage},
        AgeCase{"A100YearOld", kToday, kToday.addDays(-100 * 365), -1, false, kBirthMessage},
        AgeCase{"A99YearOld", kToday, kToday.addDays(-100 * 365 + 1), -1, false, nullptr},
        AgeCase{"Exactly16", kToday, kToday.addDays(-16 * 365), -1, false, nullptr},
        AgeCase{"FifteenWithoutMinorFlag", kToday, kToday.addDays(-16 * 365 + 1), -1, false, kBirthMessage},
        AgeCase{"FifteenMarkedMinor", kToday, kToday.addDays(-16 * 365 + 1), -1, true, nullptr},
        AgeCase{"MinorFlagDoesNotExcuseOver99", kToday, kToday.addDays(-101 * 365), -1, true, kBirthMessage},
        AgeCase{"PresumedFifteen", kToday, QDate(), 15, false, kPresumedMessage},
        AgeCase{"PresumedFifteenMinor", kToday, QDate(), 15, true, nullptr},
        AgeCase{"PresumedHundred", kToday, QDate(), 100, true, kPresumedMessage},
        AgeCase{"Presumed99", kToday, QDate(), 99, false, nullptr}),
    [](const ::testing::TestParamInfo<AgeCase>& p) { return std::string(p.param.name); });

TEST_F(OfficialRulesTest, NamesAreNormalisedBeforeTheirCharactersAreChecked) {
    newOfficialRequest(addOrganisation());
    Dataset& ped = dm->ped();
    ped.setValue(QStringLiteral("X_APE1"), Value("  DE   LA  TORRE "));
    ped.setValue(QStringLiteral("X_APE2"), Value("O'BRIEN"));
    ped.setValue(QStringLiteral("X_NOMMADR3"), Value("NUÑEZ"));
    ped.setValue(QStringLiteral("X_OAPE"), Value("  libre  "));
    ASSERT_TRUE(save(ped)) << texts().toStdString();
    EXPECT_EQ(ped.text(QStringLiteral("X_APE1")), QStringLiteral("DE LA TORRE"));
    EXPECT_EQ(ped.text(QStringLiteral("X_OAPE")).trimmed(), QStringLiteral("libre")) << "not a checked name";

    for (const char* bad : {"Gomez", "GOMEZ2", "GOMEZ-PEREZ", "GÓMEZ"}) {
        ASSERT_TRUE(ped.edit());
        ped.setValue(QStringLiteral("X_NOM2"), Value(bad));
        prompter.clear();
        EXPECT_FALSE(save(ped)) << bad;
        EXPECT_EQ(prompter.lastText(), QString::fromUtf8(bad) + QStringLiteral(" contiene caracteres que no son "
                                                                               "válidos\rSólo se acepta A .. Z y el "
                                                                               "apostrofe"));
        ped.cancel();
    }
}

TEST_F(OfficialRulesTest, CapturedFilesAreFiledUnderTheRequestAndTheWorkFilesCleared) {
    savedOfficialRequest();
    Dataset& ped = dm->ped();
    ASSERT_TRUE(ped.edit());
    writeCard(QStringLiteral("edit.tif"));
    writeFile(QStringLiteral("edit.zip"), "livescan archive");
    writeDocument(QStringLiteral("docu.tif"));
    const QByteArray card = contents(QStringLiteral("edit.tif"));
    ASSERT_TRUE(save(ped)) << texts().toStdString();
    EXPECT_EQ(fileOf("h"), QStringLiteral("h1.%1").arg(dm->settings().read(QStringLiteral("c_reg"))));
    EXPECT_EQ(contents(fileOf("h")), card);
    EXPECT_EQ(contents(fileOf("z")), QByteArray("livescan archive"));
    EXPECT_TRUE(exists(fileOf("d")));
    for (const char* work : {"edit.tif", "edit.zip", "docu.tif"})
        EXPECT_FALSE(exists(QString::fromLatin1(work))) << work;

    // A card the central office would refuse stops the save and stays for the operator.
    ASSERT_TRUE(ped.edit());
    writeCard(QStringLiteral("edit.tif"), 1000, 1299);
    EXPECT_FALSE(save(ped));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("La huella digitalizada debe tener por lo menos 15 cm. de ancho"));
    EXPECT_TRUE(exists(QStringLiteral("edit.tif")));
    EXPECT_EQ(contents(fileOf("h")), card) << "the filed card is untouched";
}

TEST_F(OfficialRulesTest, NominativeRequestFilesDocumentsButNoCard) {
    savedOfficialRequest();
    Dataset& ped = dm->ped();
    ASSERT_TRUE(ped.edit());
    ped.setValue(QStringLiteral("C_CARPED"), Value("N"));
    writeCard(QStringLiteral("edit.tif"), 100, 100); // would fail the card check if looked at
    writeFile(QStringLiteral("edit.zip"), "zip");
    writeDocument(QStringLiteral("docu.tif"));
    ASSERT_TRUE(save(ped)) << texts().toStdString();
    EXPECT_FALSE(exists(fileOf("h")));
    EXPECT_FALSE(exists(fileOf("z")));
    EXPECT_TRUE(exists(fileOf("d")));
}

TEST_F(OfficialRulesTest, ACardStoredInTheRecordBecomesTheRequestsCardFile) {
    savedOfficialRequest();
    writeCard(QStringLiteral("old.tif"));
    const QByteArray card = contents(QStringLiteral("old.tif"));
    Dataset& ped = dm->ped();
    // An older version kept the card in the record itself.
    {
        auto table = openOfficeTable(dir.path(), *findOfficeTable(QStringLiteral("ped")), dbf::OpenMode::Shared);
        ASSERT_TRUE(table);
        auto row = table.value()->read(1);
        ASSERT_TRUE(row);
        dbf::Record r = row->values;
        const int blob = table.value()->fieldIndex("B_HUELLA");
        ASSERT_GE(blob, 0);
        r[static_cast<size_t>(blob)] = Value(dbf::Bytes{card.toStdString()});
        ASSERT_TRUE(table.value()->update(1, r));
    }
    ped.refresh();
    ASSERT_TRUE(ped.edit());
    ASSERT_TRUE(save(ped)) << texts().toStdString();
    EXPECT_EQ(contents(fileOf("h")), card);
    EXPECT_TRUE(ped.isNull(QStringLiteral("B_HUELLA")));
    EXPECT_FALSE(exists(QStringLiteral("edit.tif")));
}

TEST_F(OfficialRulesTest, AFilingThatFailsKeepsTheWorkFileAndRefusesTheSave) {
    savedOfficialRequest();
    Dataset& ped = dm->ped();
    ASSERT_TRUE(ped.edit());
    writeDocument(QStringLiteral("docu.tif"));
    // Something that cannot be replaced stands where the documents file goes.
    ASSERT_TRUE(QDir(dir.path()).mkpath(fileOf("d") + QStringLiteral("/x")));
    EXPECT_FALSE(save(ped));
    EXPECT_EQ(prompter.messages().back().caption, QStringLiteral("Error"));
    EXPECT_TRUE(exists(QStringLiteral("docu.tif"))) << "the scanned documents are not lost";
    EXPECT_EQ(ped.state(), Dataset::State::Edit);
}

TEST_F(OfficialRulesTest, DocumentsScannedBeforeTheFirstSaveAreFiledUnderTheNewNumber) {
    newOfficialRequest(addOrganisation());
    writeDocument(QStringLiteral("docu.tif"));
    Dataset& ped = dm->ped();
    ASSERT_TRUE(save(ped)) << texts().toStdString();
    EXPECT_TRUE(exists(fileOf("d")));
    EXPECT_FALSE(exists(QStringLiteral("docu.tif")));
}

TEST_F(OfficialRulesTest, NoNumberWithoutTheSequenceRow) {
    const double org = addOrganisation();
    {
        auto sec = openOfficeTable(dir.path(), *findOfficeTable(QStringLiteral("sec")), dbf::OpenMode::Shared);
        ASSERT_TRUE(sec);
        for (uint32_t rn = 1; rn <= sec.value()->recordCount(); ++rn) {
            auto row = sec.value()->read(rn);
            ASSERT_TRUE(row);
            if (row->values[0].text() == "ped") {
                ASSERT_TRUE(sec.value()->setDeleted(rn, true));
            }
        }
    }
    newOfficialRequest(org);
    Dataset& ped = dm->ped();
    EXPECT_FALSE(save(ped));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("No se puedo obtener el número de secuencia del objeto \"ped\""));
    EXPECT_EQ(ped.state(), Dataset::State::Insert);
    EXPECT_EQ(ped.rowCount(), 0);
}

TEST_F(OfficialRulesTest, DeletingARequestRemovesItsFilesButNotItsDocuments) {
    savedOfficialRequest();
    Dataset& ped = dm->ped();
    for (const char* kind : {"h", "z", "c", "d"})
        writeFile(fileOf(kind), kind);
    prompter.answerConfirm(false);
    EXPECT_FALSE(ped.remove());
    EXPECT_EQ(prompter.messages().back().caption, QStringLiteral("Confirmar"));
    EXPECT_TRUE(exists(fileOf("h")));
    EXPECT_EQ(ped.rowCount(), 1);

    const QStringList files{fileOf("h"), fileOf("z"), fileOf("c"), fileOf("d")};
    prompter.answerConfirm(true);
    ASSERT_TRUE(ped.remove());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("¿Está seguro que desea eliminar este registro?"));
    EXPECT_EQ(ped.rowCount(), 0);
    EXPECT_FALSE(exists(files[0]));
    EXPECT_FALSE(exists(files[1]));
    EXPECT_FALSE(exists(files[2]));
    EXPECT_TRUE(exists(files[3]));
}

TEST_F(OfficialRulesTest, AliasesNeedASavedRequestAndTakeTheOfficeAndProvince) {
    newOfficialRequest(addOrganisation());
    Dataset& sup = dm->sup();
    EXPECT_FALSE(sup.insert());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Debe grabar el pedido antes de ingresar Supuestos"));
    ASSERT_TRUE(save(dm->ped()));

    ASSERT_TRUE(sup.insert());
    sup.setValue(QStringLiteral("X_NOM1"), Value("PEDRO"));
    EXPECT_FALSE(sup.post());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Debe completar el primer apellido"));
    sup.setValue(QStringLiteral("X_APE1"), Value("PEREZ  GARCIA"));
    sup.setValue(QStringLiteral("X_NOM3"), Value("ana"));
    EXPECT_FALSE(sup.post());
    sup.setValue(QStringLiteral("X_NOM3"), Value());
    ASSERT_TRUE(sup.post()) << texts().toStdString();
    EXPECT_EQ(sup.text(QStringLiteral("X_APE1")), QStringLiteral("PEREZ GARCIA"));
    EXPECT_EQ(sup.value(QStringLiteral("C_PROV")).number(), 14);
    EXPECT_EQ(sup.text(QStringLiteral("C_REG")), dm->settings().read(QStringLiteral("c_reg")));
    EXPECT_EQ(sup.value(QStringLiteral("C_PED")).number(), dm->ped().value(QStringLiteral("C_PED")).number());
}

TEST_F(OfficialRulesTest, OrganisationsNeedTheirDataAndTakeNumbersFromTheSequence) {
    Dataset& org = dm->org();
    ASSERT_TRUE(org.insert());
    org.setValue(QStringLiteral("X_ORG"), Value("FISCALIA 3"));
    EXPECT_FALSE(save(org));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Debe completar el campo \"Domicilio\""));
    org.cancel();
    EXPECT_EQ(addOrganisation(), 1);
    EXPECT_EQ(addOrganisation("FISCALIA 3"), 2);
    prompter.answerConfirm(false);
    EXPECT_FALSE(org.remove());
    EXPECT_EQ(org.rowCount(), 2);
}

TEST_F(OfficialRulesTest, OffenceSearchAndItsButton) {
    Dataset& tdel = *dm->table(QStringLiteral("tdel"));
    const int all = tdel.rowCount();
    ASSERT_GT(all, 3);
    using Search = OfficialRequestRules::OffenceSearch;
    struct Case {
        Search search;
        const char* expected; // offence codes, or "*" for every offence
    };
    const Case cases[] = {
        {{}, "*"},
        {{QStringLiteral(" 102 "), {}, {}, {}, {}}, "102"},
        {{QStringLiteral("abc"), {}, {}, {}, {}}, ""},
        {{{}, QStringLiteral("11179"), QStringLiteral("80"), {}, {}}, "102"},
        {{{}, QStringLiteral("11179"), QStringLiteral("149"), QStringLiteral("bis"), {}}, "301"},
        {{{}, QStringLiteral("11179"), QStringLiteral("149"), QStringLiteral("BIS"), {}}, ""},
        {{{}, {}, {}, {}, QStringLiteral("LESIONES")}, "103,104,105"},
        {{{}, QStringLiteral("11179"), {}, {}, QStringLiteral("homicidio")}, "101,102"},
    };
    for (const Case& c : cases) {
        dm->officialRules().setOffenceSearch(c.search);
        tdel.setFiltered(true);
        QStringList found;
        for (int row = 0; row < tdel.rowCount(); ++row)
            found << tdel.textAt(row, QStringLiteral("C_TDEL")).trimmed();
        if (QByteArray(c.expected) == "*")
            EXPECT_EQ(tdel.rowCount(), all);
        else
            EXPECT_EQ(found.join(QLatin1Char(',')), QString::fromLatin1(c.expected)) << c.expected;
    }
    dm->officialRules().setOffenceSearch({});
    tdel.setFiltered(false);
    EXPECT_EQ(tdel.rowCount(), all);

    std::vector<bool> states;
    dm->officialRules().offenceButtonEnabled = [&states](bool on) { states.push_back(on); };
    ASSERT_TRUE(dm->ped().insert());
    dm->ped().cancel();
    EXPECT_EQ(states, (std::vector<bool>{true, false}));
}

} // namespace
} // namespace qev
