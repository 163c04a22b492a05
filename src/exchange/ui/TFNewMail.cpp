#include "exchange/ui/TFNewMail.h"

#include "exchange/MailDesk.h"
#include "util/Prompter.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qev {

TFNewMail::TFNewMail(TdmMail& mail, Prompter& prompter, QWidget* parent)
    : QDialog(parent), m_mail(mail), m_prompter(prompter) {
    setObjectName(QStringLiteral("TFNewMail"));
    setWindowTitle(QStringLiteral("Nuevo mensaje"));
    auto* v = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    auto field = [this, form](const char* name, const char* caption) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        auto* l = new QLabel(QString::fromUtf8(caption), this);
        l->setBuddy(e);
        form->addRow(l, e);
        return e;
    };
    m_to = field("edtTo", "&A:");
    m_subject = field("edtSubject", "&Asunto:");
    m_cc = field("edtCC", "&CC:");
    m_bcc = field("edtBCC", "BCC:");
    v->addLayout(form);
    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("MemoMsg"));
    v->addWidget(m_text, 1);
    auto* attachRow = new QHBoxLayout;
    m_files = new QPlainTextEdit(this);
    m_files->setObjectName(QStringLiteral("MAdjuntos"));
    m_files->setReadOnly(true);
    m_files->setMaximumHeight(70);
    attachRow->addWidget(m_files, 1);
    auto* attach = new QPushButton(QStringLiteral("Adjuntar Archivo"), this);
    attach->setObjectName(QStringLiteral("btAdjuntar"));
    attach->setAutoDefault(false);
    attachRow->addWidget(attach, 0, Qt::AlignTop);
    v->addLayout(attachRow);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* sendButton = new QPushButton(QStringLiteral("&Enviar"), this);
    sendButton->setObjectName(QStringLiteral("btEnviar"));
    auto* cancel = new QPushButton(QStringLiteral("Cancelar"), this);
    cancel->setObjectName(QStringLiteral("btCancelar"));
    buttons->addWidget(sendButton);
    buttons->addWidget(cancel);
    v->addLayout(buttons);

    askFile = [this] { return QFileDialog::getOpenFileName(this, QStringLiteral("Adjuntar Archivo")); };
    connect(attach, &QPushButton::clicked, this, [this] {
        const QString path = askFile ? askFile() : QString();
        if (!path.isEmpty()) m_files->appendPlainText(path);
    });
    connect(sendButton, &QPushButton::clicked, this, [this] {
        if (send()) accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    resize(520, 440);
}

void TFNewMail::clear() {
    for (QLineEdit* e : {m_to, m_subject, m_cc, m_bcc})
        e->clear();
    m_text->clear();
    m_files->clear();
}

int TFNewMail::openWindow() {
    clear();
    return exec();
}

bool TFNewMail::send() {
    THeaderMsg header;
    header.recipients = m_to->text();
    header.subject = m_subject->text();
    header.cc = m_cc->text();
    header.bcc = m_bcc->text();
    QStringList files = m_files->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QString error;
    bool ok = false;
    {
        const BusyScope busy(m_prompter);
        ok = sendOperatorMessage(m_mail, header, m_text->toPlainText(), files, error);
    }
    if (ok)
        m_prompter.inform(QStringLiteral("Mensaje enviado"));
    else
        m_prompter.error(QStringLiteral("Error al enviar mensaje: ") + error);
    return ok;
}

} // namespace qev
