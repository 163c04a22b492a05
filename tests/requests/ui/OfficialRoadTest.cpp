// One official request through its window, from the first keystroke to the central office's answer: the office's
// mail account on the loopback Postfix and Dovecot, the central office played by the simulator.
#include "CentralSim.h"
#include "LoopbackMail.h"
#include "OfficialWindowFixture.h"
#include "RoadReplies.h"
#include "exchange/MailReception.h"
#include "exchange/TSMime.h"
#include "exchange/mail/TdmMail.h"
#include "requests/ui/TFBusqDel.h"
#include "requests/ui/TFsup.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QThread>

namespace qev {
namespace {

using dbf::Value;
using Button = DbNavigator::Button;

QByteArray bytesOf(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

class OfficialRoadTest : public test::OfficialWindowFixture {
protected:
    void SetUp() override {
        test::startLoopbackOffice(dir, true, prompter, clock, dm, QStringLiteral("user"), QStringLiteral("secret"),
                                  QStringLiteral("regional7@example.test"),
                                  {{"x_toreg", "central@example.test"}, {"m_impauto", "N"}});
        if (HasFatalFailure()) return;
        ASSERT_TRUE(dm->mail().leerConfiguracion());
        dm->createSender();
        for (const char* u : {"user", "central"})
            test::clearMailbox(QString::fromLatin1(u));
        makeWindow();
        prompter.clear();
    }
    static QString pdfText(const QString& pdf) {
        QProcess p;
        p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        return p.waitForFinished(30000) ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
    }
};

TEST_F(OfficialRoadTest, OneRequestFromTheFirstKeystrokeToTheCentralOfficesAnswer) {
    const QString cardFile = writeImage("ficha.tif", 2480, 1299, 200);
    const QString pageFile = writeImage("oficio-juzgado.tif", 2480, 3508, 245);
    Dataset& ped = dm->ped();
    const int before = ped.rowCount();

    // Typing into a row in browse state does nothing; insert starts a new request.
    type("x_ape1", QStringLiteral("nadie"));
    EXPECT_FALSE(ped.editing());
    EXPECT_FALSE(child<QPushButton>("btDelito")->isEnabled());
    nav(Button::Insert);
    ASSERT_EQ(ped.state(), Dataset::State::Insert) << texts().toStdString();
    EXPECT_TRUE(child<QPushButton>("btDelito")->isEnabled());
    choose("c_org", QStringLiteral("Fiscalía de Instrucción N° 3"));
    EXPECT_EQ(ped.text(QStringLiteral("X_EMAIL")), QStringLiteral("fiscalia3.cba@example.org"));
    EXPECT_EQ(child<DbEdit>("x_dom")->text(), QStringLiteral("Duarte Quirós 650"));
    type("x_ape1", QStringLiteral("fernandez"));
    type("x_ape2", QStringLiteral("soria"));
    type("x_nom1", QStringLiteral("lucia"));
    type("n_causa", QStringLiteral("4411/2026"));
    type("f_nac", QStringLiteral("03/07/1988"));
    type("n_doc", QStringLiteral("331234567")); // one digit too many for the field
    choose("c_sexo", QStringLiteral("Femenino"));
    choose("c_nac", QStringLiteral("Argentina"));
    choose("c_tdoc", QStringLiteral("D.N.I."));
    choose("DBLookupComboBox1", QStringLiteral("48 Horas"));
    EXPECT_EQ(ped.text(QStringLiteral("X_APE1")), QStringLiteral("FERNANDEZ"));
    EXPECT_EQ(ped.text(QStringLiteral("N_DOC")), QStringLiteral("33123456"));

    // The offence: a category is refused, an offence is taken.
    onModal([this](QWidget* w) {
        auto* busq = qobject_cast<TFBusqDel*>(w);
        ASSERT_NE(busq, nullptr);
        busq->buscar(); // every field blank: the whole table, a category first
        busq->aceptar();
        EXPECT_EQ(prompter.lastText(), QStringLiteral("Error: Debe elegir un delito y no una categoría"));
        QTest::keyClicks(busq->findChild<QLineEdit*>(QStringLiteral("edDel")), QStringLiteral("ROBO CON"));
        QTest::mouseClick(busq->findChild<QPushButton*>(QStringLiteral("btBuscar")), Qt::LeftButton);
        EXPECT_EQ(dm->table(QStringLiteral("tdel"))->rowCount(), 1);
        QTest::mouseClick(busq->findChild<QPushButton*>(QStringLiteral("btOK")), Qt::LeftButton);
    });
    click("btDelito");
    EXPECT_EQ(ped.text(QStringLiteral("C_TDEL")).trimmed(), QStringLiteral("403"));
    EXPECT_EQ(child<QLineEdit>("x_tdel")->text(), QStringLiteral("Robo con armas"));
    EXPECT_FALSE(dm->table(QStringLiteral("tdel"))->filtered()) << "the search ends with the window";

    nav(Button::Post);
    ASSERT_EQ(ped.state(), Dataset::State::Browse) << texts().toStdString();
    ASSERT_EQ(ped.rowCount(), before + 1);
    const int cPed = static_cast<int>(ped.value(QStringLiteral("C_PED")).number());
    const QString suffix = QStringLiteral("%1.7").arg(cPed);
    EXPECT_EQ(child<QLabel>("c_ped")->text(), QString::number(cPed));

    // Two aliases.
    onModal([this](QWidget* w) {
        auto* sup = qobject_cast<TFsup*>(w);
        ASSERT_NE(sup, nullptr);
        for (const auto& [ape, nom] : {std::pair{"fernandes", "lucia"}, std::pair{"soria", "luz"}}) {
            sup->navigator()->click(Button::Insert);
            QTest::keyClicks(sup->findChild<QLineEdit*>(QStringLiteral("DBEdit3")), QString::fromLatin1(ape));
            QTest::keyClicks(sup->findChild<QLineEdit*>(QStringLiteral("DBEdit4")), QString::fromLatin1(nom));
            sup->navigator()->click(Button::Post);
            EXPECT_FALSE(dm->sup().editing()) << texts().toStdString();
        }
        QTest::mouseClick(sup->findChild<QPushButton*>(QStringLiteral("btSalir")), Qt::LeftButton);
    });
    click("Supuestos");
    EXPECT_EQ(dm->sup().rowCount(), 2);
    EXPECT_EQ(dm->sup().textAt(0, QStringLiteral("X_APE1")), QStringLiteral("FERNANDES"));

    // The card from a file, with both classifications; the request is left in edit with the card pending.
    digFich->chooseFile = [cardFile] { return cardFile; };
    onModal([this](QWidget*) {
        digFich->cargarImagen(capture::CardCapture::LoadFrom::Button);
        auto* der = digFich->findChild<QLineEdit*>(QStringLiteral("edClasDer"));
        der->selectAll();
        QTest::keyClicks(der, QStringLiteral("V1234"));
        digFich->grabar();
    });
    click("btDig");
    EXPECT_EQ(ped.state(), Dataset::State::Edit) << texts().toStdString();
    EXPECT_TRUE(exists(QStringLiteral("edit.tif")));
    EXPECT_EQ(ped.text(QStringLiteral("C_CLASDER")), QStringLiteral("V1234"));
    EXPECT_TRUE(workCopies().isEmpty()) << workCopies().join(',').toStdString();
    nav(Button::Post);
    ASSERT_FALSE(ped.editing()) << texts().toStdString();
    EXPECT_TRUE(exists(QStringLiteral("h") + suffix));
    EXPECT_FALSE(exists(QStringLiteral("edit.tif")));

    // The court's letter as the documentation.
    imgDig->chooseFile = [pageFile] { return pageFile; };
    onModal([this](QWidget*) {
        imgDig->cargarImagen();
        QTest::mouseClick(imgDig->findChild<QPushButton*>(QStringLiteral("btSave")), Qt::LeftButton);
    });
    click("btDocumento");
    EXPECT_EQ(ped.state(), Dataset::State::Edit) << texts().toStdString();
    nav(Button::Post);
    ASSERT_FALSE(ped.editing()) << texts().toStdString();
    EXPECT_TRUE(exists(QStringLiteral("d") + suffix));
    EXPECT_TRUE(workCopies().isEmpty()) << workCopies().join(',').toStdString();

    // The letter to the organisation, with the person and both aliases.
    click("btOficio");
    ASSERT_EQ(letters.size(), 1u) << texts().toStdString();
    const QString letter = pdfText(dir.file(QStringLiteral("oficio.pdf")));
    for (const char* expected : {"FERNANDEZ SORIA", "FERNANDES", "LUZ", "Fiscalía de Instrucción N° 3", "4411/2026"})
        EXPECT_TRUE(letter.contains(QString::fromUtf8(expected))) << expected << "\n" << letter.toStdString();

    // Sent by mail to the central office.
    prompter.clear();
    click("btEnv");
    dm->sender().waitForSends();
    ASSERT_EQ(test::waitForMail(QStringLiteral("central"), 1, 15000).size(), 1) << texts().toStdString();
    ped.refresh();
    EXPECT_EQ(ped.text(QStringLiteral("C_EST")), QStringLiteral("E"));
    EXPECT_TRUE(child<QCheckBox>("m_enviado")->isChecked());
    EXPECT_EQ(child<QComboBox>("DBLookupComboBox3")->currentText(), QStringLiteral("Enviado"));
    prompter.clear();
    nav(Button::Edit);
    EXPECT_EQ(prompter.lastText(), QStringLiteral("No se puede modificar un pedido que ya ha sido enviado"));
    EXPECT_FALSE(ped.editing());

    // The central office confirms, then answers; the window shows each state.
    test::CentralSim sim("{}", QStringLiteral("127.0.0.1:") + test::smtpPort(), QStringLiteral("user@example.test"));
    ASSERT_TRUE(sim.started()) << sim.error().toStdString();
    const auto reply = [&](const char* kind, const QStringList& args) {
        test::replyAndReceive(sim, *dm, kind, cPed, args);
    };
    reply("confirmo",
          {QStringLiteral("--expediente"), QStringLiteral("7301"), QStringLiteral("--estado"), QStringLiteral("T")});
    ASSERT_TRUE(ped.locate(QStringLiteral("C_PED"), Value(double(cPed))));
    EXPECT_EQ(child<QComboBox>("DBLookupComboBox3")->currentText(), QStringLiteral("En Trámite"));
    EXPECT_EQ(child<QLabel>("PanelExpte")->text(), QStringLiteral("7301"));
    prompter.clear();
    click("btContes");
    EXPECT_EQ(prompter.lastText(), QStringLiteral("El pedido no ha sido contestado"));

    reply("contesto", {QStringLiteral("--expediente"), QStringLiteral("7301")});
    ASSERT_TRUE(ped.locate(QStringLiteral("C_PED"), Value(double(cPed))));
    EXPECT_EQ(ped.text(QStringLiteral("C_EST")), QStringLiteral("C"));
    EXPECT_TRUE(child<QCheckBox>("m_contestado")->isChecked());
    EXPECT_EQ(child<QComboBox>("DBLookupComboBox3")->currentText(), QStringLiteral("Contestado"));
    ASSERT_TRUE(exists(QStringLiteral("c") + suffix));

    // The answer image in the viewer: a copy of the stored answer, kept until the next viewing.
    QString shown;
    for (int viewing = 0; viewing < 2; ++viewing) {
        onModal([this, &shown](QWidget*) {
            shown = verImg->archivo();
            EXPECT_GE(verImg->page(), 1);
            verImg->reject();
        });
        click("btContes");
        EXPECT_EQ(bytesOf(shown), bytesOf(dir.file(QStringLiteral("c") + suffix)));
        EXPECT_EQ(workCopies(), QStringList{QFileInfo(shown).fileName()}) << "the earlier viewing's copy is gone";
    }
}

} // namespace
} // namespace qev
