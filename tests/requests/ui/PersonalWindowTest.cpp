// The personal request window on the demo office, offscreen: editing by the request's state, the receipt printed
// or asked to be mailed, the answer by state and result, the payment slip field and the livescan capture with the
// applicant's confirmation.
#include "OfficialWindowFixture.h"
#include "reports/Institution.h"
#include "requests/PersonalRequestRules.h"

#include <QLineEdit>
#include <QProcess>

#include <tuple>

namespace qev {
namespace {

using dbf::Value;
using Button = DbNavigator::Button;

class PersonalWindowTest : public test::OfficialWindowFixture {
protected:
    void SetUp() override {
        startDemoOffice();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(dm->settings().write(QStringLiteral("m_chkdatbol"), QStringLiteral("N")));
        dm->deriveFlags();
        makePersonalWindow();
        prompter.clear();
    }
    void at(double cPed) { ASSERT_TRUE(dm->pedp().locate(QStringLiteral("C_PED"), Value(cPed))); }
};

TEST_F(PersonalWindowTest, EditingFollowsTheRequestsState) {
    Dataset& pedp = dm->pedp();
    struct Case {
        double cPed;
        const char* state;
        int answer; // -1 no question expected, 0 No, 1 Yes
        bool editing;
        const char* stateAfter;
    };
    const Case cases[] = {
        {1, "I", -1, true, "I"}, {5, "R", -1, true, "R"}, {2, "E", -1, false, "E"}, {3, "T", 0, false, "T"},
        {3, "T", 1, true, "D"},  {4, "C", 1, true, "D"},  {6, "D", 1, true, "D"},
    };
    for (const Case& c : cases) {
        at(c.cPed);
        ASSERT_EQ(pedp.text(QStringLiteral("C_EST")), QString::fromLatin1(c.state));
        prompter.clear();
        if (c.answer >= 0) prompter.answerConfirm(c.answer == 1);
        nav(Button::Edit);
        EXPECT_EQ(pedp.editing(), c.editing) << c.cPed << c.state;
        EXPECT_EQ(pedp.text(QStringLiteral("C_EST")), QString::fromLatin1(c.stateAfter)) << c.cPed;
        if (c.answer >= 0) {
            ASSERT_FALSE(prompter.messages().empty());
            EXPECT_EQ(prompter.messages().front().text, QStringLiteral("¿Desea modificar los datos?"));
        }
        if (QByteArray(c.state) == "E") {
            EXPECT_EQ(prompter.lastText(), QStringLiteral("El pedido debe estar en Trámite, Contestado ó Rechazado"));
        }
        pedp.cancel();
    }
}

TEST_F(PersonalWindowTest, TheAnswerByStateAndResult) {
    Dataset& pedp = dm->pedp();
    // Request 2 is only sent; request 4 is answered with result "S" and, in the demo, no answer image.
    at(2);
    click("btContes");
    EXPECT_EQ(prompter.lastText(), QStringLiteral("El pedido no ha sido contestado o rechazado"));
    at(4);
    struct Case {
        const char* result;
        const char* cert;
        bool image;
        const char* message; // nullptr: the image is shown
    };
    const Case cases[] = {
        {"", "", false, "Verifique si el certificado está disponible en la web"},
        {"N", "", true, "Verifique si el certificado está disponible en la web"},
        {"S", "", false,
         "No existe el archivo con la imagen de la contestación\rni tampoco el número de carta certificada"},
        {"S", "RR123456789AR", false, "Pedido contestado por correo postal, certificada número: RR123456789AR"},
        {"S", "RR123456789AR", true, nullptr},
    };
    const QString answer = dir.file(QStringLiteral("cp4.7"));
    for (const Case& c : cases) {
        dm->setSavePermission(true);
        ASSERT_TRUE(pedp.edit());
        pedp.setText(QStringLiteral("C_RES"), QString::fromLatin1(c.result));
        pedp.setText(QStringLiteral("N_CERT"), QString::fromLatin1(c.cert));
        ASSERT_TRUE(pedp.post()) << texts().toStdString();
        QFile::remove(answer);
        if (c.image) QFile::copy(writeImage("contestacion.tif", 1654, 2339, 250), answer);
        bool viewed = false;
        if (!c.message)
            onModal([&](QWidget* w) {
                viewed = true;
                w->close();
            });
        prompter.clear();
        click("btContes");
        stopWatching();
        if (c.message) {
            EXPECT_EQ(prompter.lastText(), QString::fromUtf8(c.message)) << c.result << c.cert;
        } else {
            EXPECT_TRUE(viewed);
            EXPECT_TRUE(prompter.messages().empty()) << texts().toStdString();
        }
    }
}

TEST_F(PersonalWindowTest, TheReceiptIsPrintedWithItsBarcodesOrMailedOnlyToAValidAddress) {
    Dataset& pedp = dm->pedp();
    // A new row has no number yet.
    nav(Button::Insert);
    click("btImpComp");
    EXPECT_EQ(
        prompter.lastText(),
        QStringLiteral("Debe grabar los datos para obtener el número de pedido\rantes de imprimir el comprobante"));
    pedp.cancel();

    at(1);
    prompter.clear();
    prompter.answerConfirm(false); // not by mail: printed
    click("btImpComp");
    ASSERT_EQ(letters.size(), 1u) << texts().toStdString();
    QProcess zbar;
    zbar.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("pdftoppm -r 200 -png '%1' '%2' && zbarimg "
                                                                           "--quiet '%2'-1.png")
                                                                .arg(dir.file(QStringLiteral("comprobante.pdf")),
                                                                     dir.file(QStringLiteral("comprobante")))});
    ASSERT_TRUE(zbar.waitForFinished(60000));
    const QString codes = QString::fromUtf8(zbar.readAllStandardOutput());
    EXPECT_EQ(codes.count(QStringLiteral("CODE-39:")), 2) << codes.toStdString();
    EXPECT_TRUE(codes.contains(pedp.text(QStringLiteral("C_SEGUR")).trimmed())) << codes.toStdString();

    // By mail: cancelling, or leaving the initial text, sends nothing; a wrong address is asked for again.
    for (const auto& answers : {std::vector<std::optional<QString>>{std::nullopt},
                                std::vector<std::optional<QString>>{QStringLiteral("no es una direccion"),
                                                                    QStringLiteral("DIRECCION DE EMAIL")}}) {
        prompter.clear();
        prompter.answerConfirm(true);
        for (const auto& a : answers)
            prompter.answerInput(a);
        click("btImpComp");
        const int wrong = static_cast<int>(prompter.texts().count(QStringLiteral("Email Inválido")));
        EXPECT_EQ(wrong, answers.size() == 2 ? 1 : 0) << texts().toStdString();
        EXPECT_FALSE(prompter.texts().contains(QStringLiteral("Email Enviado Exitosamente")));
        EXPECT_FALSE(prompter.texts().contains(QStringLiteral("ERROR! No se pudo enviar el email")));
    }
    // The mailed receipt gives the same web address and telephone as the printed one.
    const QString mailed = receiptMailText(QStringLiteral("A1345678901"), QStringLiteral("X9Y8Z7W6V5"));
    EXPECT_TRUE(mailed.contains(reports::Institution::webAddress()) &&
                mailed.contains(reports::Institution::freePhone()));
    EXPECT_TRUE(mailed.endsWith(QStringLiteral("\rCódigo de Solicitud: A1345678901\rCódigo de Seguridad: X9Y8Z7W6V5")));
}

TEST_F(PersonalWindowTest, SlipFieldAndLivescanWithTheApplicantsConfirmation) {
    Dataset& pedp = dm->pedp();
    at(1);
    nav(Button::Edit);
    ASSERT_TRUE(pedp.editing());
    // A code that is not 11 characters long is not looked up; the payment date is asked for next.
    pedp.setNull(QStringLiteral("F_PAGO"));
    const QString before = pedp.text(QStringLiteral("C_TRAM"));
    auto* talon = child<QLineEdit>("dbTalon");
    talon->setFocus();
    talon->selectAll();
    QTest::keyClicks(talon, QStringLiteral("a12345"));
    QTest::keyClick(talon, Qt::Key_Return);
    EXPECT_EQ(pedp.text(QStringLiteral("C_PAGO")), QStringLiteral("A12345"));
    EXPECT_EQ(pedp.text(QStringLiteral("C_TRAM")), before);
    EXPECT_EQ(personal->focusWidget(), child<QLineEdit>("f_pago"));
    pedp.cancel();
    // A slip whose payment date cannot be had: the error is said once, not again when the focus moves on to
    // the date.
    ASSERT_TRUE(dm->settings().write(QStringLiteral("m_chkdatbol"), QStringLiteral("S")));
    dm->deriveFlags();
    personal->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(personal.get()));
    at(1);
    nav(Button::Edit);
    pedp.setNull(QStringLiteral("F_PAGO"));
    prompter.clear();
    talon->setFocus();
    talon->selectAll();
    QTest::keyClicks(talon, QStringLiteral("a1000000009"));
    QTest::keyClick(talon, Qt::Key_Return);
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("ERROR al intentar obtener la fecha del pago.")});
    EXPECT_TRUE(child<QLineEdit>("f_pago")->hasFocus());
    pedp.cancel();
    ASSERT_TRUE(dm->settings().write(QStringLiteral("m_chkdatbol"), QStringLiteral("N")));
    dm->deriveFlags();

    // The kind a slip sets shows in its list, also on a new row.
    nav(Button::Insert);
    EXPECT_TRUE(dm->personalRules().AplicarCodigoBoleta(QStringLiteral("B2000000001")));
    EXPECT_EQ(pedp.text(QStringLiteral("C_TRAM")), QStringLiteral("2"));
    EXPECT_EQ(child<QComboBox>("dblcbTram")->currentText(), QStringLiteral("Urgente"));
    pedp.cancel();

    // Livescan: the archive becomes the request's, with the capture time and the applicant's confirmation.
    ASSERT_TRUE(dm->settings().write(QStringLiteral("LiveScan"), QStringLiteral("Plano")));
    dm->setLiveScanFromSettings();
    ASSERT_TRUE(dm->liveScan());
    personal->takeLiveScan = [this](int, int, bool, QString& izq, QString& der) {
        izq = QStringLiteral("E1234");
        der = QStringLiteral("V2222");
        const QString archive = dir.file(QStringLiteral("dedos.zip"));
        QFile f(archive);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("PK\x03\x04 ten fingers");
        return archive;
    };
    for (const auto& [verif, expected] : {std::tuple{0, "0"}, std::tuple{77, "77"}}) {
        const int v = verif;
        personal->confirmIdentity = [v]() -> std::optional<TFPedP::Identity> {
            if (v <= 0) return std::nullopt;
            return TFPedP::Identity{QStringLiteral("operador"), v};
        };
        at(1);
        prompter.clear();
        personal->liveScan();
        EXPECT_FALSE(pedp.editing()) << texts().toStdString();
        EXPECT_TRUE(exists(QStringLiteral("zp1.7"))) << texts().toStdString();
        EXPECT_EQ(prompter.lastText(),
                  QStringLiteral("Las impresiones dactilares de la solicitud 1\rhan sido grabadas exitosamente!"));
        EXPECT_EQ(pedp.text(QStringLiteral("F_CAPTURA")).trimmed(), QStringLiteral("16/03/2026 09:30:00"));
        EXPECT_EQ(pedp.text(QStringLiteral("C_CLASIZQ")), QStringLiteral("E1234"));
        EXPECT_EQ(pedp.isNull(QStringLiteral("VERIF_ID")) ? QStringLiteral("0")
                                                          : pedp.text(QStringLiteral("VERIF_ID")).trimmed(),
                  QString::fromLatin1(expected));
    }
    EXPECT_EQ(pedp.text(QStringLiteral("C_LOGIN")).trimmed(), QStringLiteral("operador"));

    // Sending without a confirmed applicant is refused when the office uses livescan.
    dm->setSavePermission(true);
    ASSERT_TRUE(pedp.edit());
    pedp.setNull(QStringLiteral("VERIF_ID"));
    ASSERT_TRUE(pedp.post());
    personal->confirmIdentity = [] { return std::optional<TFPedP::Identity>(); };
    prompter.clear();
    personal->enviar();
    EXPECT_TRUE(prompter.texts().contains(
                    QStringLiteral("Lo sentimos, no se puede enviar el pedido sin la confirmación biometrica")) ||
                !prompter.texts().isEmpty())
        << texts().toStdString();
    EXPECT_EQ(pedp.text(QStringLiteral("C_EST")), QStringLiteral("I")) << "nothing was sent";
}

} // namespace
} // namespace qev
