#include "requests/ui/TFSelInternet.h"

#include "core/Dataset.h"
#include "dm/Tdm.h"
#include "requests/InternetRetrieval.h"
#include "util/Prompter.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

namespace qev {

namespace {
const char* const kWindowMissing = "La ventana de pedidos personales no está disponible todavía en esta versión";
} // namespace

TFSelInternet::TFSelInternet(Tdm& dm, Prompter& prompter, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_dm(dm), m_prompter(prompter) {
    setObjectName(QStringLiteral("TFSelInternet"));
    setWindowTitle(QStringLiteral("Recuperar Trámite de Internet"));
    setModal(true);
    setFixedSize(283, 154);

    m_boleta = new QLineEdit(this);
    m_boleta->setObjectName(QStringLiteral("edBoleta"));
    connect(m_boleta, &QLineEdit::textEdited, m_boleta, [this](const QString& t) {
        if (t == t.toUpper()) return;
        const int pos = m_boleta->cursorPosition();
        m_boleta->setText(t.toUpper());
        m_boleta->setCursorPosition(pos);
    });
    // Letters are accepted here on purpose: the retrieval refuses a document that is not a number with its reason.
    m_doc = new QLineEdit(this);
    m_doc->setObjectName(QStringLiteral("edDoc"));
    m_consultar = new QPushButton(QStringLiteral("&Consultar"), this);
    m_consultar->setObjectName(QStringLiteral("btCons"));
    m_consultar->setDefault(true);
    connect(m_consultar, &QPushButton::clicked, this, &TFSelInternet::consultar);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Boleta:"), m_boleta);
    form->addRow(QStringLiteral("Documento:"), m_doc);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_consultar);
    auto* v = new QVBoxLayout(this);
    v->addLayout(form);
    v->addStretch();
    v->addLayout(buttons);
    setTabOrder(m_boleta, m_doc);
    setTabOrder(m_doc, m_consultar);
}

void TFSelInternet::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (e->spontaneous()) return;
    m_boleta->clear();
    m_doc->clear();
    const QWidget* over = parentWidget() ? parentWidget()->window() : nullptr;
    const QScreen* screen = over ? over->screen() : QApplication::primaryScreen();
    if (screen) move(screen->availableGeometry().center() - rect().center());
}

void TFSelInternet::changeEvent(QEvent* e) {
    QDialog::changeEvent(e);
    if (e->type() == QEvent::ActivationChange && isActiveWindow()) m_boleta->setFocus(Qt::ActiveWindowFocusReason);
}

void TFSelInternet::consultar() {
    // The retrieval shows the hourglass around each call to the central office and every message itself; the
    // hourglass is not kept over its messages.
    const InternetRetrieval::Outcome outcome = m_dm.internetRetrieval().consultar(m_boleta->text(), m_doc->text());
    if (outcome == InternetRetrieval::Outcome::Refused) return;
    if (!showPersonalRequest) {
        if (outcome == InternetRetrieval::Outcome::Unsaved) {
            // Nowhere to complete it: the half-made request goes, and the window stays for another try.
            m_dm.pedp().cancel();
            m_prompter.inform(QString::fromUtf8(kWindowMissing) +
                              QStringLiteral("\rEl trámite recuperado no pudo guardarse y fue descartado"));
            return;
        }
        accept();
        m_prompter.inform(QString::fromUtf8(kWindowMissing));
        return;
    }
    accept();
    showPersonalRequest();
}

} // namespace qev
