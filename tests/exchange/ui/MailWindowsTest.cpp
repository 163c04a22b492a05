// The mail windows offscreen against the loopback Postfix and Dovecot: the inbox lists the messages, shows an
// HTML message without running or fetching anything, saves and opens attachments only inside the office's
// attachment folder within the size rules, deletes and processes a message and selects the one before; the
// configuration's port fallback and its Outlook switch; the check on a good and a dead server; a new message with
// an attachment arrives.
#include "../CentralSim.h"
#include "../LoopbackMail.h"
#include "FixedClock.h"
#include "ScriptedPrompter.h"
#include "TempAppDir.h"
#include "core/OfficeSchema.h"
#include "core/Settings.h"
#include "dm/Tdm.h"
#include "exchange/HostIdentity.h"
#include "exchange/TSMime.h"
#include "exchange/mail/TdmMail.h"
#include "exchange/ui/TFConfigMail.h"
#include "exchange/ui/TFInboxMail.h"
#include "exchange/ui/TFMailCheck.h"
#include "exchange/ui/TFNewMail.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTcpServer>
#include <QThread>
#include <gtest/gtest.h>

namespace qev {
namespace {

using test::mailFiles;
using test::waitForMail;

const QString kSmtpPort = test::smtpPort();
const QString kPop3Port = test::pop3Port();

QString python(const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("/usr/bin/python3"), args);
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAll());
}

class MailWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::startLoopbackOffice(dir, false, prompter, clock, dm, QStringLiteral("user"), QStringLiteral("secret"),
                                  QStringLiteral("user@example.test"), {{"emailFwd", "other@example.test"}});
        if (HasFatalFailure()) return;
        ASSERT_TRUE(dm->mail().leerConfiguracion());
        dm->createSender();
        for (const char* u : {"user", "other"})
            test::clearMailbox(QString::fromLatin1(u));
        prompter.clear();
    }
    void TearDown() override {
        if (dm) dm->mail().desconectarPop3();
        for (const char* u : {"user", "other"})
            test::clearMailbox(QString::fromLatin1(u));
    }

    // The five messages of the inbox tests, delivered to "user".
    void deliverInbox() {
        ASSERT_TRUE(spy.listen(QHostAddress::LocalHost, 0));
        const QString out = python({QStringLiteral(QEV_SOURCE_DIR "/tests/exchange/data/inbox_messages.py"), kSmtpPort,
                                    QStringLiteral("user@example.test"), QString::number(spy.serverPort())});
        ASSERT_EQ(waitForMail(QStringLiteral("user"), 5).size(), 5) << out.toStdString();
    }

    int rowOf(TFInboxMail& w, const QString& subject) {
        const auto& rows = w.inbox().rows();
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].subject == subject) return static_cast<int>(i);
        return -1;
    }

    test::TempAppDir dir;
    test::FixedClock clock{QDateTime(QDate(2026, 3, 16), QTime(9, 30))};
    test::ScriptedPrompter prompter;
    std::unique_ptr<Tdm> dm;
    QTcpServer spy;
};

TEST_F(MailWindowsTest, InboxShowsHtmlSafelyAndKeepsAttachmentsInTheirFolder) {
    deliverInbox();
    TFInboxMail w(*dm, prompter);
    QStringList opened;
    w.inbox().openFile = [&opened](const QString& path) {
        opened << path;
        return true;
    };
    w.show();
    w.checkMail();
    auto* status = w.findChild<QStatusBar*>(QStringLiteral("StatusBar1"));
    EXPECT_EQ(status->currentMessage(), QStringLiteral("Total de mensajes en el servidor: 5"));
    EXPECT_EQ(w.findChild<QTableWidget*>(QStringLiteral("MailHeaders"))->rowCount(), 5);

    const int html = rowOf(w, QStringLiteral("Mensaje HTML"));
    ASSERT_GE(html, 0);
    w.selectRow(html);
    w.showSelected();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 300)
        QApplication::processEvents();
    auto* view = w.findChild<SafeMessageView*>(QStringLiteral("HTMLViewer"));
    const QString shown = view->toPlainText();
    EXPECT_TRUE(shown.contains(QStringLiteral("Hola operador"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("[imagen]")));
    EXPECT_FALSE(shown.contains(QStringLiteral("ALERTA-SCRIPT")));
    EXPECT_FALSE(shown.contains(QStringLiteral("background")));
    EXPECT_TRUE(view->refused().isEmpty()) << view->refused().value(0).toString().toStdString();
    EXPECT_FALSE(spy.hasPendingConnections()) << "the view fetched something";
    QFile body(dir.appDir().file(QStringLiteral("cuerpo.html")));
    ASSERT_TRUE(body.open(QIODevice::ReadOnly));
    const QByteArray page = body.readAll();
    EXPECT_FALSE(page.contains("<script") || page.contains("http://") || page.contains("onclick")) << page.data();
    EXPECT_EQ(w.findChild<QLabel*>(QStringLiteral("lblDe"))->text(),
              QStringLiteral("Mesa de Entradas <mesa@example.test>"));
    EXPECT_EQ(w.findChild<QLabel*>(QStringLiteral("lblCc"))->text(), QStringLiteral("copia@example.test"));
    EXPECT_FALSE(w.findChild<QWidget*>(QStringLiteral("pnlAdjuntos"))->isHidden());
    auto* attachments = w.findChild<QTableWidget*>(QStringLiteral("Adjuntos"));
    ASSERT_EQ(attachments->rowCount(), 3);
    if (const QString shots = qEnvironmentVariable("QEV_SCREENSHOT_DIR"); !shots.isEmpty())
        w.grab().save(shots + QStringLiteral("/TFInboxMail-mensaje.png"));

    // The hostile name is saved under its base name inside the attachment folder, and opened from there.
    const QString folder = dir.appDir().file(QStringLiteral("adjuntos"));
    attachments->selectRow(0);
    w.openAttachment();
    EXPECT_EQ(opened, QStringList{folder + QStringLiteral("/evil.txt")});
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/evil.txt")));
    EXPECT_FALSE(QFile::exists(dir.appDir().file(QStringLiteral("evil.txt"))));
    EXPECT_FALSE(QFile::exists(QFileInfo(dir.path()).dir().filePath(QStringLiteral("evil.txt"))));
    // A name in capitals is refused before anything is saved; a text of 46080 bytes is saved but not opened.
    prompter.clear();
    attachments->selectRow(1);
    w.openAttachment();
    EXPECT_EQ(prompter.lastText(),
              QStringLiteral("Desde esta aplicación, solo se pueden visualizar \radjuntos de tipo .dat .txt .tif"));
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/INFORME.TIF")));
    attachments->selectRow(2);
    w.openAttachment();
    EXPECT_EQ(prompter.lastText(), QStringLiteral("El adjunto es demasiado grande para el Bloc de notas"));
    EXPECT_EQ(QFileInfo(folder + QStringLiteral("/grande.txt")).size(), 46080);
    EXPECT_EQ(opened.size(), 1);
    // Saving proposes the same safe place.
    QString proposed;
    w.askSavePath = [&proposed, folder](const QString& p) {
        proposed = p;
        return folder + QStringLiteral("/copia.txt");
    };
    attachments->selectRow(0);
    w.saveAttachment();
    EXPECT_EQ(proposed, folder + QStringLiteral("/evil.txt"));
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Adjunto guardados en ") + folder + QStringLiteral("/copia.txt"));
    QFile copy(folder + QStringLiteral("/copia.txt"));
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), QByteArray("contenido peligroso\r\n"));
}

TEST_F(MailWindowsTest, DeleteAndProcessSelectTheMessageBefore) {
    deliverInbox();
    TFInboxMail w(*dm, prompter);
    w.show();
    w.checkMail();
    ASSERT_EQ(w.inbox().rows().size(), 5u);
    // "No" deletes nothing.
    w.selectRow(4);
    w.deleteSelected();
    EXPECT_EQ(waitForMail(QStringLiteral("user"), 5).size(), 5);
    prompter.answerConfirm(true);
    w.checkMail();
    w.selectRow(4);
    const QString fifth = w.inbox().rows()[4].subject;
    w.deleteSelected();
    EXPECT_TRUE(prompter.texts().contains(QStringLiteral("Mensaje eliminado")));
    ASSERT_EQ(w.inbox().rows().size(), 4u);
    EXPECT_EQ(rowOf(w, fifth), -1);
    ASSERT_GE(w.selectedRow(), 0);
    EXPECT_EQ(w.inbox().rows()[static_cast<size_t>(w.selectedRow())].index, 4);

    // A message that is not the central office's is forwarded to the forwarding account and deleted.
    const int foreign = rowOf(w, QStringLiteral("Aviso tres"));
    ASSERT_GE(foreign, 0);
    const int index = w.inbox().rows()[static_cast<size_t>(foreign)].index;
    w.selectRow(foreign);
    w.processSelected();
    EXPECT_TRUE(prompter.texts().contains(QStringLiteral("Mensaje reenviado exitosamente")))
        << prompter.texts().join('|').toStdString();
    EXPECT_EQ(w.inbox().rows().size(), 3u);
    EXPECT_EQ(rowOf(w, QStringLiteral("Aviso tres")), -1);
    ASSERT_GE(w.selectedRow(), 0);
    EXPECT_EQ(w.inbox().rows()[static_cast<size_t>(w.selectedRow())].index, index - 1);
    EXPECT_EQ(waitForMail(QStringLiteral("other"), 1).size(), 1);

    // Forwarding proposes the forwarding account and leaves the message on the server.
    prompter.answerInput(std::nullopt);
    w.selectRow(0);
    w.forwardSelected();
    ASSERT_FALSE(prompter.messages().empty());
    EXPECT_EQ(prompter.messages().back().caption, QStringLiteral("Reenvío de mensaje"));
    prompter.answerInput(QStringLiteral("other@example.test"));
    w.forwardSelected();
    EXPECT_EQ(w.findChild<QStatusBar*>(QStringLiteral("StatusBar1"))->currentMessage(),
              QStringLiteral("Mensaje re-enviado"));
    EXPECT_EQ(waitForMail(QStringLiteral("other"), 2).size(), 2);
    w.checkMail();
    EXPECT_EQ(w.inbox().rows().size(), 3u);

    // A lost server while showing a message: said, and the list disconnected.
    dm->mail().desconectarPop3();
    dm->mail().account().pop3Port = test::deadPort();
    prompter.clear();
    w.selectRow(0);
    w.showSelected();
    EXPECT_EQ(prompter.lastText(),
              QStringLiteral("Se perdió la conexión con el servidor. \rConsultar nuevamente la bandeja de entrada"));
    EXPECT_TRUE(w.inbox().rows().empty());
    EXPECT_EQ(w.findChild<QTableWidget*>(QStringLiteral("MailHeaders"))->rowCount(), 0);
    EXPECT_EQ(w.findChild<QStatusBar*>(QStringLiteral("StatusBar1"))->currentMessage(),
              QStringLiteral("Error al obtener el mail"));
}

TEST_F(MailWindowsTest, ConfigurationFallsBackOnPortsAndHidesThePagesForOutlook) {
    TFConfigMail w(*dm, prompter);
    w.load();
    w.show();
    auto edit = [&w](const char* name) { return w.findChild<QLineEdit*>(QString::fromLatin1(name)); };
    EXPECT_EQ(edit("POPServer")->text(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(edit("POPPort")->text(), kPop3Port);
    EXPECT_FALSE(w.findChild<QCheckBox*>(QStringLiteral("cbWebService"))->isChecked());
    edit("POPPort")->setText(QStringLiteral("abc"));
    edit("SMTPPort")->setText(QStringLiteral("x25"));
    edit("edEmailForward")->setText(QStringLiteral("reenvio@example.test"));
    w.findChild<QCheckBox*>(QStringLiteral("cbWaitFinish"))->setChecked(false);
    ASSERT_TRUE(w.save());
    EXPECT_EQ(dm->settings().read(QStringLiteral("pop3Port")), QStringLiteral("110"));
    EXPECT_EQ(dm->settings().read(QStringLiteral("smtpPort")), QStringLiteral("25"));
    EXPECT_EQ(dm->settings().read(QStringLiteral("emailFwd")), QStringLiteral("reenvio@example.test"));
    EXPECT_EQ(dm->settings().read(QStringLiteral("waitFin")), QStringLiteral("N"));
    EXPECT_EQ(dm->settings().read(QStringLiteral("envWebService")), QStringLiteral("N"));
    EXPECT_EQ(dm->mail().account().pop3Port, 110);
    EXPECT_FALSE(dm->sender().waitFin());

    // With Outlook the account pages disappear and nothing of them is written.
    auto* pages = w.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    EXPECT_FALSE(pages->isHidden());
    w.findChild<QCheckBox*>(QStringLiteral("chkbOutlook"))->setChecked(true);
    EXPECT_TRUE(pages->isHidden());
    edit("POPServer")->setText(QStringLiteral("otro.servidor"));
    w.findChild<QCheckBox*>(QStringLiteral("cbWebService"))->setChecked(true);
    ASSERT_TRUE(w.save());
    EXPECT_EQ(dm->settings().read(QStringLiteral("usaOutlook")), QStringLiteral("S"));
    EXPECT_EQ(dm->settings().read(QStringLiteral("envWebService")), QStringLiteral("S"));
    EXPECT_EQ(dm->settings().read(QStringLiteral("pop3Name")), QStringLiteral("127.0.0.1"));
    EXPECT_TRUE(dm->sender().outlook());
    EXPECT_TRUE(dm->sender().webService());
    w.findChild<QCheckBox*>(QStringLiteral("chkbOutlook"))->setChecked(false);
    EXPECT_FALSE(pages->isHidden());
}

TEST_F(MailWindowsTest, CheckWritesItsLinesOnAGoodAndADeadServer) {
    TFMailCheck w(dm->mail());
    EXPECT_TRUE(w.run());
    EXPECT_EQ(w.text(),
              QStringLiteral("Chequeando POP3..\nVerificación exitosa\nChequeando SMTP..\nVerificación exitosa"));
    const QStringList arrived = waitForMail(QStringLiteral("user"), 1);
    ASSERT_EQ(arrived.size(), 1);
    const QString parsed =
        python({QStringLiteral(QEV_SOURCE_DIR "/tests/exchange/data/mime_parts.py"), arrived.value(0)});
    EXPECT_TRUE(parsed.contains(QStringLiteral("subject\tMensaje de Prueba sin uso del Outlook")))
        << parsed.toStdString();

    dm->mail().account().pop3Port = test::deadPort();
    EXPECT_FALSE(w.run());
    const QStringList lines = w.text().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 3) << w.text().toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("Chequeando POP3.."));
    EXPECT_EQ(lines[1], QStringLiteral("Error al conectarse al POP3. Verifique configuración del POP3 y del correo"));
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("Error ConnectPOP3: "))) << lines[2].toStdString();
}

TEST_F(MailWindowsTest, NewMessageWithAnAttachmentArrives) {
    const QString file = dir.appDir().file(QStringLiteral("nota.txt"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("adjunto de prueba\r\n");
    f.close();
    TFNewMail w(dm->mail(), prompter);
    w.clear();
    w.askFile = [file] { return file; };
    w.findChild<QLineEdit*>(QStringLiteral("edtTo"))->setText(QStringLiteral("other@example.test"));
    w.findChild<QLineEdit*>(QStringLiteral("edtSubject"))->setText(QStringLiteral("Consulta de la regional"));
    w.findChild<QPlainTextEdit*>(QStringLiteral("MemoMsg"))->setPlainText(QStringLiteral("Buenos días"));
    w.findChild<QPushButton*>(QStringLiteral("btAdjuntar"))->click();
    EXPECT_EQ(w.findChild<QPlainTextEdit*>(QStringLiteral("MAdjuntos"))->toPlainText(), file);
    ASSERT_TRUE(w.send()) << prompter.lastText().toStdString();
    EXPECT_EQ(prompter.lastText(), QStringLiteral("Mensaje enviado"));
    const QStringList arrived = waitForMail(QStringLiteral("other"), 1);
    ASSERT_EQ(arrived.size(), 1);
    const QString parsed =
        python({QStringLiteral(QEV_SOURCE_DIR "/tests/exchange/data/mime_parts.py"), arrived.value(0)});
    EXPECT_TRUE(parsed.contains(QStringLiteral("subject\tConsulta de la regional"))) << parsed.toStdString();
    EXPECT_TRUE(parsed.contains(QStringLiteral("attachment\tnota.txt\t"))) << parsed.toStdString();

    w.findChild<QLineEdit*>(QStringLiteral("edtTo"))->setText(QStringLiteral("no es una dirección"));
    EXPECT_FALSE(w.send());
    EXPECT_TRUE(prompter.lastText().startsWith(QStringLiteral("Error al enviar mensaje: Error SendMail: ")))
        << prompter.lastText().toStdString();
}

} // namespace
} // namespace qev
