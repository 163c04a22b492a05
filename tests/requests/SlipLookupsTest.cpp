// The slip lookups, the check of a request against its slip and the retrieval of internet requests, through the
// data module's own slip services talking to the central office simulator over HTTP.
#include "requests/SlipLookups.h"

#include "CentralSim.h"
#include "RequestFixture.h"
#include "core/Settings.h"
#include "requests/InternetRetrieval.h"
#include "requests/PedBol.h"
#include "requests/PersonalRequestRules.h"
#include <QFile>

namespace qev {
namespace {

using dbf::Value;
using test::RequestFixture;

const QByteArray kData = R"({
  "slips": [
    {"boleta": "A1000000001", "n_doc": 30111222, "pedido": 501, "fecha": "15/03/2024"},
    {"boleta": "A2000000002", "n_doc": 18222333, "pedido": 502, "fecha": "16/03/2024 10:22:00"},
    {"boleta": "A6000000003", "n_doc": 27444555, "pedido": 503, "fecha": null},
    {"boleta": "A1000000004", "n_doc": 20999888, "fault": "La boleta está bloqueada"},
    {"boleta": "A1000000005", "n_doc": 11111111, "pedido": 505, "fecha": "hoy"},
    {"boleta": "A1000000006", "n_doc": 22222222, "pedido": 506},
    {"boleta": "A1000000007", "n_doc": 33333333, "pedido": 507},
    {"boleta": "A1000000008", "n_doc": 44444444, "pedido": 508},
    {"boleta": "A1000000009", "n_doc": 55555555, "pedido": 509}
  ],
  "requests": [
    {"c_tped": "I", "c_pedido": 501, "n_doc": 30111222,
     "items": ["c_pedido=501", "x_ape1=GOMEZ PEREZ", "x_nom1=ANA", "x_nom2=MARIA", "n_doc=30111222",
               "f_nac=12/05/1980 0:00:00", "c_tdoc=1", "c_sexo=F", "c_pais=32", "c_tram=1",
               "x_direc_solic=SAN MARTIN 120", "x_loc=CORDOBA", "c_prov_solic=14", "c_codpos_solic=5000",
               "x_nom1p=JUAN", "x_ape1m=PEREZ", "x_nom1m=ROSA", "f_ped=01/01/2000", "c_segur=ABCDEF0123"]},
    {"c_tped": "I", "c_pedido": 502, "n_doc": 18222333,
     "items": ["x_ape1=MUÑOZ", "x_nom1=ANGEL", "n_doc=18222333", "f_nac=29/02/1968", "c_tdoc=pas",
               "x_ape2=UNAPELLIDODEMASIADOLARGO", "c_codpos_solic=cinco mil", "c_pais=32"]},
    {"c_tped": "I", "c_pedido": 503, "n_doc": 27444555,
     "items": ["x_ape1=IBAÑEZ", "x_nom1=JOSE", "n_doc=27444555", "f_nac=03/11/1975", "c_pais=32"]},
    {"c_tped": "I", "c_pedido": 506, "n_doc": 22222222, "items": ["x_ape1=SOLO"]},
    {"c_tped": "I", "c_pedido": 507, "n_doc": 33333333, "items": ["x_ape1=GOMEZ", "n_doc=treinta"]},
    {"c_tped": "I", "c_pedido": 508, "n_doc": 44444444, "text": "x"},
    {"c_tped": "I", "c_pedido": 509, "n_doc": 55555555, "fault": "Base de datos fuera de servicio"}
  ]
})";

class SlipLookupsTest : public RequestFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.started()) << sim.error().toStdString();
        RequestFixture::SetUp();
        useCentral(sim.root());
        dm->setLogin(QStringLiteral("operador"), QStringLiteral("x"));
    }
    // Points the workstation at a central office and lets the data module pick it up.
    void useCentral(const QString& root) {
        WorkstationIni(dir.path()).setServiceUrl(root + QStringLiteral("QEVService/QEVMessageService.asmx"));
        dm->deriveFlags();
        ASSERT_NE(dm->slipService(), nullptr);
    }
    int calls() const { return static_cast<int>(sim.logText().count(QLatin1Char('\n'))); }
    // A saved personal request for the slip A1000000001, as the operator would type it.
    void savedRequest() {
        newPersonalRequest("A1000000001");
        Dataset& p = dm->pedp();
        p.setValue(QStringLiteral("F_PAGO"), fromQDate(QDate(2024, 3, 15)));
        ASSERT_TRUE(save(p)) << texts().toStdString();
        ASSERT_TRUE(p.edit());
        prompter.clear();
    }

    test::CentralSim sim{kData};
};

TEST_F(SlipLookupsTest, SlipDataArriveInThePedBolRowOrNotAtAll) {
    QString message;
    PedBol& slip = dm->slips().pedBol();
    EXPECT_EQ(dm->ObtenerDatosBoleta(QStringLiteral("A1000000001"), 30111222, message), 1) << message.toStdString();
    EXPECT_EQ(slip.text(QStringLiteral("x_ape1")), QStringLiteral("GOMEZ PEREZ"));
    EXPECT_EQ(slip.value(QStringLiteral("n_doc")).integer(), 30111222);
    EXPECT_EQ(slip.text(QStringLiteral("f_nac")), QStringLiteral("12/05/1980"));
    EXPECT_EQ(prompter.busyDepth(), 0) << "the hourglass is restored";

    EXPECT_EQ(dm->ObtenerDatosBoleta(QStringLiteral("A1000000001"), 30111223, message), 0) << "another document";
    EXPECT_TRUE(slip.isEmpty()) << "emptied before every fetch";

    EXPECT_EQ(dm->ObtenerDatosBoleta(QStringLiteral("A1000000004"), 20999888, message), -1);
    EXPECT_EQ(message, QStringLiteral("Error al intentar obtener el código de la boleta."));

    message.clear();
    EXPECT_EQ(dm->ObtenerDatosBoleta(QStringLiteral("A1000000006"), 22222222, message), -1) << "one item is no data";
    EXPECT_TRUE(message.isEmpty());
    EXPECT_TRUE(prompter.texts().isEmpty()) << texts().toStdString();

    EXPECT_EQ(dm->ObtenerDatosBoleta(QStringLiteral("A1000000007"), 33333333, message), -1);
    EXPECT_EQ(message, QStringLiteral("Error al decodificar datos de la boleta"));
    EXPECT_TRUE(slip.isEmpty()) << "a row that failed to decode is not kept";

    EXPECT_EQ(dm->ObtenerDatosBoleta(QStringLiteral("A1000000008"), 44444444, message), -1);
    EXPECT_EQ(prompter.lastText(),
              QStringLiteral("Error: La respuesta a la solicitud de datos de la boleta esta vacia."));
    EXPECT_EQ(dm->ObtenerDatosBoleta(QStringLiteral("A1000000009"), 55555555, message), -1);
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Error al solicitar los datos de la boleta."));
}

TEST_F(SlipLookupsTest, PaymentDateIsTheDatePartOfTheAnswer) {
    QDate date;
    EXPECT_TRUE(dm->ObtenerFechaPago(QStringLiteral("A1000000001"), date));
    EXPECT_EQ(date, QDate(2024, 3, 15));
    EXPECT_TRUE(dm->ObtenerFechaPago(QStringLiteral("A2000000002"), date)) << texts().toStdString();
    EXPECT_EQ(date, QDate(2024, 3, 16));
    EXPECT_FALSE(dm->ObtenerFechaPago(QStringLiteral("A6000000003"), date));
    EXPECT_TRUE(prompter.texts().isEmpty()) << "no date is not an error";
    EXPECT_FALSE(dm->ObtenerFechaPago(QStringLiteral("A1000000005"), date));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("ERROR al intentar obtener la fecha del pago."));
    prompter.clear();
    EXPECT_FALSE(dm->ObtenerFechaPago(QStringLiteral("A1000000004"), date));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("ERROR al intentar obtener la fecha del pago."));
}

TEST_F(SlipLookupsTest, ApplyingAPaidCodeTakesThePaymentDateFromTheCentralOffice) {
    savedRequest();
    Dataset& p = dm->pedp();
    p.setNull(QStringLiteral("F_PAGO"));
    EXPECT_TRUE(dm->personalRules().AplicarCodigoBoleta(QStringLiteral("A2000000002")));
    EXPECT_EQ(p.text(QStringLiteral("C_TRAM")), QStringLiteral("2"));
    EXPECT_EQ(toQDate(p.value(QStringLiteral("F_PAGO"))), QDate(2024, 3, 16));
    EXPECT_EQ(p.value(QStringLiteral("C_BANCO")).number(), 2);
}

TEST_F(SlipLookupsTest, SendingChecksTheRequestAgainstItsSlip) {
    savedRequest();
    Dataset& p = dm->pedp();
    struct Shown {
        QString pago, reg, ped;
    };
    std::vector<Shown> shown;
    bool goOn = false;
    dm->personalRules().compareWindow = [&](const QString& pago, const QString& reg, const QString& ped) {
        shown.push_back({pago, reg, ped});
        return goOn;
    };
    // The slip holds both surnames; the request's first is within them.
    EXPECT_TRUE(dm->personalRules().ValidarPedidoPersonal()) << texts().toStdString();
    EXPECT_TRUE(shown.empty());

    p.setValue(QStringLiteral("X_NOM1"), Value("ANALIA"));
    EXPECT_FALSE(dm->personalRules().ValidarPedidoPersonal());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].pago, QStringLiteral("A1000000001"));
    EXPECT_EQ(shown[0].ped, p.text(QStringLiteral("C_PED")));
    EXPECT_EQ(shown[0].reg, p.text(QStringLiteral("C_REG")));
    goOn = true;
    EXPECT_TRUE(dm->personalRules().ValidarPedidoPersonal());

    // A slip for another document: the operator chooses.
    p.setValue(QStringLiteral("N_DOC"), Value(30111299.0));
    prompter.answerConfirm(true);
    EXPECT_FALSE(dm->personalRules().ValidarPedidoPersonal());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("El Documento del Pedido no corresponde con la Boleta ó Boleta "
                                                  "Inexistente.\r¿Desea cancelar el envío del pedido?"));
    EXPECT_EQ(prompter.messages().back().caption, QStringLiteral("Advertencia"));
    prompter.answerConfirm(false);
    EXPECT_TRUE(dm->personalRules().ValidarPedidoPersonal());

    // The central office cannot be reached: the operator is told and the sending goes on.
    useCentral(QStringLiteral("http://127.0.0.1:%1/").arg(test::deadPort()));
    prompter.clear();
    EXPECT_TRUE(dm->personalRules().ValidarPedidoPersonal());
    EXPECT_EQ(prompter.lastText(), QStringLiteral("ERROR: Al intentar verificar los datos con la boleta.\rMensaje: "
                                                  "Error al intentar obtener el código de la boleta."));
    // The technical reason goes to the log file, mail logging being on in this office.
    const QString log = QString::fromLatin1(contents(QStringLiteral("QevRegLog.log")));
    EXPECT_TRUE(log.contains(QStringLiteral("10/05/2024 10:00:00 - GetPedidoByBoletaDoc: ")) &&
                log.contains(QStringLiteral("refused"), Qt::CaseInsensitive))
        << log.toStdString();

    // With the check off, nothing is asked.
    ASSERT_TRUE(dm->settings().write(QStringLiteral("m_chkdatbol"), QStringLiteral("N")));
    dm->deriveFlags();
    prompter.clear();
    EXPECT_TRUE(dm->personalRules().ValidarPedidoPersonal());
    EXPECT_TRUE(prompter.texts().isEmpty()) << texts().toStdString();
}

TEST_F(SlipLookupsTest, InternetRequestBecomesASavedPersonalRequest) {
    InternetRetrieval retrieval = dm->internetRetrieval();
    ASSERT_EQ(retrieval.consultar(QStringLiteral(" a1000000001 "), QStringLiteral("30111222")),
              InternetRetrieval::Outcome::Saved)
        << texts().toStdString();
    Dataset& p = dm->pedp();
    EXPECT_EQ(p.state(), Dataset::State::Browse);
    EXPECT_EQ(p.value(QStringLiteral("C_PED")).number(), 1);
    EXPECT_EQ(p.text(QStringLiteral("C_TDOC")), QStringLiteral("1")) << "the central office's code of the DNI";
    EXPECT_EQ(p.text(QStringLiteral("X_APE1")), QStringLiteral("GOMEZ PEREZ"));
    EXPECT_EQ(p.text(QStringLiteral("X_NOM2")), QStringLiteral("MARIA"));
    EXPECT_EQ(p.value(QStringLiteral("C_NAC")).number(), 32);
    EXPECT_EQ(toQDate(p.value(QStringLiteral("F_NAC"))), QDate(1980, 5, 12)) << "a time of day is ignored";
    EXPECT_EQ(p.text(QStringLiteral("X_NOMPADR1")), QStringLiteral("JUAN"));
    EXPECT_EQ(p.text(QStringLiteral("X_APEMADR1")), QStringLiteral("PEREZ"));
    EXPECT_EQ(p.text(QStringLiteral("X_DOM_S")), QStringLiteral("SAN MARTIN 120"));
    EXPECT_EQ(p.text(QStringLiteral("X_LOC_S")), QStringLiteral("CORDOBA"));
    EXPECT_EQ(p.value(QStringLiteral("C_CODPOS_S")).number(), 5000);
    // The defaults and the office's own data stay.
    EXPECT_EQ(toQDate(p.value(QStringLiteral("F_PED"))), clock.today());
    EXPECT_NE(p.text(QStringLiteral("C_SEGUR")), QStringLiteral("ABCDEF0123"));
    // The slip code made it a paid common request, with the payment date of the central office.
    EXPECT_EQ(p.text(QStringLiteral("C_PAGO")), QStringLiteral("A1000000001"));
    EXPECT_EQ(p.text(QStringLiteral("C_TRAM")), QStringLiteral("1"));
    EXPECT_EQ(p.value(QStringLiteral("C_PRIOR")).number(), 4);
    EXPECT_EQ(p.value(QStringLiteral("C_BANCO")).number(), 2);
    EXPECT_EQ(toQDate(p.value(QStringLiteral("F_PAGO"))), QDate(2024, 3, 15));
    EXPECT_EQ(p.text(QStringLiteral("C_LOGIN")), QStringLiteral("operador"));

    // The document type is found by the central office's code, whatever its case.
    Dataset& tdoc = *dm->table(QStringLiteral("tdoc"));
    ASSERT_TRUE(tdoc.locate(QStringLiteral("C_TDOC"), Value("5")));
    ASSERT_TRUE(tdoc.edit());
    tdoc.setValue(QStringLiteral("C_EXPORT"), Value("PAS"));
    ASSERT_TRUE(tdoc.post());
    // Values a field cannot take are left out; the request is still made.
    ASSERT_EQ(retrieval.consultar(QStringLiteral("A2000000002"), QStringLiteral("18222333")),
              InternetRetrieval::Outcome::Saved)
        << texts().toStdString();
    EXPECT_EQ(p.text(QStringLiteral("X_APE1")), QStringLiteral("MUÑOZ"));
    EXPECT_TRUE(p.isNull(QStringLiteral("X_APE2")));
    EXPECT_TRUE(p.isNull(QStringLiteral("C_CODPOS_S")));
    EXPECT_EQ(p.text(QStringLiteral("C_TDOC")), QStringLiteral("5"));

    // An exempt slip clears bank and payment date.
    ASSERT_EQ(retrieval.consultar(QStringLiteral("A6000000003"), QStringLiteral("27444555")),
              InternetRetrieval::Outcome::Saved);
    EXPECT_EQ(p.text(QStringLiteral("C_TRAM")), QStringLiteral("6"));
    EXPECT_TRUE(p.isNull(QStringLiteral("C_BANCO")));
    EXPECT_TRUE(p.isNull(QStringLiteral("F_PAGO")));
    EXPECT_EQ(p.rowCount(), 3);
}

TEST_F(SlipLookupsTest, InternetRetrievalRefusesBadInputBeforeCallingAndLeavesNothingBehind) {
    InternetRetrieval retrieval = dm->internetRetrieval();
    struct Case {
        const char* boleta;
        const char* document;
        const char* message;
    };
    const Case refused[] = {
        {"   ", "30111222", "Debe indicar el código de boleta "},
        {"A100000000", "30111222", "El código de boleta debe contener 11 caracteres"},
        {"A10000000011", "30111222", "El código de boleta debe contener 11 caracteres"},
        {"A1000000001", "30A11222", "Debe indicar el número de documento (Debe ser del tipo numérico)"},
        {"A1000000001", "", "Debe indicar el número de documento (Debe ser del tipo numérico)"},
    };
    for (const Case& c : refused) {
        EXPECT_EQ(retrieval.consultar(QString::fromLatin1(c.boleta), QString::fromLatin1(c.document)),
                  InternetRetrieval::Outcome::Refused);
        EXPECT_EQ(prompter.lastText(), QString::fromUtf8(c.message)) << c.boleta << " " << c.document;
    }
    EXPECT_EQ(calls(), 0) << sim.logText().toStdString();

    const Case unanswered[] = {
        {"A1000000001", "30111223", "No se pudo recuperar ningún código de trámite con los datos indicados"},
        {"A1000000004", "20999888", "ERROR al intentar obtener el código del trámite."},
        {"A1000000009", "55555555", "ERROR al intentar obtener los datos del trámite."},
        {"A1000000006", "22222222", "No se pudo recuperar ningún trámite con los datos indicados"},
        {"A1000000008", "44444444", "No se pudo recuperar ningún trámite con los datos indicados"},
    };
    for (const Case& c : unanswered) {
        EXPECT_EQ(retrieval.consultar(QString::fromLatin1(c.boleta), QString::fromLatin1(c.document)),
                  InternetRetrieval::Outcome::Refused);
        EXPECT_EQ(prompter.lastText(), QString::fromUtf8(c.message)) << c.boleta;
    }
    Dataset& p = dm->pedp();
    EXPECT_EQ(p.state(), Dataset::State::Browse);
    EXPECT_EQ(p.rowCount(), 0);
    EXPECT_EQ(prompter.busyDepth(), 0);
}

TEST_F(SlipLookupsTest, ARequestTheOfficeCannotSaveStaysOpenForTheOperator) {
    ASSERT_TRUE(dm->settings().write(QStringLiteral("m_domic"), QStringLiteral("S")));
    dm->deriveFlags();
    InternetRetrieval retrieval = dm->internetRetrieval();
    EXPECT_EQ(retrieval.consultar(QStringLiteral("A1000000001"), QStringLiteral("30111222")),
              InternetRetrieval::Outcome::Unsaved);
    Dataset& p = dm->pedp();
    EXPECT_EQ(p.state(), Dataset::State::Insert);
    EXPECT_EQ(p.text(QStringLiteral("X_APE1")), QStringLiteral("GOMEZ PEREZ"));
    p.setValue(QStringLiteral("C_PAGO_DOMIC"), Value("D-1"));
    EXPECT_FALSE(p.post()) << "the retrieval's permission to save was used up";
    EXPECT_TRUE(save(p)) << texts().toStdString();
}

} // namespace
} // namespace qev

namespace qev {
namespace {

QByteArray demoData() {
    QFile f(QStringLiteral(QEV_SOURCE_DIR "/tools/qev-central-sim/demo-data.json"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class DemoCentralTest : public RequestFixture {
protected:
    test::CentralSim sim{demoData()};
};

// The demo office's central office serves slips that the lookups decode and the retrieval turns into requests.
TEST_F(DemoCentralTest, EveryDemoSlipDecodesAndBecomesARequest) {
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();
    WorkstationIni(dir.path()).setServiceUrl(sim.root() + QStringLiteral("QEVService/QEVMessageService.asmx"));
    dm->deriveFlags();
    clock.set(QDateTime(QDate(2026, 3, 20), QTime(9, 0))); // a few days after the demo slips were paid
    struct Slip {
        const char* boleta;
        int document;
        const char* kind;
    };
    for (const Slip& s :
         {Slip{"B1000000001", 30111222, "1"}, Slip{"B6000000002", 27444555, "6"}, Slip{"B2000000003", 18222333, "2"}}) {
        QString message;
        EXPECT_EQ(dm->ObtenerDatosBoleta(QString::fromLatin1(s.boleta), s.document, message), 1)
            << s.boleta << " " << message.toStdString() << " " << texts().toStdString();
        EXPECT_EQ(dm->internetRetrieval().consultar(QString::fromLatin1(s.boleta), QString::number(s.document)),
                  InternetRetrieval::Outcome::Saved)
            << s.boleta << " " << texts().toStdString();
        EXPECT_EQ(dm->pedp().text(QStringLiteral("C_TRAM")), QString::fromLatin1(s.kind));
        EXPECT_TRUE(dm->personalRules().ValidarPedidoPersonal()) << s.boleta << " " << texts().toStdString();
    }
    EXPECT_EQ(dm->internetRetrieval().consultar(QStringLiteral("B1000000004"), QStringLiteral("20999888")),
              InternetRetrieval::Outcome::Refused);
    EXPECT_EQ(prompter.lastText(), QStringLiteral("ERROR al intentar obtener el código del trámite."));
}

} // namespace
} // namespace qev
