// Every report of a request rendered by `qevdb informe` to PDF, its text read back with pdftotext and its
// barcodes decoded with zbarimg from the rendered page.
#include "FixedClock.h"
#include "ReportTestUtil.h"
#include "TempAppDir.h"
#include "core/Dataset.h"
#include "core/OfficeSchema.h"
#include "reports/ReportSource.h"
#include "reports/TrpOficio.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>

using namespace qev;
using namespace qev::test;
using dbf::Value;

namespace {

const QString kQevDb = QStringLiteral(QEVDB_EXE);

class ReportPdfTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new TempAppDir;
        const FixedClock clock(QDateTime(QDate(2026, 3, 5), QTime(10, 0)));
        QString error;
        ASSERT_TRUE(createOfficeFolder(s_dir->path(), true, clock, &error)) << error.toStdString();
        addRequests();
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }

    static void insert(const QString& table, std::initializer_list<std::pair<const char*, Value>> cells) {
        Dataset ds(s_dir->path(), *findOfficeTable(table));
        ASSERT_TRUE(ds.open());
        ASSERT_TRUE(ds.insert());
        for (const auto& [f, v] : cells)
            ASSERT_TRUE(ds.setValue(QString::fromLatin1(f), v)) << f;
        ASSERT_TRUE(ds.post()) << ds.lastError().toStdString();
    }

    static void addRequests() {
        // 20: three aliases, no second surname nor second name, no issuing province, a minor with no birth date.
        insert(QStringLiteral("ped"), {{"C_PED", 20},
                                       {"C_REG", 7},
                                       {"C_ORG", 2},
                                       {"F_PED", Value(dbf::Date{2026, 1, 9})},
                                       {"X_LOC", "Córdoba"},
                                       {"X_SEC", "Sec. 4"},
                                       {"X_DOM", "Duarte Quirós 650"},
                                       {"C_TDEL", 402},
                                       {"N_CAUSA", "77/2026"},
                                       {"X_APE1", "PEREZ"},
                                       {"X_NOM1", "ANA"},
                                       {"X_NOM3", "LUZ"},
                                       {"C_SEXO", "F"},
                                       {"C_NAC", 600},
                                       {"N_EDAD", 16},
                                       {"N_DOC", 45111222},
                                       {"M_MENOR", true},
                                       {"X_NOMPADR1", "RAUL"},
                                       {"X_APEMADR1", "SOSA"},
                                       {"X_NOMMADR1", "ELSA"}});
        for (const char* alias : {"PERES", "PERIS", "PAREZ"})
            insert(QStringLiteral("sup"),
                   {{"C_PED", 20}, {"C_REG", 7}, {"X_APE1", alias}, {"X_APE2", "GIL"}, {"X_NOM1", "ANNA"}});
        // 21: every text at its full width, and an organisation whose name takes its 80 characters.
        insert(QStringLiteral("org"), {{"C_ORG", 9},
                                       {"X_ORG", "Juzgado Nacional en lo Criminal y Correccional Federal Numero "
                                                 "Doce Secretaria 23"},
                                       {"C_PROV", 2}});
        insert(QStringLiteral("ped"),
               {{"C_PED", 21},
                {"C_REG", 7},
                {"C_ORG", 9},
                {"F_PED", Value(dbf::Date{2026, 2, 1})},
                {"X_LOC", "Villa Carlos Paz de las Sierras Chicas N"},
                {"X_SEC", "Secretaria Penal Juvenil y Contravencion"},
                {"X_DOM", "Avenida General Jose de San Martin y Libertador Bernardo OHiggins 1234 Piso 8 C"},
                {"X_APE1", "ABCDEFGHIJKLMNO"},
                {"X_APE2", "PQRSTUVWXYZABCD"},
                {"X_NOM1", "MARIAGUADALUPEX"},
                {"X_NOM2", "CONCEPCIONDELOS"},
                {"X_NOM3", "ANGELESYSANTOSS"},
                {"C_PROVCI", 14},
                {"C_TDEL", 803}});
        // 22: only a surname: null dates and lookups.
        insert(QStringLiteral("ped"), {{"C_PED", 22}, {"C_REG", 7}, {"X_APE1", "SOLO"}});
        // Personal requests of regional 1.
        insert(QStringLiteral("pedp"), {{"C_PED", 1005},
                                        {"C_REG", 1},
                                        {"X_APE1", "VERA"},
                                        {"X_NOM1", "JUAN"},
                                        {"X_NOM2", "IGNACIO"},
                                        {"C_SEXO", "M"},
                                        {"C_NAC", 32},
                                        {"C_TDOC", "1"},
                                        {"N_DOC", 33222111},
                                        {"C_PREFIJO", "M"},
                                        {"C_SUFIJO", "B"},
                                        {"C_TRAM", "2"},
                                        {"F_PED", Value(dbf::Date{2026, 3, 2})},
                                        {"C_PAGO", "72000001005"},
                                        {"C_SEGUR", "0A1B2C3D4E"},
                                        {"X_NOMPADR1", "LUIS"},
                                        {"X_NOMPADR3", "MARIO"},
                                        {"N_EXPE", 880001},
                                        {"N_CERT", "CE00001005"},
                                        {"X_OBS", "Retira"},
                                        {"C_RES", "S"},
                                        {"C_RECHAZO", "10000001000000"}});
        // A security code with lower-case letters: Code 39 has none, so no bars may be printed for it.
        insert(QStringLiteral("pedp"), {{"C_PED", 1006},
                                        {"C_REG", 1},
                                        {"X_APE1", "LUNA"},
                                        {"C_EXPP", "PF"},
                                        {"C_SEGUR", "0a1b2c3d4e"},
                                        {"C_RES", "Z"},
                                        {"C_RECHAZO", "X1"}});
    }

    // Runs `qevdb informe` and answers the PDF file; fails the test on a non-zero status.
    QString render(const QString& report, const char* kind, int number, ProgramRun* result = nullptr) {
        const QString pdf = QDir(m_out.path()).filePath(report + QString::number(number) + QStringLiteral(".pdf"));
        const ProgramRun r = run(kQevDb, {QStringLiteral("informe"), s_dir->path(), report, QString::fromLatin1(kind),
                                          QString::number(number), QStringLiteral("--pdf"), pdf});
        if (result) *result = r;
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        return pdf;
    }

    static TempAppDir* s_dir;
    QTemporaryDir m_out;
};

TempAppDir* ReportPdfTest::s_dir = nullptr;

#define EXPECT_IN_ORDER(text, ...)                                                                                     \
    do {                                                                                                               \
        QString missing_;                                                                                              \
        EXPECT_GE(findInOrder(text, __VA_ARGS__, &missing_), 0)                                                        \
            << "missing or out of order: " << missing_.toStdString() << "\n"                                           \
            << (text).toStdString();                                                                                   \
    } while (0)

TEST_F(ReportPdfTest, OfficialLetterWithAliasesOfAMinor) {
    const QString pdf = render(QStringLiteral("TrpOficio"), "--oficial", 20);
    EXPECT_EQ(pdfPages(pdf), 1);
    const QString text = pdfText(pdf);
    EXPECT_IN_ORDER(text, {QStringLiteral("MINISTERIO DE JUSTICIA"),
                           QStringLiteral("Córdoba, 09 de enero de 2026"),
                           QStringLiteral("PEDIDO DE INFORMES SOBRE CONDENAS"),
                           QStringLiteral("Y PROCESOS PENDIENTES"),
                           QStringLiteral("ORGANISMO REQUIRENTE"),
                           QStringLiteral("Fuero de Competencia - Nro."),
                           QStringLiteral("Fiscalía de Instrucción N° 3"),
                           QStringLiteral("Secretaria:"),
                           QStringLiteral("Sec. 4"),
                           QStringLiteral("Calle - Nº:"),
                           QStringLiteral("Duarte Quirós 650"),
                           QStringLiteral("Localidad:"),
                           QStringLiteral("Provincia:"),
                           QStringLiteral("Córdoba"),
                           QStringLiteral("DATOS DEL CAUSANTE"),
                           QStringLiteral("Delito Imputado:"),
                           QStringLiteral("Robo"),
                           QStringLiteral("Causa Nº."),
                           QStringLiteral("77/2026"),
                           QStringLiteral("Apellido(s):"),
                           QStringLiteral("Nombre(s):"),
                           QStringLiteral("Sexo:"),
                           QStringLiteral("Femenino"),
                           QStringLiteral("Fecha de Nacimiento:"),
                           QStringLiteral("o Edad Presunta:"),
                           QStringLiteral("16"),
                           QStringLiteral("Nacionalidad:"),
                           QStringLiteral("Paraguaya"),
                           QStringLiteral("D.N.I:"),
                           QStringLiteral("45111222"),
                           QStringLiteral("Exp. Por:"),
                           QStringLiteral("Nombres del Padre:"),
                           QStringLiteral("RAUL"),
                           QStringLiteral("Apellidos de la Madre:"),
                           QStringLiteral("SOSA"),
                           QStringLiteral("Nombres de la Madre:"),
                           QStringLiteral("ELSA"),
                           QStringLiteral("Sello del Organismo"),
                           QStringLiteral("Firma del Oficiante")});
    // The person's surnames, then each alias after " o ", all on the surname line.
    const QRegularExpression surnames(
        QStringLiteral("Apellido\\(s\\):\\s+PEREZ\\s+o\\s+PERES GIL\\s+o\\s+PERIS GIL\\s+o\\s+PAREZ GIL\\s*$"));
    EXPECT_TRUE(surnames.match(lineWith(text, QStringLiteral("Apellido(s):"))).hasMatch()) << text.toStdString();
    const QRegularExpression names(
        QStringLiteral("Nombre\\(s\\):\\s+ANA\\s+LUZ\\s+o\\s+ANNA\\s+o\\s+ANNA\\s+o\\s+ANNA\\s*$"));
    EXPECT_TRUE(names.match(lineWith(text, QStringLiteral("Nombre(s):"))).hasMatch()) << text.toStdString();
    // No issuing province: the label alone ends its line.
    EXPECT_TRUE(lineWith(text, QStringLiteral("Exp. Por:")).trimmed().endsWith(QLatin1String("Exp. Por:")));
}

TEST_F(ReportPdfTest, OfficialLetterKeepsFullWidthTextsOnOnePage) {
    const QString pdf = render(QStringLiteral("TrpOficio"), "--oficial", 21);
    EXPECT_EQ(pdfPages(pdf), 1);
    QString text = pdfText(pdf);
    text.replace(QRegularExpression(QStringLiteral("\\s+")), QStringLiteral(" "));
    // Every word of the long values is printed (wrapped, never cut off), in order.
    for (const QString& value :
         {QStringLiteral("Juzgado Nacional en lo Criminal y Correccional Federal Numero Doce Secretaria 23"),
          QStringLiteral("Avenida General Jose de San Martin y Libertador Bernardo OHiggins 1234 Piso 8 C"),
          QStringLiteral("Secretaria Penal Juvenil y Contravencion"),
          QStringLiteral("Incumplimiento de los deberes de asistencia familiar")}) {
        QStringList words = value.split(QLatin1Char(' '));
        EXPECT_IN_ORDER(text, words);
    }
    EXPECT_IN_ORDER(text, {QStringLiteral("ABCDEFGHIJKLMNO PQRSTUVWXYZABCD"),
                           QStringLiteral("MARIAGUADALUPEX CONCEPCIONDELOS ANGELESYSANTOSS"),
                           QStringLiteral("Exp. Por: Córdoba")});
}

TEST_F(ReportPdfTest, OfficialLetterWithNullDatesAndLookups) {
    const QString pdf = render(QStringLiteral("TrpOficio"), "--oficial", 22);
    EXPECT_EQ(pdfPages(pdf), 1);
    const QString text = pdfText(pdf);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("Apellido\\(s\\):\\s+SOLO\\s*$"))
                    .match(lineWith(text, QStringLiteral("Apellido(s):")))
                    .hasMatch());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\s*Sexo:\\s+Fecha de Nacimiento:\\s+o Edad Presunta:\\s*$"))
                    .match(lineWith(text, QStringLiteral("Sexo:")))
                    .hasMatch())
        << text.toStdString();
}

TEST_F(ReportPdfTest, LetterOfARequestNotStoredPrintsWithoutTheNamesReadByNumber) {
    reports::OfficeTables tables(s_dir->path());
    QString error;
    ASSERT_TRUE(tables.open(&error)) << error.toStdString();
    Dataset& ped = *tables.table(QStringLiteral("ped"));
    ASSERT_TRUE(ped.insert());
    ASSERT_TRUE(ped.setValue(QStringLiteral("X_APE1"), Value("NUEVO")));
    ASSERT_TRUE(ped.setValue(QStringLiteral("X_LOC"), Value("Río Cuarto")));
    ASSERT_TRUE(ped.setValue(QStringLiteral("C_SEXO"), Value("M")));
    const reports::TrpOficio::Data d = reports::TrpOficio::read(tables.source(QDate(2026, 3, 5)));
    EXPECT_EQ(d.cPed, 0);
    EXPECT_EQ(d.lugarYFecha, QStringLiteral("Río Cuarto"));
    EXPECT_EQ(d.xSexo, QStringLiteral("Masculino"));
    EXPECT_TRUE(d.qrlbApe.isEmpty());
    EXPECT_TRUE(d.qrlbApeSup.isEmpty());
    ped.cancel();
    // Stored: the names come from the file, even while the window's row shows other text.
    ASSERT_TRUE(ped.locate(QStringLiteral("C_PED"), Value(20)));
    ASSERT_TRUE(ped.edit());
    ASSERT_TRUE(ped.setValue(QStringLiteral("X_APE1"), Value("SIN GRABAR")));
    const reports::TrpOficio::Data stored = reports::TrpOficio::read(tables.source(QDate(2026, 3, 5)));
    EXPECT_EQ(stored.qrlbApe, QStringLiteral("PEREZ "));
    EXPECT_EQ(stored.qrlbApeSup, QStringLiteral(" o  PERES GIL o  PERIS GIL o  PAREZ GIL"));
    ped.cancel();
}

TEST_F(ReportPdfTest, ReceiptBarcodesScanAsTheirFields) {
    ProgramRun r;
    const QString pdf = render(QStringLiteral("TrpCompr"), "--personal", 1005, &r);
    EXPECT_EQ(pdfPages(pdf), 1);
    EXPECT_EQ(decodeBarcodes(pdf), (QStringList{QStringLiteral("0A1B2C3D4E"), QStringLiteral("1005/1")}));
    const QString text = pdfText(pdf);
    EXPECT_IN_ORDER(text, {QStringLiteral("Comprobante del Trámite de Antecedentes Penales"),
                           QStringLiteral("Regional:1 - Pedido:1005"),
                           QStringLiteral("Apellido(s):"),
                           QStringLiteral("VERA"),
                           QStringLiteral("Nombre(s):"),
                           QStringLiteral("JUAN IGNACIO"),
                           QStringLiteral("Sexo:"),
                           QStringLiteral("Masculino"),
                           QStringLiteral("Nacionalidad"),
                           QStringLiteral("Argentina"),
                           QStringLiteral("Tipo de Documento:"),
                           QStringLiteral("D.N.I."),
                           QStringLiteral("Número"),
                           QStringLiteral("M 33222111 B"),
                           QStringLiteral("Expedido Por:"),
                           QStringLiteral("Nombres Padre:"),
                           QStringLiteral("LUIS"),
                           QStringLiteral("MARIO"),
                           QStringLiteral("Tipo de Trámite:"),
                           QStringLiteral("Urgente"),
                           QStringLiteral("Fecha de inicio del Trámite:"),
                           QStringLiteral("02/03/2026"),
                           QStringLiteral("Firma del Solicitante"),
                           QStringLiteral("Comprobante de pago:"),
                           QStringLiteral("72000001005"),
                           QStringLiteral("Comprobante del Trámite de Antecedentes Penales"),
                           QStringLiteral("Información para la obtención del Certificado"),
                           QStringLiteral("de Antecedentes Penales Digital"),
                           QStringLiteral("Código de Seguridad:"),
                           QStringLiteral("0A1B2C3D4E"),
                           QStringLiteral("Código de Solicitud:"),
                           QStringLiteral("72000001005"),
                           QStringLiteral("Fecha de Ingreso de datos QEV:"),
                           QStringLiteral("02/03/2026"),
                           QStringLiteral("Estimado/a, le informamos"),
                           QStringLiteral("Para consultas, sugerencias"),
                           QStringLiteral("0800-")});
    // No issuing place: the label ends its line.
    EXPECT_TRUE(lineWith(text, QStringLiteral("Expedido Por:")).trimmed().endsWith(QLatin1String("Expedido Por:")));
}

TEST_F(ReportPdfTest, ReceiptPrintsNoBarsForACodeOutsideCode39) {
    ProgramRun r;
    const QString pdf = render(QStringLiteral("TrpCompr"), "--personal", 1006, &r);
    EXPECT_TRUE(r.err.contains(QStringLiteral("0a1b2c3d4e"))) << r.err.toStdString();
    EXPECT_EQ(decodeBarcodes(pdf), QStringList{QStringLiteral("1006/1")});
    const QString text = pdfText(pdf);
    EXPECT_TRUE(text.contains(QStringLiteral("Código de barras no disponible")));
    EXPECT_TRUE(lineWith(text, QStringLiteral("Expedido Por:")).contains(QStringLiteral("Policía Federal")));
}

TEST_F(ReportPdfTest, AnswerLetterAndItsMissingResult) {
    const QString today = QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy"));
    QString text = pdfText(render(QStringLiteral("TrpContesPriv"), "--personal", 1005));
    EXPECT_IN_ORDER(text, {QStringLiteral("MINISTERIO DE JUSTICIA"), QStringLiteral(", ") + today,
                           QStringLiteral("Contestación de Pedido Personal"), QStringLiteral("Código de Pedido"),
                           QStringLiteral("1005"), QStringLiteral("Número de Expediente"), QStringLiteral("880001"),
                           QStringLiteral("Apellidos:"), QStringLiteral("VERA"), QStringLiteral("Nombres:"),
                           QStringLiteral("JUAN IGNACIO"),
                           QStringLiteral("Pedido de Antecedentes enviado por carta Certificada"),
                           QStringLiteral("Número de Carta Certificada:"), QStringLiteral("CE00001005"),
                           QStringLiteral("Observaciones:"), QStringLiteral("Retira"), QStringLiteral("Resultado:"),
                           QStringLiteral("Sin antecedentes penales")});
    text = pdfText(render(QStringLiteral("TrpContesPriv"), "--personal", 1006));
    EXPECT_TRUE(lineWith(text, QStringLiteral("Resultado:")).trimmed() == QLatin1String("Resultado:"));
}

TEST_F(ReportPdfTest, RejectionLetterMarksTheCodedReasonsOnly) {
    const QString text = pdfText(render(QStringLiteral("TrpRechPriv"), "--personal", 1005));
    EXPECT_IN_ORDER(text, {QStringLiteral("Rechazo de huellas digitales"), QStringLiteral("Código de Pedido"),
                           QStringLiteral("1005"), QStringLiteral("Impresiones digitales tomadas"),
                           QStringLiteral("Fichas Dactiloscópicas")});
    // Positions 1 and 8 are "1": the first reason of each column's group... and nothing else.
    EXPECT_EQ(text.count(QStringLiteral("(X)")), 2);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("\\(X\\)\\s+1\\. Con entintado desparejo\\s+\\( \\)\\s+1\\. No se"))
                    .match(text)
                    .hasMatch())
        << text.toStdString();
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("\\( \\)\\s+2\\. Con demasiada tinta\\s+\\(X\\)\\s+2\\. Con impresiones"))
            .match(text)
            .hasMatch())
        << text.toStdString();
    // "X1": a character other than "1" marks nothing, and position 2 marks "2. Con demasiada tinta".
    const QString other = pdfText(render(QStringLiteral("TrpRechPriv"), "--personal", 1006));
    EXPECT_EQ(other.count(QStringLiteral("(X)")), 1);
    EXPECT_TRUE(lineWith(other, QStringLiteral("(X)")).contains(QStringLiteral("2. Con demasiada tinta")));
}

TEST_F(ReportPdfTest, CardPageIsLandscapeAndNeedsItsImage) {
    ProgramRun r;
    const QString missing = QDir(m_out.path()).filePath(QStringLiteral("f.pdf"));
    r = run(kQevDb, {QStringLiteral("informe"), s_dir->path(), QStringLiteral("TrpFicha"), QStringLiteral("--oficial"),
                     QStringLiteral("20"), QStringLiteral("--pdf"), missing});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(
        QStringLiteral("Imágen: \"%1\" inexistente.").arg(QDir(s_dir->path()).filePath(QStringLiteral("20_7.bmp")))))
        << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(missing));

    QImage card(1200, 800, QImage::Format_Grayscale8);
    card.fill(255);
    ASSERT_TRUE(card.save(QDir(s_dir->path()).filePath(QStringLiteral("20_7.bmp"))));
    const QString pdf = render(QStringLiteral("TrpFicha"), "--oficial", 20);
    EXPECT_EQ(pdfPages(pdf), 1);
    const QString info = run(QStringLiteral("pdfinfo"), {pdf}).out;
    EXPECT_TRUE(info.contains(QStringLiteral("842 x 595 pts"))) << info.toStdString();
    EXPECT_TRUE(pdfText(pdf).contains(QStringLiteral("Ped:20 Reg:7")));
}

TEST_F(ReportPdfTest, UnknownRequestsAndReportsAreRefusedInSpanish) {
    struct Case {
        QStringList args;
        const char* message;
    };
    const QString pdf = QDir(m_out.path()).filePath(QStringLiteral("x.pdf"));
    const Case cases[] = {
        {{QStringLiteral("TrpOficio"), QStringLiteral("--oficial"), QStringLiteral("999")}, "No existe el pedido"},
        {{QStringLiteral("TrpNada"), QStringLiteral("--oficial"), QStringLiteral("20")},
         "Informe desconocido: TrpNada"},
        {{QStringLiteral("TrpCompr"), QStringLiteral("--oficial"), QStringLiteral("20")}, "use --personal"},
        {{QStringLiteral("TrpOficio"), QStringLiteral("--personal"), QStringLiteral("1005")}, "use --oficial"},
    };
    for (const Case& c : cases) {
        const ProgramRun r = run(kQevDb, QStringList{QStringLiteral("informe"), s_dir->path()}
                                             << c.args << QStringLiteral("--pdf") << pdf);
        EXPECT_EQ(r.status, 1) << c.message;
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.message))) << r.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(pdf));
    }
}

} // namespace
