#include "capture/ui/TFCalidad.h"

#include "capture/quality/QualityTexts.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>

namespace qev {

namespace {
QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}
} // namespace

TFCalidad::TFCalidad(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), m_mem(new QPlainTextEdit(this)),
      m_prog(new QProgressBar(this)), m_estado(new QStatusBar(this)) {
    setObjectName(QStringLiteral("TFCalidad"));
    m_mem->setObjectName(QStringLiteral("mem"));
    m_mem->setReadOnly(true);
    m_mem->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_prog->setObjectName(QStringLiteral("Prog"));
    m_prog->setRange(0, 10);
    m_estado->setObjectName(QStringLiteral("stEstado"));
    m_estado->setSizeGripEnabled(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 0);
    layout->addWidget(m_mem, 1);
    layout->addWidget(m_prog);
    layout->addWidget(m_estado);
    resize(420, 320);
}

int TFCalidad::report(const QString& title, const std::array<std::pair<int, int>, 10>& grades, int average) {
    setWindowTitle(title);
    m_prog->setValue(0);
    m_estado->clearMessage();
    QStringList lines{title, QString()};
    m_mem->setPlainText(lines.join(QLatin1Char('\n')));
    if (const QScreen* s = QApplication::primaryScreen()) move(s->availableGeometry().center() - rect().center());
    show();
    raise();
    for (int finger = 1; finger <= 10; ++finger) {
        const auto& [code, quality] = grades[static_cast<size_t>(finger - 1)];
        lines << text(quality::fingerName(finger)) + QStringLiteral(" = ") + text(quality::qualityText(code, quality));
        m_prog->setValue(finger);
    }
    lines[1] = QStringLiteral("Promedio = ") + QString::number(average) + QStringLiteral(" (") +
               text(quality::qualityWord(average)) + QStringLiteral(")");
    m_mem->setPlainText(lines.join(QLatin1Char('\n')));
    m_estado->showMessage(QStringLiteral("Listo!"));
    return average;
}

} // namespace qev
