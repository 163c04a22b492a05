#include "core/ui/TFreporte.h"

#include "core/Settings.h"
#include "util/AppDir.h"
#include "util/Prompter.h"

#include <QFile>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

namespace qev {

TFreporte::TFreporte(QString folder, Prompter& prompter, QWidget* parent)
    : QDialog(parent), m_folder(std::move(folder)), m_prompter(prompter) {
    setObjectName(QStringLiteral("TFreporte"));
    setWindowTitle(QStringLiteral("Reporte de Actividad "));
    resize(640, 420);
    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("mrep"));
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* close = new QPushButton(QStringLiteral("&Cerrar"), this);
    close->setObjectName(QStringLiteral("BitBtn1"));
    auto* clear = new QPushButton(QStringLiteral("Limpiar"), this);
    clear->setObjectName(QStringLiteral("BitBtn2"));
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(clear, &QPushButton::clicked, this, &TFreporte::limpiar);
    auto* v = new QVBoxLayout(this);
    v->addWidget(m_text, 1);
    auto* h = new QHBoxLayout;
    h->addStretch();
    h->addWidget(clear);
    h->addWidget(close);
    v->addLayout(h);

    QFile f(AppDir(m_folder).existingFile(QStringLiteral("logp.txt")));
    if (f.open(QIODevice::ReadOnly)) {
        QString t = fromAnsiBytes(f.readAll());
        t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        if (t.endsWith(QLatin1Char('\n'))) t.chop(1);
        m_text->setPlainText(t);
    }
}

void TFreporte::addLine(const QString& line) {
    m_text->appendPlainText(line);
}

void TFreporte::limpiar() {
    if (m_prompter.confirm(QStringLiteral("Todos los Datos serán Borrados. Desea Continuar?"),
                           QStringLiteral("Advertencia")))
        m_text->clear();
}

void TFreporte::done(int r) {
    save();
    QDialog::done(r);
}

void TFreporte::save() {
    QString t = m_text->toPlainText();
    if (!t.isEmpty()) t += QLatin1Char('\n');
    t.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    QSaveFile f(AppDir(m_folder).existingFile(QStringLiteral("logp.txt")));
    if (f.open(QIODevice::WriteOnly)) {
        f.write(ansiBytes(t));
        if (!f.commit())
            m_prompter.error(QStringLiteral("No se pudo guardar logp.txt: ") + f.errorString(),
                             QStringLiteral("Error"));
    }
}

} // namespace qev
