// The internet request retrieval window against the central office simulator over HTTP.
#include "requests/ui/TFSelInternet.h"

#include "CentralSim.h"
#include "RequestFixture.h"
#include "core/Settings.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace qev {
namespace {

using test::RequestFixture;

const QByteArray kData = R"({
  "slips": [
    {"boleta": "A1000000001", "n_doc": 30111222, "pedido": 501, "fecha": "15/03/2024"},
    {"boleta": "A2000000002", "n_doc": 18222333, "pedido": 502, "fecha": "16/03/2024"},
    {"boleta": "A1000000004", "n_doc": 20999888, "fault": "La boleta está bloqueada"},
    {"boleta": "A1000000009", "n_doc": 55555555, "pedido": 509}
  ],
  "requests": [
    {"c_tped": "I", "c_pedido": 501, "n_doc": 30111222,
     "items": ["x_ape1=GOMEZ PEREZ", "x_nom1=ANA", "n_doc=30111222", "f_nac=12/05/1980", "c_tdoc=1", "c_sexo=F",
               "c_pais=32"]},
    {"c_tped": "I", "c_pedido": 502, "n_doc": 18222333,
     "items": ["x_ape1=MUÑOZ", "x_nom1=ANGEL", "n_doc=18222333", "f_nac=29/02/1968", "c_pais=32"]},
    {"c_tped": "I", "c_pedido": 509, "n_doc": 55555555, "fault": "Base de datos fuera de servicio"}
  ]
})";

const QString kWindowMissing =
    QStringLiteral("La ventana de pedidos personales no está disponible todavía en esta versión");

class SelInternetTest : public RequestFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.started()) << sim.error().toStdString();
        RequestFixture::SetUp();
        WorkstationIni(dir.path()).setServiceUrl(sim.root() + QStringLiteral("QEVService/QEVMessageService.asmx"));
        dm->deriveFlags();
        ASSERT_NE(dm->slipService(), nullptr);
        window = std::make_unique<TFSelInternet>(*dm, prompter);
    }
    void open() {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    QLineEdit* edit(const char* name) const { return window->findChild<QLineEdit*>(QString::fromLatin1(name)); }
    // Types both fields as the operator does: the slip, Tab, the document, Enter.
    void consult(const QString& boleta, const QString& document) {
        edit("edBoleta")->clear();
        edit("edDoc")->clear();
        edit("edBoleta")->setFocus();
        QTest::keyClicks(edit("edBoleta"), boleta);
        QTest::keyClick(edit("edBoleta"), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), edit("edDoc")) << "the document follows the slip";
        QTest::keyClicks(edit("edDoc"), document);
        QTest::keyClick(edit("edDoc"), Qt::Key_Return);
    }
    int calls() const { return static_cast<int>(sim.logText().count(QLatin1Char('\n'))); }

    test::CentralSim sim{kData};
    std::unique_ptr<TFSelInternet> window;
};

TEST_F(SelInternetTest, RefusalsAndServiceFailuresKeepTheWindowOpenWithTheirMessage) {
    int hookCalls = 0;
    window->showPersonalRequest = [&hookCalls] { ++hookCalls; };
    open();
    struct Case {
        const char* boleta;
        const char* document;
        const char* message;
        int callsAfter; // calls the central office has seen once the case ran
    };
    const Case cases[] = {
        {"A100000000", "30111222", "El código de boleta debe contener 11 caracteres", 0},
        {"A10000000011", "30111222", "El código de boleta debe contener 11 caracteres", 0},
        {"A1000000001", "30I11222", "Debe indicar el número de documento (Debe ser del tipo numérico)", 0},
        {"A1000000004", "20999888", "ERROR al intentar obtener el código del trámite.", 1},
        {"A1000000009", "55555555", "ERROR al intentar obtener los datos del trámite.", 3},
    };
    for (const Case& c : cases) {
        prompter.clear();
        consult(QString::fromLatin1(c.boleta), QString::fromLatin1(c.document));
        EXPECT_EQ(prompter.lastText(), QString::fromUtf8(c.message)) << c.boleta << " " << c.document;
        EXPECT_EQ(calls(), c.callsAfter) << c.boleta << "\n" << sim.logText().toStdString();
        EXPECT_TRUE(window->isVisible()) << c.boleta;
        EXPECT_EQ(edit("edBoleta")->text(), QString::fromLatin1(c.boleta)) << "the operator's input stays";
    }
    EXPECT_EQ(hookCalls, 0);
    EXPECT_EQ(dm->pedp().rowCount(), 0);
    EXPECT_FALSE(dm->pedp().editing());
    EXPECT_EQ(prompter.busyDepth(), 0);
}

TEST_F(SelInternetTest, ARetrievedRequestClosesTheWindowAndOpensThePersonalRequestOnIt) {
    Dataset& p = dm->pedp();
    std::vector<QString> seen; // what the personal request window would show
    window->showPersonalRequest = [&] {
        EXPECT_FALSE(window->isVisible()) << "this window closes first";
        EXPECT_EQ(p.state(), Dataset::State::Browse) << "saved";
        seen.push_back(p.text(QStringLiteral("C_PAGO")) + QLatin1Char(' ') + p.text(QStringLiteral("X_APE1")));
    };
    open();
    consult(QStringLiteral("a1000000001"), QStringLiteral(" 30111222 "));
    EXPECT_EQ(edit("edBoleta")->text(), QStringLiteral("A1000000001")) << "the slip is typed in upper case";
    ASSERT_EQ(seen, std::vector<QString>{QStringLiteral("A1000000001 GOMEZ PEREZ")}) << texts().toStdString();
    EXPECT_EQ(window->result(), QDialog::Accepted);
    EXPECT_EQ(p.rowCount(), 1);
    EXPECT_TRUE(prompter.texts().isEmpty()) << texts().toStdString();

    // Shown again: empty fields, the focus on the slip although the document had it when the window closed.
    open();
    EXPECT_TRUE(edit("edBoleta")->text().isEmpty());
    EXPECT_TRUE(edit("edDoc")->text().isEmpty());
    EXPECT_EQ(QApplication::focusWidget(), edit("edBoleta"));

    // Without a personal request window the request is still saved and the operator is told.
    window->showPersonalRequest = nullptr;
    consult(QStringLiteral("A2000000002"), QStringLiteral("18222333"));
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(prompter.lastText(), kWindowMissing);
    EXPECT_EQ(p.rowCount(), 2);
    EXPECT_EQ(p.text(QStringLiteral("X_APE1")), QStringLiteral("MUÑOZ"));
}

TEST_F(SelInternetTest, ARequestThatCannotBeSavedGoesToThePersonalRequestWindowOrIsDropped) {
    // An office with home service refuses to save a request without the home service payment.
    ASSERT_TRUE(dm->settings().write(QStringLiteral("m_domic"), QStringLiteral("S")));
    dm->deriveFlags();
    Dataset& p = dm->pedp();
    int hookCalls = 0;
    window->showPersonalRequest = [&] {
        ++hookCalls;
        EXPECT_EQ(p.state(), Dataset::State::Insert) << "left for the operator to complete";
        EXPECT_EQ(p.text(QStringLiteral("X_APE1")), QStringLiteral("GOMEZ PEREZ"));
    };
    open();
    consult(QStringLiteral("A1000000001"), QStringLiteral("30111222"));
    EXPECT_EQ(hookCalls, 1) << texts().toStdString();
    EXPECT_FALSE(window->isVisible());
    p.cancel();

    window->showPersonalRequest = nullptr;
    open();
    prompter.clear();
    consult(QStringLiteral("A1000000001"), QStringLiteral("30111222"));
    EXPECT_TRUE(window->isVisible()) << "nothing was made: the operator may try again";
    EXPECT_FALSE(p.editing()) << "no half-made request is left behind";
    EXPECT_EQ(p.rowCount(), 0);
    EXPECT_TRUE(prompter.lastText().startsWith(kWindowMissing + QLatin1Char('\r'))) << texts().toStdString();
}

} // namespace
} // namespace qev
