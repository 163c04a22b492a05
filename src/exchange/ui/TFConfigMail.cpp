#include "exchange/ui/TFConfigMail.h"

#include "dm/Tdm.h"
#include "exchange/MailDesk.h"
#include "exchange/TSMime.h"
#include "exchange/mail/TdmMail.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace qev {

namespace {

QLineEdit* field(QWidget* page, QFormLayout* form, const char* name, const char* caption) {
    auto* edit = new QLineEdit(page);
    edit->setObjectName(QString::fromLatin1(name));
    auto* label = new QLabel(QString::fromUtf8(caption), page);
    label->setBuddy(edit);
    form->addRow(label, edit);
    return edit;
}

} // namespace

TFConfigMail::TFConfigMail(Tdm& dm, Prompter& prompter, QWidget* parent)
    : QDialog(parent), m_dm(dm), m_prompter(prompter) {
    setObjectName(QStringLiteral("TFConfigMail"));
    setWindowTitle(QStringLiteral("Configuración de envío"));
    auto* v = new QVBoxLayout(this);
    auto check = [this, v](const char* name, const char* caption) {
        auto* c = new QCheckBox(QString::fromUtf8(caption), this);
        c->setObjectName(QString::fromLatin1(name));
        v->addWidget(c);
        return c;
    };
    m_outlook = check("chkbOutlook", "Usar Microsoft Outlook");
    m_webService = check("cbWebService", "Enviar por Web Service");
    m_waitFinish = check("cbWaitFinish", "Esperar hasta que finalice");
    auto* notice = new QLabel(
        QStringLiteral("Aviso: Si configura el Outlook como cliente de correo debe reinicar la aplicación."), this);
    notice->setObjectName(QStringLiteral("lblAviso"));
    notice->setWordWrap(true);
    v->addWidget(notice);

    m_pages = new QTabWidget(this);
    m_pages->setObjectName(QStringLiteral("PageControl1"));
    auto* pop = new QWidget(m_pages);
    pop->setObjectName(QStringLiteral("tsPOP3"));
    auto* popForm = new QFormLayout(pop);
    m_popServer = field(pop, popForm, "POPServer", "&Servidor de correo entrante (POP):");
    m_popPort = field(pop, popForm, "POPPort", "&Puerto:");
    m_account = field(pop, popForm, "Account", "&Cuenta:");
    m_password = field(pop, popForm, "Password", "&Clave:");
    m_password->setEchoMode(QLineEdit::Password);
    m_email = field(pop, popForm, "Email", "&Correo electrónico:");
    m_pages->addTab(pop, QStringLiteral("Configuración POP3"));

    auto* smtp = new QWidget(m_pages);
    smtp->setObjectName(QStringLiteral("tsSMTP"));
    auto* smtpForm = new QFormLayout(smtp);
    m_smtpServer = field(smtp, smtpForm, "SMTPServer", "&Servidor de correo saliente (SMTP):");
    m_smtpPort = field(smtp, smtpForm, "SMTPPort", "Pu&erto");
    // Authentication is chosen for the running program only; the controls stay hidden.
    m_authType = new QComboBox(smtp);
    m_authType->setObjectName(QStringLiteral("cboAuthType"));
    m_authType->addItems({QStringLiteral("None"), QStringLiteral("Simple Login")});
    m_authType->setVisible(false);
    m_smtpAccount = new QLineEdit(smtp);
    m_smtpAccount->setObjectName(QStringLiteral("edtAccount"));
    m_smtpAccount->setVisible(false);
    m_smtpPassword = new QLineEdit(smtp);
    m_smtpPassword->setObjectName(QStringLiteral("edtPassword"));
    m_smtpPassword->setEchoMode(QLineEdit::Password);
    m_smtpPassword->setVisible(false);
    m_pages->addTab(smtp, QStringLiteral("Configuración SMTP"));

    auto* other = new QWidget(m_pages);
    other->setObjectName(QStringLiteral("tsOtros"));
    auto* otherLayout = new QVBoxLayout(other);
    auto* fwdLabel = new QLabel(QStringLiteral("Email donde re-enviar mensajes no procesados por la QEV:"), other);
    m_emailForward = new QLineEdit(other);
    m_emailForward->setObjectName(QStringLiteral("edEmailForward"));
    fwdLabel->setBuddy(m_emailForward);
    otherLayout->addWidget(fwdLabel);
    otherLayout->addWidget(m_emailForward);
    otherLayout->addStretch(1);
    m_pages->addTab(other, QStringLiteral("Otros"));
    v->addWidget(m_pages, 1);

    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(QStringLiteral("&Aceptar"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("btAceptar"));
    auto* cancel = buttons->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btCancelar"));
    connect(ok, &QPushButton::clicked, this, [this] {
        if (save()) accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    v->addWidget(buttons);
    connect(m_outlook, &QCheckBox::toggled, this, [this](bool on) { showPages(!on); });
    resize(480, 400);
}

void TFConfigMail::showPages(bool visible) {
    m_pages->setVisible(visible);
}

void TFConfigMail::load() {
    const MailConfigForm f = loadMailConfig(m_dm.mail(), m_dm.sender());
    m_outlook->setChecked(f.outlook);
    m_webService->setChecked(f.webService);
    m_waitFinish->setChecked(f.waitFinish);
    m_popServer->setText(f.popServer);
    m_popPort->setText(f.popPort);
    m_account->setText(f.account);
    m_password->setText(f.password);
    m_email->setText(f.email);
    m_smtpServer->setText(f.smtpServer);
    m_smtpPort->setText(f.smtpPort);
    m_authType->setCurrentIndex(f.smtpLogin ? 1 : 0);
    m_smtpAccount->setText(f.smtpAccount);
    m_smtpPassword->setText(f.smtpPassword);
    m_emailForward->setText(f.emailForward);
    showPages(!f.outlook);
}

int TFConfigMail::openWindow() {
    load();
    m_pages->setCurrentIndex(0);
    return exec();
}

bool TFConfigMail::save() {
    MailConfigForm f;
    f.outlook = m_outlook->isChecked();
    f.webService = m_webService->isChecked();
    f.waitFinish = m_waitFinish->isChecked();
    f.popServer = m_popServer->text();
    f.popPort = m_popPort->text();
    f.account = m_account->text();
    f.password = m_password->text();
    f.email = m_email->text();
    f.smtpServer = m_smtpServer->text();
    f.smtpPort = m_smtpPort->text();
    f.smtpLogin = m_authType->currentIndex() == 1;
    f.smtpAccount = m_smtpAccount->text();
    f.smtpPassword = m_smtpPassword->text();
    f.emailForward = m_emailForward->text();
    const bool ok = saveMailConfig(f, m_dm.mail(), m_dm.sender(), m_dm.settings(), m_prompter);
    // The data module's flags follow what was written.
    m_dm.deriveFlags();
    return ok;
}

} // namespace qev
