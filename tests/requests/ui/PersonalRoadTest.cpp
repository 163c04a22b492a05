// One personal request through its window: the slip looked up at the central office (played by the simulator over
// HTTP), the fingers from the simulated livescan device confirmed by the applicant's own finger, the receipt with its
// barcodes, sending by web service, a rejection, a correction and the answer by mail through the loopback servers;
// and a request filed on the internet retrieved into the window.
#include "CentralSim.h"
#include "LoopbackMail.h"
#include "NistFingers.h"
#include "OfficialWindowFixture.h"
#include "RoadReplies.h"
#include "WaitFor.h"
#include "capture/LiveScanSession.h"
#include "capture/ui/TFBioVerif.h"
#include "capture/ui/TFLiveScanPlano.h"
#include "core/Settings.h"
#include "dm/ReceptionOutput.h"
#include "exchange/BioQEV.h"
#include "exchange/MailReception.h"
#include "exchange/TSMime.h"
#include "exchange/mail/TdmMail.h"
#include "platform/SimulatedLiveScan.h"
#include "requests/PersonalRequestRules.h"
#include "requests/ui/TFCompPedBol.h"
#include "requests/ui/TFSelInternet.h"

#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QThread>

namespace qev {
namespace {

using dbf::Value;
using Button = DbNavigator::Button;

const QByteArray kData = R"({
  "slips": [
    {"boleta": "A1000000001", "n_doc": 30111222, "pedido": 501, "fecha": "10/03/2026"},
    {"boleta": "A1000000002", "n_doc": 27444555, "pedido": 502, "fecha": "11/03/2026"}
  ],
  "requests": [
    {"c_tped": "I", "c_pedido": 501, "n_doc": 30111222,
     "items": ["x_ape1=GOMEZ", "x_nom1=ANA", "n_doc=30111222", "f_nac=12/05/1980 0:00:00", "c_tdoc=1",
               "c_sexo=F", "c_pais=32", "c_tram=1"]},
    {"c_tped": "I", "c_pedido": 502, "n_doc": 27444555,
     "items": ["x_ape1=IBAÑEZ", "x_nom1=JOSE", "n_doc=27444555", "f_nac=03/11/1975 0:00:00", "c_tdoc=1",
               "c_sexo=M", "c_pais=32", "x_direc_solic=SAN MARTIN 120", "x_loc=CORDOBA", "c_prov_solic=14"]}
  ],
  "biometric": [{"app_id": "admin", "score": 5}]
})";

using test::waitFor;

class PersonalRoadTest : public test::OfficialWindowFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.started()) << sim.error().toStdString();
        test::startLoopbackOffice(dir, true, prompter, clock, dm, QStringLiteral("user"), QStringLiteral("secret"),
                                  QStringLiteral("regional7@example.test"),
                                  {{"m_impauto", "N"}, {"m_impconfp", "S"}, {"LiveScan", "Plano"}});
        if (HasFatalFailure()) return;
        ASSERT_TRUE(dm->settings().write(QStringLiteral("envWebService"), QStringLiteral("S")));
        WorkstationIni(dir.path()).setServiceUrl(sim.root() + QStringLiteral("QEVService/QEVMessageService.asmx"));
        dm->deriveFlags();
        dm->setLiveScanFromSettings();
        ASSERT_TRUE(dm->liveScan());
        ASSERT_TRUE(dm->mail().leerConfiguracion());
        dm->createSender();
        test::clearMailbox(QStringLiteral("user"));
        dm->personalRules().compareWindow = [this](const QString& pago, const QString& reg, const QString& ped) {
            return TFCompPedBol::compare(*dm, prompter, pago, reg, ped);
        };

        // The livescan device, its window and the biometric window, as the program makes them.
        auto device = std::make_unique<platform::SimulatedLiveScan>(dir.path());
        simulated = device.get();
        scanner = std::make_unique<platform::TFingerScan>(std::move(device), dir.path());
        QString error;
        ASSERT_TRUE(scanner->start(&error)) << error.toStdString();
        session = std::make_unique<capture::LiveScanSession>(dir.path());
        session->setConverter(QStringLiteral(QEV_BMP2WSQ));
        liveScanWindow = std::make_unique<TFLiveScanPlano>(*session, scanner.get(), prompter);
        liveScanWindow->options = [] {
            LiveScanOptions o;
            o.autoAvance = true;
            return o;
        };
        liveScanWindow->viewFinger = [](const QString&, const QString&) {};
        bioService.client().setTimeout(std::chrono::seconds(10));
        bioVerif = std::make_unique<TFBioVerif>(
            *scanner, [this](const QString& id, const QString& wsq) { return bioService.verificarHuella(id, wsq); },
            dm->settings(), dir.appDir(), prompter);
        makePersonalWindow();
        personal->takeLiveScan = [this](int pedido, int regional, bool soloLectura, QString& izq, QString& der) {
            return liveScanWindow->TomarHuellas(pedido, regional, soloLectura, false, izq, der) ? session->archivoZip()
                                                                                                : QString();
        };
        personal->confirmIdentity = [this]() -> std::optional<TFPedP::Identity> {
            bioVerif->prepareConfirmation(QStringLiteral("Confirmación biometrica"));
            if (bioVerif->exec() != QDialog::Accepted || bioVerif->verificationResult() <= 0) return std::nullopt;
            return TFPedP::Identity{bioVerif->user(), bioVerif->verificationResult()};
        };
        prompter.clear();
    }
    void TearDown() override {
        personal.reset();
        bioVerif.reset();
        liveScanWindow.reset();
        scanner.reset();
    }

    // The subjects of the packages the central office received by web service, oldest first.
    QStringList packageSubjects() const {
        QDir store(sim.storeDir());
        QStringList out;
        for (const QString& d : store.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            QFile f(store.filePath(d) + QStringLiteral("/message.txt"));
            if (!f.open(QIODevice::ReadOnly)) continue;
            for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n')))
                if (line.startsWith(QStringLiteral("Subject="))) out << line.mid(8);
        }
        return out;
    }
    void reply(const char* kind, int cPed, const QStringList& args) {
        test::replyAndReceive(sim, *dm, kind, cPed, args);
    }

    test::CentralSim sim{kData, QStringLiteral("127.0.0.1:") + test::smtpPort(), QStringLiteral("user@example.test")};
    BioQEVService bioService{sim.root()};
    platform::SimulatedLiveScan* simulated = nullptr;
    std::unique_ptr<platform::TFingerScan> scanner;
    std::unique_ptr<capture::LiveScanSession> session;
    std::unique_ptr<TFLiveScanPlano> liveScanWindow;
    std::unique_ptr<TFBioVerif> bioVerif;
};

TEST_F(PersonalRoadTest, OnePersonalRequestFromItsSlipToItsAnswer) {
    Dataset& pedp = dm->pedp();
    // The window has the focus, as the operator's does: leaving a field is a focus change.
    personal->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(personal.get()));
    // The applicant as typed, with a first name that differs from the one the slip was paid with.
    nav(Button::Insert);
    ASSERT_EQ(pedp.state(), Dataset::State::Insert) << texts().toStdString();
    type("x_ape1", QStringLiteral("gomez"));
    type("x_nom1", QStringLiteral("analia"));
    type("f_nac", QStringLiteral("12/05/1980"));
    type("DBEdit4", QStringLiteral("30111222"));
    choose("c_sexo", QStringLiteral("Femenino"));
    choose("c_nac", QStringLiteral("Argentina"));
    choose("DBLookupComboBox5", QStringLiteral("D.N.I."));
    type("DBEdit1", QStringLiteral("san martin 120"));
    type("dbTalon", QStringLiteral("A1000000001"));
    QTest::keyClick(child<QLineEdit>("dbTalon"), Qt::Key_Return);
    EXPECT_EQ(pedp.text(QStringLiteral("C_TRAM")).trimmed(), QStringLiteral("1")) << texts().toStdString();
    EXPECT_FALSE(child<QComboBox>("dblcbTram")->isEnabled()) << "the kind now comes from the slip";
    EXPECT_EQ(sim.logText().count(QStringLiteral(" GetFechaByBoleta c_boleta=")), 1) << "the slip is asked for once";
    EXPECT_FALSE(pedp.isNull(QStringLiteral("F_PAGO")))
        << "the payment date from the central office" << sim.logText().toStdString();

    nav(Button::Post);
    ASSERT_EQ(pedp.state(), Dataset::State::Browse) << texts().toStdString();
    const int cPed = static_cast<int>(pedp.value(QStringLiteral("C_PED")).number());
    const QString suffix = QStringLiteral("%1.7").arg(cPed);

    // Ten fingers from the device, then the applicant's finger confirms who gave them.
    onModal([&](QWidget*) {
        for (int n = 1; n <= capture::kFingers; ++n) {
            EXPECT_TRUE(simulated->push(test::nistFinger(n - 1)));
            if (!waitFor([&] {
                    return session->hasImage(n) && (n == capture::kFingers || liveScanWindow->dedoActual() > n);
                })) {
                ADD_FAILURE() << "finger " << n << " was not taken: " << liveScanWindow->statusText().toStdString();
                liveScanWindow->reject();
                return;
            }
        }
        liveScanWindow->waitForGrades();
        // A question about a card below the usual quality is answered No (not retaken) by the scripted operator.
        onModal(
            [&](QWidget*) {
                bioVerif->findChild<QLineEdit*>(QStringLiteral("edAppID"))->setText(QStringLiteral("admin"));
                bioVerif->activateWindow();
                QApplication::setActiveWindow(bioVerif.get());
                EXPECT_TRUE(waitFor([&] { return bioVerif->isActiveWindow(); }, 5000));
                EXPECT_TRUE(simulated->push(test::nistFinger(4)));
                // The window closes by itself once the finger is verified; it never hangs the test.
                if (!waitFor([&] { return !bioVerif->isVisible(); }, 15000)) {
                    ADD_FAILURE() << "the applicant's finger was not verified";
                    bioVerif->reject();
                }
            },
            bioVerif.get());
        if (!liveScanWindow->grabar()) {
            ADD_FAILURE() << "the fingers were not saved: " << texts().toStdString();
            liveScanWindow->reject();
        }
    });
    personal->liveScan();
    stopWatching();
    ASSERT_FALSE(pedp.editing()) << texts().toStdString();
    EXPECT_TRUE(exists(QStringLiteral("zp") + suffix)) << texts().toStdString();
    EXPECT_EQ(pedp.text(QStringLiteral("VERIF_ID")).trimmed(), QStringLiteral("5"));
    EXPECT_EQ(pedp.text(QStringLiteral("C_LOGIN")).trimmed(), QStringLiteral("admin"));
    EXPECT_TRUE(prompter.texts().contains(
        QStringLiteral("Las impresiones dactilares de la solicitud %1\rhan sido grabadas exitosamente!").arg(cPed)))
        << texts().toStdString();

    // The documents, then the receipt with both barcodes.
    imgDig->chooseFile = [this] { return writeImage("dni.tif", 2480, 3508, 245); };
    onModal([this](QWidget*) {
        imgDig->cargarImagen();
        QTest::mouseClick(imgDig->findChild<QPushButton*>(QStringLiteral("btSave")), Qt::LeftButton);
    });
    click("btDoc");
    stopWatching();
    ASSERT_TRUE(pedp.editing());
    nav(Button::Post);
    ASSERT_FALSE(pedp.editing()) << texts().toStdString();
    EXPECT_TRUE(exists(QStringLiteral("dp") + suffix));
    prompter.answerConfirm(false); // printed, not mailed
    click("btImpComp");
    ASSERT_EQ(letters.size(), 1u) << texts().toStdString();
    QProcess zbar;
    zbar.start(QStringLiteral("sh"),
               {QStringLiteral("-c"),
                QStringLiteral("pdftoppm -r 200 -png '%1' '%2' && zbarimg --quiet '%2'-1.png")
                    .arg(dir.file(QStringLiteral("comprobante.pdf")), dir.file(QStringLiteral("comprobante")))});
    ASSERT_TRUE(zbar.waitForFinished(60000));
    const QString codes = QString::fromUtf8(zbar.readAllStandardOutput());
    EXPECT_EQ(codes.count(QStringLiteral("CODE-39:")), 2) << codes.toStdString();
    EXPECT_TRUE(codes.contains(pedp.text(QStringLiteral("C_SEGUR")).trimmed())) << codes.toStdString();

    // Sending compares the request with its slip: the window shows the difference and the operator goes on.
    bool compared = false;
    onModal([&](QWidget* w) {
        compared = qobject_cast<TFCompPedBol*>(w) != nullptr;
        prompter.answerConfirm(true);
        if (auto* ok = w->findChild<QPushButton*>(QStringLiteral("btOK"))) ok->click();
        if (w->isVisible()) {
            ADD_FAILURE() << "the comparison did not go on: " << texts().toStdString();
            w->close();
        }
    });
    prompter.clear();
    click("btEnv");
    stopWatching();
    dm->sender().waitForSends();
    EXPECT_TRUE(compared) << texts().toStdString() << sim.logText().toStdString();
    EXPECT_EQ(packageSubjects(), QStringList{QStringLiteral("PEDIDOP")}) << texts().toStdString();
    reply("rechazop", cPed,
          {QStringLiteral("--expediente"), QStringLiteral("8101"), QStringLiteral("--estado"), QStringLiteral("R"),
           QStringLiteral("--obs"), QStringLiteral("El nombre no coincide con el de la boleta")});
    ASSERT_TRUE(pedp.locate(QStringLiteral("C_PED"), Value(double(cPed))));
    EXPECT_EQ(pedp.text(QStringLiteral("C_EST")), QStringLiteral("R"));
    prompter.clear();
    click("btContes");
    ASSERT_FALSE(prompter.messages().empty());
    EXPECT_EQ(prompter.messages().front().caption, QStringLiteral("Motivo del Rechazo"));
    EXPECT_EQ(prompter.messages().front().text, QStringLiteral("El nombre no coincide con el de la boleta"));

    // A rejected request is mended and sent again; now it matches its slip and no comparison is shown.
    onModal([](QWidget* w) {
        ADD_FAILURE() << "unexpected window " << w->windowTitle().toStdString();
        w->close();
    });
    nav(Button::Edit);
    ASSERT_EQ(pedp.state(), Dataset::State::Edit) << texts().toStdString();
    type("x_nom1", QStringLiteral("ana"));
    nav(Button::Post);
    ASSERT_FALSE(pedp.editing()) << texts().toStdString();
    prompter.clear();
    prompter.answerConfirm(true); // sent before and rejected: send again
    click("btEnv");
    dm->sender().waitForSends();
    stopWatching();
    EXPECT_EQ(prompter.texts().value(0),
              QStringLiteral("Este pedido fue rechazado\r¿Está seguro que desea volver a enviarlo?"));
    EXPECT_EQ(packageSubjects(), (QStringList{QStringLiteral("PEDIDOP"), QStringLiteral("PEDIDOP")}))
        << texts().toStdString();

    // In process at the central office, then corrected: the request turns to "D" and goes as a correction.
    reply("confirmop", cPed,
          {QStringLiteral("--expediente"), QStringLiteral("8101"), QStringLiteral("--estado"), QStringLiteral("T")});
    ASSERT_TRUE(pedp.locate(QStringLiteral("C_PED"), Value(double(cPed))));
    ASSERT_EQ(pedp.text(QStringLiteral("C_EST")), QStringLiteral("T"));
    prompter.answerConfirm(true); // "¿Desea modificar los datos?"
    nav(Button::Edit);
    ASSERT_EQ(pedp.text(QStringLiteral("C_EST")), QStringLiteral("D")) << texts().toStdString();
    type("DBEdit2", QStringLiteral("cordoba"));
    nav(Button::Post);
    ASSERT_FALSE(pedp.editing()) << texts().toStdString();
    click("btEnv");
    dm->sender().waitForSends();
    EXPECT_EQ(packageSubjects().value(2), QStringLiteral("CORRECCIONP")) << packageSubjects().join(',').toStdString();

    // Answered: the letter is printed and the answer image is shown.
    reply("contestop", cPed,
          {QStringLiteral("--expediente"), QStringLiteral("8101"), QStringLiteral("--res"), QStringLiteral("S")});
    ASSERT_TRUE(pedp.locate(QStringLiteral("C_PED"), Value(double(cPed))));
    EXPECT_EQ(pedp.text(QStringLiteral("C_EST")), QStringLiteral("C"));
    EXPECT_EQ(dm->pdfPrinter().written().size(), 1u) << "the answer letter printed";
    ASSERT_TRUE(exists(QStringLiteral("cp") + suffix));
    bool viewed = false;
    onModal([&](QWidget* w) {
        viewed = true;
        w->close();
    });
    click("btContes");
    stopWatching();
    EXPECT_TRUE(viewed) << texts().toStdString();
}

TEST_F(PersonalRoadTest, ARequestFiledOnTheInternetBecomesOneOfTheOffice) {
    TFSelInternet select(*dm, prompter);
    bool opened = false;
    select.showPersonalRequest = [&] { opened = true; };
    select.show();
    select.findChild<QLineEdit*>(QStringLiteral("edBoleta"))->setText(QStringLiteral("A1000000002"));
    select.findChild<QLineEdit*>(QStringLiteral("edDoc"))->setText(QStringLiteral("27444555"));
    select.consultar();
    ASSERT_TRUE(opened) << texts().toStdString() << sim.logText().toStdString();
    Dataset& pedp = dm->pedp();
    EXPECT_FALSE(pedp.editing());
    EXPECT_EQ(pedp.text(QStringLiteral("X_APE1")), QStringLiteral("IBAÑEZ"));
    EXPECT_EQ(pedp.text(QStringLiteral("C_PAGO")).trimmed(), QStringLiteral("A1000000002"));
    EXPECT_EQ(pedp.text(QStringLiteral("X_DOM_S")).trimmed(), QStringLiteral("SAN MARTIN 120"));
    EXPECT_EQ(child<QLineEdit>("x_ape1")->text(), QStringLiteral("IBAÑEZ")) << "the personal window stands on it";
}

} // namespace
} // namespace qev
