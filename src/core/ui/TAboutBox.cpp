#include "core/ui/TAboutBox.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>

namespace qev {

QPixmap programEmblem(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(30, 60, 120));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0, 0, size, size), size / 8.0, size / 8.0);
    p.setPen(QPen(Qt::white, size / 24.0));
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 4; ++i) {
        const double r = size * 0.09 * i;
        p.drawArc(QRectF(size / 2.0 - r, size / 2.0 - r * 1.2, 2 * r, 2.4 * r), 20 * 16, 300 * 16);
    }
    return pm;
}

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TAboutBox"));
    setWindowTitle(QStringLiteral("Acerca de QEV Regional"));
    auto* icon = new QLabel(this);
    icon->setPixmap(programEmblem(64));
    auto* product = new QLabel(QStringLiteral("QEV Regional"), this);
    product->setObjectName(QStringLiteral("ProductName"));
    QFont f = product->font();
    f.setBold(true);
    f.setPointSize(14);
    product->setFont(f);
    m_version = new QLabel(this);
    m_version->setObjectName(QStringLiteral("Version"));
    auto* maker = new QLabel(QStringLiteral("Registro Nacional de Antecedentes - Oficinas Regionales"), this);
    maker->setObjectName(QStringLiteral("Copyright"));
    auto* close = new QPushButton(QStringLiteral("&Cerrar"), this);
    close->setObjectName(QStringLiteral("OKButton"));
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto* v = new QVBoxLayout(this);
    auto* h = new QHBoxLayout;
    h->addWidget(icon);
    auto* texts = new QVBoxLayout;
    texts->addWidget(product);
    texts->addWidget(m_version);
    texts->addWidget(maker);
    h->addLayout(texts);
    v->addLayout(h);
    v->addWidget(close, 0, Qt::AlignRight);
}

void TAboutBox::setVersion(const QString& version) {
    m_version->setText(QStringLiteral("Versión ") + version);
}

TFSplash::TFSplash(QWidget* parent) : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("TFSplash"));
    auto* picture = new QLabel(this);
    picture->setPixmap(programEmblem(240));
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->addWidget(picture);
    adjustSize();
    if (const QScreen* s = QApplication::primaryScreen()) move(s->availableGeometry().center() - rect().center());
}

TInfoWnd::TInfoWnd(QWidget* parent) : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("TInfoWnd"));
    m_text = new QPlainTextEdit(this);
    m_text->setReadOnly(true);
    auto* v = new QVBoxLayout(this);
    v->addWidget(m_text);
    resize(420, 220);
    if (const QScreen* s = QApplication::primaryScreen()) move(s->availableGeometry().center() - rect().center());
}

void TInfoWnd::openWith(const QString& title) {
    show();
    m_text->clear();
    m_text->appendPlainText(title);
    QApplication::processEvents();
}

void TInfoWnd::addStep(const QString& text) {
    m_text->appendPlainText(QStringLiteral("   ") + text + QStringLiteral("..."));
    QApplication::processEvents();
}

void TInfoWnd::markDone() {
    QTextCursor c(m_text->document()->lastBlock());
    c.movePosition(QTextCursor::EndOfBlock);
    c.insertText(QStringLiteral("Ok."));
    QApplication::processEvents();
}

} // namespace qev
