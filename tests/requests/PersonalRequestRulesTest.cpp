#include "requests/PersonalRequestRules.h"
#include "RequestFixture.h"
#include "core/Settings.h"
#include "requests/PedBol.h"
#include "requests/SlipLookups.h"

#include <QRegularExpression>
#include <QSet>

namespace qev {
namespace {

using dbf::Value;
using test::RequestFixture;

class PersonalRulesTest : public RequestFixture {
protected:
    void SetUp() override {
        RequestFixture::SetUp();
        // These tests make no calls to the central office.
        ASSERT_TRUE(dm->settings().write(QStringLiteral("m_chkdatbol"), QStringLiteral("N")));
        dm->deriveFlags();
        dm->setLogin(QStringLiteral("operador"), QStringLiteral("x"));
    }
    PersonalRequestRules& rules() { return dm->personalRules(); }
    // A new personal request that passes every check before sending.
    void newRequest() {
        newPersonalRequest();
        dm->pedp().setValue(QStringLiteral("F_PAGO"), fromQDate(clock.today().addDays(-3)));
    }
    QString fileOf(const char* kind) const { return dm->requestFile(dm->pedp(), QLatin1Char(kind[0])); }
};

TEST_F(PersonalRulesTest, FirstSaveGivesNumberStateSecurityCodeAndOperator) {
    newRequest();
    Dataset& p = dm->pedp();
    EXPECT_EQ(p.value(QStringLiteral("C_PRIOR")).number(), 4) << "the kind implies its priority";
    EXPECT_EQ(p.text(QStringLiteral("C_REG")), dm->settings().read(QStringLiteral("c_regp")));
    EXPECT_EQ(p.text(QStringLiteral("C_CLASIZQ")), QStringLiteral("_____"));
    p.setValue(QStringLiteral("X_NOM2"), Value("  MARIA   JOSE "));
    EXPECT_FALSE(p.post()) << "no save without the window's permission";
    ASSERT_TRUE(save(p)) << texts().toStdString();
    EXPECT_EQ(p.value(QStringLiteral("C_PED")).number(), 1);
    EXPECT_EQ(p.text(QStringLiteral("C_EST")), QStringLiteral("I"));
    EXPECT_EQ(p.text(QStringLiteral("C_LOGIN")), QStringLiteral("operador"));
    EXPECT_EQ(p.text(QStringLiteral("X_NOM2")), QStringLiteral("MARIA JOSE"));
    const QString code = p.text(QStringLiteral("C_SEGUR"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{10}$")).match(code).hasMatch()) << code.toStdString();
    EXPECT_EQ(p.text(QStringLiteral("c_pedido")), QStringLiteral("W"));

    // The code is given once; the central office's file number shows in the request code.
    ASSERT_TRUE(p.edit());
    p.setValue(QStringLiteral("N_EXPE"), Value(4711.0));
    EXPECT_EQ(p.text(QStringLiteral("c_pedido")), QStringLiteral("W4711"));
    ASSERT_TRUE(save(p));
    EXPECT_EQ(p.text(QStringLiteral("C_SEGUR")), code);
    EXPECT_EQ(p.value(QStringLiteral("C_PED")).number(), 1);
}

TEST_F(PersonalRulesTest, SecurityCodesAreTenUpperCaseHexDigitsAndDoNotRepeat) {
    QSet<QString> codes;
    for (int i = 0; i < 2000; ++i) {
        const QString c = GenerarCodigoSeguridad(10);
        ASSERT_EQ(c.size(), 10);
        ASSERT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]+$")).match(c).hasMatch()) << c.toStdString();
        codes.insert(c);
    }
    EXPECT_EQ(codes.size(), 2000);
    EXPECT_EQ(GenerarCodigoSeguridad(32).size(), 32);
}

TEST_F(PersonalRulesTest, HomeServiceOfficesNeedTheHomePaymentUnlessExempt) {
    ASSERT_TRUE(dm->settings().write(QStringLiteral("m_domic"), QStringLiteral("S")));
    dm->deriveFlags();
    newRequest();
    Dataset& p = dm->pedp();
    EXPECT_FALSE(save(p));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("ERROR: En los pedidos domiciliarios que no sean exentos, se debe "
                                                  "cargar el código del pago domiciliario"));
    p.setValue(QStringLiteral("C_TRAM"), Value("6"));
    EXPECT_TRUE(save(p)) << texts().toStdString();
    ASSERT_TRUE(p.edit());
    p.setValue(QStringLiteral("C_TRAM"), Value("2"));
    p.setValue(QStringLiteral("C_PAGO_DOMIC"), Value("D-0001"));
    EXPECT_TRUE(save(p)) << texts().toStdString();
}

TEST_F(PersonalRulesTest, CorrectionClearsTheAnswerDateAndTheSlipKindMustMatchInTheWindow) {
    newRequest();
    Dataset& p = dm->pedp();
    p.setValue(QStringLiteral("F_CON"), fromQDate(clock.today()));
    p.setValue(QStringLiteral("C_PAGO"), Value("A2345678901"));
    ASSERT_TRUE(save(p)) << "the kind is checked only while the window is on screen";
    EXPECT_FALSE(p.isNull(QStringLiteral("F_CON")));

    bool visible = true;
    rules().personalWindowVisible = [&visible] { return visible; };
    ASSERT_TRUE(p.edit());
    p.setValue(QStringLiteral("C_EST"), Value("D"));
    EXPECT_FALSE(save(p));
    EXPECT_EQ(prompter.lastText(),
              QStringLiteral("ERROR: El tipo de trámite no corresponde con el tipo indicado en la Boleta"));
    p.setValue(QStringLiteral("C_PAGO"), Value("A1345678901"));
    ASSERT_TRUE(save(p)) << texts().toStdString();
    EXPECT_TRUE(p.isNull(QStringLiteral("F_CON")));
}

TEST_F(PersonalRulesTest, CapturedFilesGoThroughBothImageChecks) {
    newRequest();
    Dataset& p = dm->pedp();
    ASSERT_TRUE(save(p));
    ASSERT_TRUE(p.edit());
    writeCard(QStringLiteral("edit.tif"));
    writeFile(QStringLiteral("edit.zip"), "zip");
    writeCard(QStringLiteral("docu.tif")); // a card is no A4 page
    EXPECT_FALSE(save(p));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("La imagen debe estar en tamaño A4 a 300 puntos por pulgada"));
    EXPECT_TRUE(exists(QStringLiteral("docu.tif")));
    writeDocument(QStringLiteral("docu.tif"));
    ASSERT_TRUE(save(p)) << texts().toStdString();
    EXPECT_EQ(fileOf("h"), QStringLiteral("hp1.%1").arg(dm->settings().read(QStringLiteral("c_regp"))));
    for (const char* kind : {"h", "z", "d"})
        EXPECT_TRUE(exists(fileOf(kind))) << kind;
    EXPECT_FALSE(exists(QStringLiteral("edit.tif")));

    prompter.answerConfirm(true);
    const QStringList files{fileOf("h"), fileOf("z"), fileOf("d")};
    ASSERT_TRUE(p.remove());
    EXPECT_FALSE(exists(files[0]));
    EXPECT_FALSE(exists(files[1]));
    EXPECT_TRUE(exists(files[2])) << "the documents file stays";
}

TEST_F(PersonalRulesTest, ValidationBeforeSending) {
    newRequest();
    Dataset& p = dm->pedp();
    ASSERT_TRUE(save(p));
    ASSERT_TRUE(p.edit());
    EXPECT_TRUE(rules().ValidarPedidoPersonal()) << texts().toStdString();

    // An exempt request with another priority can be saved but not sent.
    p.setValue(QStringLiteral("C_TRAM"), Value("6"));
    p.setValue(QStringLiteral("C_PRIOR"), Value(1));
    EXPECT_FALSE(rules().ValidarPedidoPersonal());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Los exentos deben tener prioridad 5 Dias."));
    EXPECT_TRUE(save(p));
    ASSERT_TRUE(p.edit());
    p.setValue(QStringLiteral("C_TRAM"), Value("1"));

    // No exception for minors when sending.
    p.setValue(QStringLiteral("F_NAC"), fromQDate(clock.today().addDays(-15 * 365)));
    EXPECT_FALSE(rules().ValidarPedidoPersonal());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("El causante debe tener entre 16 y 99 años de edad.\rVerifique la "
                                                  "fecha de nacimiento."));
    p.setValue(QStringLiteral("F_NAC"), fromQDate(QDate(1980, 5, 12)));

    p.setNull(QStringLiteral("N_DOC"));
    EXPECT_FALSE(rules().ValidarPedidoPersonal());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Debe completar el campo \"Número de Documento\""));
    p.setValue(QStringLiteral("N_DOC"), Value(30111222.0));

    // The payment date is required for paid requests only.
    p.setNull(QStringLiteral("F_PAGO"));
    EXPECT_FALSE(rules().ValidarPedidoPersonal());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Debe completar el campo \"Fecha de Pago\""));
    p.setValue(QStringLiteral("C_TRAM"), Value("6"));
    EXPECT_TRUE(rules().ValidarPedidoPersonal()) << texts().toStdString();
    p.setValue(QStringLiteral("C_TRAM"), Value("1"));

    const QDate requested = toQDate(p.value(QStringLiteral("F_PED")));
    p.setValue(QStringLiteral("F_PAGO"), fromQDate(requested));
    EXPECT_TRUE(rules().ValidarPedidoPersonal()) << "paid on the day of the request";
    p.setValue(QStringLiteral("F_PAGO"), fromQDate(requested.addDays(1)));
    EXPECT_FALSE(rules().ValidarPedidoPersonal());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("ERROR: La fecha de pago debe ser anterior a la fecha del pedido"));
    ASSERT_TRUE(dm->settings().write(QStringLiteral("dias_fpago"), QStringLiteral("30")));
    p.setValue(QStringLiteral("F_PAGO"), fromQDate(requested.addDays(-30)));
    EXPECT_TRUE(rules().ValidarPedidoPersonal());
    p.setValue(QStringLiteral("F_PAGO"), fromQDate(requested.addDays(-31)));
    EXPECT_FALSE(rules().ValidarPedidoPersonal());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("ERROR: La fecha de pago no debe tener más de 30 días"));
    p.setValue(QStringLiteral("F_PAGO"), fromQDate(requested));

    p.setValue(QStringLiteral("X_APEMADR2"), Value("LOPEZ 2"));
    EXPECT_FALSE(rules().ValidarPedidoPersonal());
    EXPECT_TRUE(prompter.lastText().startsWith(QStringLiteral("LOPEZ 2 contiene caracteres")));
}

TEST_F(PersonalRulesTest, SlipCodeSetsKindPriorityBankAndDate) {
    newRequest();
    Dataset& p = dm->pedp();
    ASSERT_TRUE(save(p));
    ASSERT_TRUE(p.edit());
    p.setValue(QStringLiteral("C_BANCO"), Value(2));
    EXPECT_TRUE(rules().AplicarCodigoBoleta(QStringLiteral("A6345678901")));
    EXPECT_EQ(p.text(QStringLiteral("C_TRAM")), QStringLiteral("6"));
    EXPECT_EQ(p.value(QStringLiteral("C_PRIOR")).number(), 3);
    EXPECT_TRUE(p.isNull(QStringLiteral("C_BANCO")));
    EXPECT_TRUE(p.isNull(QStringLiteral("F_PAGO")));

    EXPECT_FALSE(rules().AplicarCodigoBoleta(QStringLiteral("A9345678901")));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Error: No se pudo encontrar el tipo de tramite"));
    EXPECT_EQ(p.text(QStringLiteral("C_TRAM")), QStringLiteral("6")) << "an unknown kind changes nothing";

    // With the slip check off, the payment date is not asked for.
    ASSERT_TRUE(save(p));
    prompter.clear();
    EXPECT_TRUE(rules().AplicarCodigoBoleta(QStringLiteral("A3345678901")));
    EXPECT_EQ(p.state(), Dataset::State::Edit) << "the request is put into edit state";
    EXPECT_EQ(p.value(QStringLiteral("C_BANCO")).number(), 2);
    EXPECT_EQ(p.value(QStringLiteral("C_PRIOR")).number(), 1);
    EXPECT_TRUE(prompter.texts().isEmpty()) << texts().toStdString();
}

TEST_F(PersonalRulesTest, ComparisonWithTheSlipListsEveryDifference) {
    newRequest();
    Dataset& p = dm->pedp();
    PedBol& slip = dm->slips().pedBol();
    QString differences;
    EXPECT_TRUE(rules().CompararConBoleta(QStringLiteral("A1345678901"), differences)) << "no slip data";

    slip.insert();
    ASSERT_TRUE(slip.setText(QStringLiteral("x_ape1"), QStringLiteral("GOMEZ PEREZ")));
    ASSERT_TRUE(slip.setText(QStringLiteral("x_nom1"), QStringLiteral("ANA")));
    ASSERT_TRUE(slip.setText(QStringLiteral("f_nac"), QStringLiteral("12/05/1980 00:00:00")));
    ASSERT_TRUE(slip.setText(QStringLiteral("n_doc"), QStringLiteral("30111222")));
    slip.post();
    EXPECT_TRUE(rules().CompararConBoleta(QStringLiteral("A1345678901"), differences))
        << "the first surname occurs within the slip's two: " << differences.toStdString();
    EXPECT_TRUE(differences.isEmpty());
    EXPECT_TRUE(rules().CompararConBoleta(QStringLiteral("   "), differences)) << "no payment code";

    p.setValue(QStringLiteral("X_APE1"), Value("PEREZ"));
    EXPECT_TRUE(rules().CompararConBoleta(QStringLiteral("A1345678901"), differences));
    p.setValue(QStringLiteral("X_APE1"), Value("LOPEZ"));
    p.setValue(QStringLiteral("X_NOM1"), Value("ANALIA"));
    p.setValue(QStringLiteral("F_NAC"), fromQDate(QDate(1980, 5, 13)));
    p.setValue(QStringLiteral("N_DOC"), Value(30111223.0));
    EXPECT_FALSE(rules().CompararConBoleta(QStringLiteral("A1345678901"), differences));
    EXPECT_EQ(differences, QStringLiteral(" apellido1, nombre1, fecha de nacimiento, documento"));
}

TEST(PedBolTest, FieldsConvertTheCentralOfficesTextOrRefuseIt) {
    PedBol slip;
    EXPECT_EQ(PedBol::fields().size(), 67u);
    slip.insert();
    EXPECT_TRUE(slip.setText(QStringLiteral("c_pedido"), QStringLiteral(" 123 ")));
    EXPECT_TRUE(slip.setText(QStringLiteral("v_monto_e"), QStringLiteral("1500,50")));
    EXPECT_TRUE(slip.setText(QStringLiteral("m_tramvirtual"), QStringLiteral("True")));
    EXPECT_TRUE(slip.setText(QStringLiteral("x_ape1"), QStringLiteral("UNAPELLIDOMUYLARGOQUESEPASA")));
    EXPECT_TRUE(slip.setText(QStringLiteral("f_ped"), QStringLiteral("2024-02-29T13:45:30")));
    EXPECT_FALSE(slip.setText(QStringLiteral("c_banco"), QStringLiteral("40000"))) << "beyond a small integer";
    EXPECT_FALSE(slip.setText(QStringLiteral("n_doc"), QStringLiteral("30.111.222")));
    EXPECT_FALSE(slip.setText(QStringLiteral("f_nac"), QStringLiteral("31/02/1980")));
    EXPECT_FALSE(slip.setText(QStringLiteral("m_exc_art51"), QStringLiteral("quizas")));
    EXPECT_FALSE(slip.setText(QStringLiteral("no_such_field"), QStringLiteral("1")));
    EXPECT_TRUE(slip.isEmpty()) << "nothing shows before the row is posted";
    slip.post();
    EXPECT_EQ(slip.value(QStringLiteral("c_pedido")).integer(), 123);
    EXPECT_DOUBLE_EQ(slip.value(QStringLiteral("v_monto_e")).number(), 1500.5);
    EXPECT_TRUE(slip.value(QStringLiteral("m_tramvirtual")).boolean());
    EXPECT_EQ(slip.text(QStringLiteral("x_ape1")), QStringLiteral("UNAPELLIDOMUYLA")) << "fifteen characters";
    EXPECT_EQ(slip.text(QStringLiteral("f_ped")), QStringLiteral("29/02/2024"));
    EXPECT_TRUE(slip.value(QStringLiteral("n_doc")).isNull());

    const auto t = parseCentralDateTime(QStringLiteral("5/3/2026 4:07:09 p. m."));
    ASSERT_TRUE(t);
    EXPECT_EQ(t->date, (dbf::Date{2026, 3, 5}));
    EXPECT_EQ(t->msOfDay, ((16 * 60 + 7) * 60 + 9) * 1000);
    EXPECT_FALSE(parseCentralDateTime(QStringLiteral("05/03/2026 25:00")));
    EXPECT_FALSE(parseCentralDateTime(QStringLiteral("2026-03-05garbage")));
}

} // namespace
} // namespace qev
