#include "exchange/ui/TFMailCheck.h"

#include "exchange/MailDesk.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qev {

TFMailCheck::TFMailCheck(TdmMail& mail, QWidget* parent) : QDialog(parent), m_mail(mail) {
    setObjectName(QStringLiteral("TFMailCheck"));
    setWindowTitle(QStringLiteral("Chequeo de correo electrónico"));
    auto* v = new QVBoxLayout(this);
    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("MChequeo"));
    m_text->setReadOnly(true);
    v->addWidget(m_text, 1);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    auto* close = new QPushButton(QStringLiteral("&Cerrar"), this);
    close->setObjectName(QStringLiteral("btCerrar"));
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    row->addWidget(close);
    v->addLayout(row);
    resize(460, 260);
}

bool TFMailCheck::run() {
    show();
    raise();
    m_text->clear();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ok = runMailCheck(m_mail, [this](const QString& line) {
        m_text->appendPlainText(line);
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    QApplication::restoreOverrideCursor();
    return ok;
}

QString TFMailCheck::text() const {
    return m_text->toPlainText();
}

} // namespace qev
