#include "core/ui/TFListado.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QVBoxLayout>

namespace qev {

namespace {
void centre(QWidget* w) {
    if (const QScreen* s = QApplication::primaryScreen()) w->move(s->availableGeometry().center() - w->rect().center());
}
} // namespace

TFListado::TFListado(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("TFListado"));
    resize(560, 420);
    m_mem = new QPlainTextEdit(this);
    m_mem->setObjectName(QStringLiteral("mem"));
    m_mem->setReadOnly(true);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("ProgressBar1"));
    m_bar->setRange(0, 100);
    m_print = new QPushButton(QStringLiteral("&Imprimir"), this);
    m_print->setObjectName(QStringLiteral("btImprimir"));
    m_print->setEnabled(false);
    m_print->setToolTip(QStringLiteral("La impresión no está disponible todavía"));
    connect(m_print, &QPushButton::clicked, this, [this] {
        if (m_printHandler) m_printHandler(windowTitle(), m_mem->toPlainText());
    });
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_bar, 1);
    bottom->addWidget(m_print);
    auto* v = new QVBoxLayout(this);
    v->addWidget(m_mem, 1);
    v->addLayout(bottom);
    centre(this);
}

void TFListado::setPrintHandler(std::function<void(const QString&, const QString&)> print) {
    m_printHandler = std::move(print);
    m_print->setEnabled(static_cast<bool>(m_printHandler));
    m_print->setToolTip(m_printHandler ? QStringLiteral("Imprime la lista")
                                       : QStringLiteral("La impresión no está disponible todavía"));
}

void TFListado::begin(const QString& title, int minimum, int maximum) {
    setWindowTitle(title);
    m_mem->clear();
    m_bar->setRange(minimum, std::max(minimum, maximum));
    m_bar->setValue(minimum);
    show();
}

void TFListado::addLine(const QString& line) {
    m_mem->appendPlainText(line);
}

void TFListado::step() {
    m_bar->setValue(std::min(m_bar->maximum(), m_bar->value() + 1));
    QApplication::processEvents();
}

TFRecEst::TFRecEst(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("TFRecEst"));
    setWindowTitle(QStringLiteral("Recibiendo Correo..."));
    m_prog = new QProgressBar(this);
    m_prog->setObjectName(QStringLiteral("Prog"));
    m_prog->setRange(0, 100);
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(6, 6, 6, 6);
    v->addWidget(m_prog);
    setFixedSize(170, 35);
    centre(this);
}

void TFRecEst::start(const QString& title) {
    setWindowTitle(title);
    m_prog->setValue(0);
    show();
    QApplication::processEvents();
}

void TFRecEst::setPercent(int percent) {
    m_prog->setValue(std::clamp(percent, 0, 100));
    QApplication::processEvents();
}

namespace {
QString caption(TransferProgress::Direction d) {
    return d == TransferProgress::Direction::Sending ? QStringLiteral("Enviando Mensaje..")
                                                     : QStringLiteral("Recibiendo Mensaje...");
}
} // namespace

void TFRecEst::transferBegins(Direction d, qint64 size) {
    if (size <= 0) return;
    start(caption(d));
}

void TFRecEst::transferProgress(Direction d, qint64 done, qint64 size) {
    if (size <= 0) return;
    if (!isVisible()) start(caption(d));
    setPercent(static_cast<int>(std::min<qint64>(done, size) * 100 / size));
}

void TFRecEst::transferEnds() {
    if (isVisible()) hide();
}

} // namespace qev
