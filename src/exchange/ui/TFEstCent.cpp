#include "exchange/ui/TFEstCent.h"

#include "exchange/CentralState.h"
#include "util/AppDir.h"

#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QStatusBar>
#include <QVBoxLayout>

namespace qev {

TFEstCent::TFEstCent(CentralState& state, QString folder, QWidget* parent)
    : QDialog(parent), m_state(state), m_folder(std::move(folder)) {
    setObjectName(QStringLiteral("TFEstCent"));
    setWindowTitle(QStringLiteral("Estado de los pedidos en QEV Central"));
    resize(619, 373);
    auto* v = new QVBoxLayout(this);
    m_memEst = new QPlainTextEdit(this);
    m_memEst->setObjectName(QStringLiteral("memEst"));
    m_memEst->setReadOnly(true);
    m_memEst->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont mono(QStringLiteral("Courier New"));
    mono.setStyleHint(QFont::Monospace);
    m_memEst->setFont(mono);
    m_memEst->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    v->addWidget(m_memEst, 1);
    auto* buttons = new QHBoxLayout;
    auto button = [this, buttons](const char* name, const char* caption, auto action) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, action);
        buttons->addWidget(b);
        return b;
    };
    button("btEstWeb", "Estado vía &Web", [this] { m_state.ConsultarEstadoWeb(); });
    button("btEstMail", "Estado vía &Mail", [this] { m_state.PedirEstadoMail(); });
    button("btCertWeb", "C&ertificados vía Web", [this] { m_state.ConsultarResultadosWeb(); });
    buttons->addStretch(1);
    button("BitBtn1", "&Cerrar", [this] { accept(); });
    v->addLayout(buttons);
    m_stEstado = new QStatusBar(this);
    m_stEstado->setObjectName(QStringLiteral("stEstado"));
    m_stEstado->setSizeGripEnabled(false);
    m_stEstado->showMessage(QStringLiteral("Listo"));
    v->addWidget(m_stEstado);

    QFile log(AppDir(m_folder).existingFile(QStringLiteral("EstCent.log")));
    if (log.open(QIODevice::ReadOnly)) m_memEst->setPlainText(QString::fromUtf8(log.readAll()));
}

void TFEstCent::clearText() {
    m_memEst->clear();
}

void TFEstCent::appendLine(const QString& line) {
    m_memEst->appendPlainText(line);
}

void TFEstCent::setStatus(const QString& text) {
    m_stEstado->showMessage(text);
    m_stEstado->repaint();
}

QString TFEstCent::text() const {
    return m_memEst->toPlainText();
}

void TFEstCent::save() {
    QSaveFile f(AppDir(m_folder).existingFile(QStringLiteral("EstCent.log")));
    if (f.open(QIODevice::WriteOnly)) {
        f.write(m_memEst->toPlainText().toUtf8());
        (void)f.commit();
    }
}

void TFEstCent::done(int r) {
    save();
    QDialog::done(r);
}

} // namespace qev
