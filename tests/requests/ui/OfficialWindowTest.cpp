// The official request window's guards and the rules of its actions on the demo office, offscreen: what the
// navigator refuses and when, what the capture actions leave behind, and the messages of each action.
#include "OfficialWindowFixture.h"
#include "core/Settings.h"
#include "requests/ui/TFbped.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTcpServer>

#include <tuple>

namespace qev {
namespace {

using dbf::Value;
using Button = DbNavigator::Button;

class OfficialWindowTest : public test::OfficialWindowFixture {
protected:
    void SetUp() override {
        startDemoOffice();
        if (HasFatalFailure()) return;
        makeWindow();
        prompter.clear();
    }
    void at(double cPed) { ASSERT_TRUE(dm->ped().locate(QStringLiteral("C_PED"), Value(cPed))); }
    // Fails the test (and closes it) when an action opens a window it must not open.
    void refuseModals() {
        onModal([this](QWidget* w) {
            ADD_FAILURE() << "unexpected window " << w->windowTitle().toStdString();
            w->close();
        });
    }
};

TEST_F(OfficialWindowTest, NavigatorGuards) {
    Dataset& ped = dm->ped();
    // While mail is received, a new request or a save waits; editing does not.
    dm->setReceptionIdle(false);
    const QString busy = QStringLiteral("Advertencia: Se están recibiendo mensajes. \rVuelva a intentar en unos "
                                        "instantes.");
    at(1);
    nav(Button::Insert);
    EXPECT_EQ(prompter.lastText(), busy);
    EXPECT_FALSE(ped.editing());
    nav(Button::Edit);
    ASSERT_EQ(ped.state(), Dataset::State::Edit);
    type("x_ape2", QStringLiteral("ruiz"));
    prompter.clear();
    nav(Button::Post);
    EXPECT_EQ(prompter.lastText(), busy);
    EXPECT_EQ(ped.state(), Dataset::State::Edit) << "the operator's input stays";
    EXPECT_EQ(ped.text(QStringLiteral("X_APE2")), QStringLiteral("RUIZ"));
    dm->setReceptionIdle(true);

    // Moving to another request with the row unsaved is refused by the save rules; the row and its input stay.
    TFbped search(*dm, prompter, window.get());
    window->search = [&] {
        search.setTable(ped);
        search.show();
        search.findChild<QLineEdit*>(QStringLiteral("edPed"))->setText(QStringLiteral("3"));
        search.buscar();
        search.hide();
    };
    prompter.clear();
    click("btBuscar");
    EXPECT_EQ(ped.state(), Dataset::State::Edit);
    EXPECT_EQ(ped.value(QStringLiteral("C_PED")).number(), 1);
    EXPECT_EQ(ped.text(QStringLiteral("X_APE2")), QStringLiteral("RUIZ"));
    EXPECT_FALSE(prompter.texts().isEmpty());
    EXPECT_FALSE(prompter.texts().contains(QStringLiteral("Lo siento, no se ha encontrado el pedido")));
    // Closing the window with the row unsaved asks; a save the rules refuse keeps the window open.
    dm->setReceptionIdle(false);
    prompter.clear();
    prompter.answerConfirm(true);
    click("btSalir");
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(prompter.lastText(), busy);
    dm->setReceptionIdle(true);
    prompter.answerConfirm(true);
    click("btSalir");
    EXPECT_FALSE(window->isVisible());
    ASSERT_FALSE(ped.editing()) << texts().toStdString();
    EXPECT_EQ(ped.text(QStringLiteral("X_APE2")), QStringLiteral("RUIZ"));
    window->show();
    click("btBuscar");
    EXPECT_EQ(ped.value(QStringLiteral("C_PED")).number(), 3) << "once saved, the search moves";

    // Editing a sent request is refused unless it was rejected; deleting is left to the record rules' question.
    struct Case {
        double cPed;
        const char* state;
        bool editable;
    };
    for (const Case& c : {Case{2, "E", false}, Case{3, "T", false}, Case{4, "C", false}, Case{5, "R", true}}) {
        at(c.cPed);
        ASSERT_EQ(ped.text(QStringLiteral("C_EST")), QString::fromLatin1(c.state));
        prompter.clear();
        nav(Button::Edit);
        EXPECT_EQ(ped.editing(), c.editable) << c.state;
        if (!c.editable) {
            EXPECT_EQ(prompter.lastText(), QStringLiteral("No se puede modificar un pedido que ya ha sido enviado"));
        }
        ped.cancel();
    }
    at(2);
    const int rows = ped.rowCount();
    prompter.clear();
    prompter.answerConfirm(false);
    nav(Button::Delete);
    EXPECT_EQ(prompter.messages().size(), 1u) << "one question, the rules' own: " << texts().toStdString();
    EXPECT_EQ(ped.rowCount(), rows);
    prompter.answerConfirm(true);
    nav(Button::Delete);
    EXPECT_EQ(ped.rowCount(), rows - 1);
}

TEST_F(OfficialWindowTest, ActionsThatRefuseSayWhyAndOpenNothing) {
    Dataset& ped = dm->ped();
    dm->timer().start(60000);
    struct Case {
        double cPed;
        const char* button;
        const char* message;
    };
    // Request 4 is nominative (no card), request 1 has no case file number yet.
    const Case cases[] = {
        {4, "btDig",
         "Ud. a ingresado un pedido con carácter Nominativo (sin ficha),\rOmita el ingreso de la huella "
         "dactiloscópica y envíe directamente el pedido"},
        {1, "btDelito", "Antes de seleccionar el delito, debe cambiar al modo edición"},
        {1, "btEstVorlund", "Sin número de expte. no se puede consultar el estado"},
        {1, "btContes", "El pedido no ha sido contestado"},
    };
    for (const Case& c : cases) {
        at(c.cPed);
        prompter.clear();
        refuseModals();
        if (QString::fromLatin1(c.button) == QStringLiteral("btDelito"))
            window->elegirDelito(); // the button itself is disabled in browse state
        else if (QString::fromLatin1(c.button) == QStringLiteral("btEstVorlund"))
            window->estadoVorlund();
        else
            click(c.button);
        QTest::qWait(20);
        stopWatching();
        EXPECT_EQ(prompter.lastText(), QString::fromUtf8(c.message)) << c.button;
        EXPECT_FALSE(ped.editing()) << c.button;
    }
    EXPECT_TRUE(dm->timer().isActive()) << "automatic reception goes on after the nominative message";
    EXPECT_TRUE(workCopies().isEmpty());

    // A letter without the first surname is not previewed.
    nav(Button::Insert);
    prompter.clear();
    click("btOficio");
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Debe ingresar todos los datos antes de visualizar el oficio"));
    EXPECT_TRUE(letters.empty());

    // An offence code that is not in the table is emptied on leaving the field; a known one stays.
    for (const auto& [typed, kept] : {std::pair{"999", ""}, std::pair{"401", "401"}}) {
        type("c_tdel", QString::fromLatin1(typed));
        child<DbEdit>("c_tdel")->clearFocus();
        Q_EMIT child<DbEdit>("c_tdel")->editingFinished();
        EXPECT_EQ(ped.text(QStringLiteral("C_TDEL")).trimmed(), QString::fromLatin1(kept)) << typed;
    }
    EXPECT_EQ(child<QLineEdit>("x_tdel")->text(), QStringLiteral("Hurto"));
    ped.cancel();
}

TEST_F(OfficialWindowTest, CaptureWindowsLeaveNoWorkingCopies) {
    Dataset& ped = dm->ped();
    at(1);
    const QString stored = dir.file(QStringLiteral("h1.7"));
    QFile::copy(writeImage("guardada.tif", 2480, 1299, 190), stored);
    dm->timer().start(60000);
    // The card window shows the stored card; closed without a change, the request stays as it was.
    QString loaded;
    bool timerStopped = false;
    onModal([&](QWidget* w) {
        loaded = card.shownImage();
        EXPECT_FALSE(card.Modificado) << "showing the stored card is not a change";
        timerStopped = !dm->timer().isActive();
        EXPECT_EQ(workCopies().size(), 1) << "the stored card is worked on as a copy";
        w->close();
    });
    click("btDig");
    EXPECT_FALSE(loaded.isEmpty()) << "the stored card is shown";
    EXPECT_TRUE(timerStopped) << "no reception while the card window is open";
    EXPECT_TRUE(dm->timer().isActive());
    EXPECT_FALSE(ped.editing());
    EXPECT_FALSE(exists(QStringLiteral("edit.tif")));
    EXPECT_TRUE(workCopies().isEmpty()) << workCopies().join(',').toStdString();
    EXPECT_TRUE(QFile::exists(stored));

    // The document window likewise: closed unsaved, nothing is taken and nothing is left.
    onModal([this](QWidget* w) {
        EXPECT_FALSE(dm->timer().isActive());
        w->close();
    });
    click("btDocumento");
    EXPECT_FALSE(ped.editing());
    EXPECT_FALSE(exists(QStringLiteral("docu.tif")));
    EXPECT_TRUE(workCopies().isEmpty()) << workCopies().join(',').toStdString();
    EXPECT_TRUE(dm->timer().isActive());

    // A capture action on a row being edited first saves it; the save rules refuse without the navigator's save.
    nav(Button::Edit);
    type("x_nom2", QStringLiteral("ines"));
    refuseModals();
    prompter.clear();
    click("btDocumento");
    QTest::qWait(20);
    stopWatching();
    EXPECT_FALSE(prompter.texts().isEmpty());
    EXPECT_EQ(ped.state(), Dataset::State::Edit);
    EXPECT_EQ(ped.text(QStringLiteral("X_NOM2")), QStringLiteral("INES"));
    ped.cancel();
}

TEST_F(OfficialWindowTest, LivescanFingersBecomeThePendingArchive) {
    Dataset& ped = dm->ped();
    struct Call {
        int pedido = 0, regional = 0;
        bool soloLectura = false;
    } call;
    QByteArray archiveBytes("PK\x03\x04 ten fingers");
    window->takeLiveScan = [&](int pedido, int regional, bool soloLectura, QString& izq, QString& der) {
        call = {pedido, regional, soloLectura};
        izq = QStringLiteral("E1234");
        der = QStringLiteral("V2222");
        const QString archive = dir.file(QStringLiteral("dedos.zip"));
        QFile f(archive);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(archiveBytes);
        return archive;
    };
    // Only the flat livescan window captures.
    ASSERT_TRUE(dm->settings().write(QStringLiteral("LiveScan"), QStringLiteral("Ninguno")));
    at(1);
    window->liveScan();
    EXPECT_EQ(call.pedido, 0) << "no capture without the flat window";
    EXPECT_FALSE(prompter.texts().isEmpty());

    ASSERT_TRUE(dm->settings().write(QStringLiteral("LiveScan"), QStringLiteral("Plano")));
    for (const auto& [cPed, state, viewOnly] :
         {std::tuple{1.0, "I", false}, std::tuple{3.0, "T", true}, std::tuple{4.0, "C", true}}) {
        at(cPed);
        ASSERT_EQ(ped.text(QStringLiteral("C_EST")), QString::fromLatin1(state));
        window->liveScan();
        EXPECT_EQ(call.pedido, static_cast<int>(cPed));
        EXPECT_EQ(call.regional, 7);
        EXPECT_EQ(call.soloLectura, viewOnly) << state;
        ped.cancel();
    }
    at(1);
    window->liveScan();
    ASSERT_EQ(ped.state(), Dataset::State::Edit) << texts().toStdString();
    QFile pending(dir.file(QStringLiteral("edit.zip")));
    ASSERT_TRUE(pending.open(QIODevice::ReadOnly));
    EXPECT_EQ(pending.readAll(), archiveBytes);
    EXPECT_FALSE(exists(QStringLiteral("dedos.zip"))) << "the window's archive is taken, not copied";
    EXPECT_EQ(ped.text(QStringLiteral("C_CLASIZQ")), QStringLiteral("E1234"));
    EXPECT_EQ(ped.text(QStringLiteral("C_CLASDER")), QStringLiteral("V2222"));
    ped.cancel();
}

TEST_F(OfficialWindowTest, RejectionReasonAndTheOfficesKindOfControls) {
    Dataset& ped = dm->ped();
    at(5);
    ASSERT_EQ(ped.text(QStringLiteral("C_EST")), QStringLiteral("R"));
    const QString stored = ped.text(QStringLiteral("X_RECHAZO")).trimmed();
    ASSERT_FALSE(stored.isEmpty());
    click("btContes");
    ASSERT_FALSE(prompter.messages().empty());
    EXPECT_EQ(prompter.messages().back().text, stored);
    EXPECT_EQ(prompter.messages().back().caption, QStringLiteral("Motivo del Rechazo"));

    // Without a stored reason the service is asked; when it cannot answer the error is said and the cursor
    // comes back.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    WorkstationIni(dir.path())
        .setServiceUrl(QStringLiteral("http://127.0.0.1:%1/QEVService/QEVMessageService.asmx").arg(port));
    nav(Button::Edit);
    ped.setNull(QStringLiteral("X_RECHAZO"));
    dm->setSavePermission(true);
    ASSERT_TRUE(ped.post()) << texts().toStdString();
    prompter.clear();
    click("btContes");
    EXPECT_EQ(prompter.busyDepth(), 0);
    ASSERT_FALSE(prompter.messages().empty());
    EXPECT_EQ(prompter.messages().back().kind, QStringLiteral("error")) << texts().toStdString();
    EXPECT_NE(prompter.messages().back().caption, QStringLiteral("Motivo del Rechazo"));

    // What a nominative office and a branch office show.
    const auto shown = [this](const char* name) { return child<QWidget>(name)->isVisibleTo(window.get()); };
    for (const auto& [nominative, branch] : {std::pair{false, false}, std::pair{true, true}}) {
        ASSERT_TRUE(dm->settings().write(QStringLiteral("m_nomi"), QString::fromLatin1(nominative ? "S" : "N")));
        ASSERT_TRUE(dm->settings().write(QStringLiteral("m_es_suc"), QString::fromLatin1(branch ? "S" : "N")));
        dm->deriveFlags();
        window->hide();
        window->setVorlundVisible(branch);
        window->show();
        EXPECT_EQ(shown("DBLookupComboBox2"), nominative);
        EXPECT_EQ(shown("Label29"), nominative);
        EXPECT_EQ(shown("m_exc_art51"), branch);
        EXPECT_EQ(shown("btEstVorlund"), branch);
    }
}

} // namespace
} // namespace qev
