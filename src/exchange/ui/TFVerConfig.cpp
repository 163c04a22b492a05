#include "exchange/ui/TFVerConfig.h"

#include "exchange/SendLog.h"
#include "exchange/TSMime.h"
#include "util/Prompter.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace qev {

TFVerConfig::TFVerConfig(SendLog& log, std::function<TSMime&()> sender, Prompter& prompter, QWidget* parent)
    : QDialog(parent), m_sender(std::move(sender)), m_prompter(prompter) {
    setObjectName(QStringLiteral("TFVerConfig"));
    setWindowTitle(QStringLiteral("Log / configuración de envío"));
    resize(600, 300);
    auto* verif = new QPushButton(QStringLiteral("&Verificar configuración"), this);
    verif->setObjectName(QStringLiteral("btVerif"));
    auto* show = new QPushButton(QStringLiteral("&Mostrar configuración"), this);
    show->setObjectName(QStringLiteral("btShowParams"));
    m_memRes = new QPlainTextEdit(this);
    m_memRes->setObjectName(QStringLiteral("memRes"));
    m_memRes->setReadOnly(true);
    m_memRes->installEventFilter(this);
    auto* bar = new QHBoxLayout;
    bar->addWidget(verif);
    bar->addWidget(show);
    bar->addStretch(1);
    auto* v = new QVBoxLayout(this);
    v->addLayout(bar);
    v->addWidget(m_memRes, 1);
    connect(verif, &QPushButton::clicked, this, &TFVerConfig::btVerifClick);
    connect(show, &QPushButton::clicked, this, &TFVerConfig::btShowParamsClick);
    // The text starts empty at creation and keeps every line of the run.
    m_memRes->clear();
    for (const QString& line : log.lines())
        append(line);
    connect(&log, &SendLog::lineAdded, this, &TFVerConfig::append);
}

void TFVerConfig::append(const QString& line) {
    m_memRes->appendPlainText(line);
}

void TFVerConfig::btVerifClick() {
    QString line;
    QString error;
    // A successful check reaches the text through the sending log.
    if (!m_sender().VerificarConfiguracion(line, error)) m_prompter.error(error, QStringLiteral("Error"));
}

void TFVerConfig::btShowParamsClick() {
    const BusyScope busy(m_prompter);
    for (const QString& line : m_sender().MostrarConfiguracion())
        append(line);
}

bool TFVerConfig::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_memRes && event->type() == QEvent::KeyRelease &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        close();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace qev
