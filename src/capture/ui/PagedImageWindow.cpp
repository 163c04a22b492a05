#include "capture/ui/PagedImageWindow.h"

#include "capture/ui/ImageView.h"
#include "util/Prompter.h"

#include <QActionGroup>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSpinBox>
#include <QToolButton>

#include <cmath>

namespace qev {

PagedImageWindow::PagedImageWindow(Prompter& prompter, QWidget* parent)
    : QDialog(parent, Qt::Window), m_prompter(prompter), m_view(new ImageView(this)) {
    m_view->setObjectName(QStringLiteral("ImgEdit"));
    m_pag = new QLineEdit(QStringLiteral("0"), this);
    m_pag->setObjectName(QStringLiteral("edPag"));
    m_pag->setToolTip(QStringLiteral("Página"));
    m_pag->setFixedWidth(50);
    m_btPag = new QToolButton(this);
    m_btPag->setObjectName(QStringLiteral("btPag"));
    m_btPag->setText(QStringLiteral("Ir"));
    m_btPag->setToolTip(QStringLiteral("Página"));
    m_zoom = new QSpinBox(this);
    m_zoom->setObjectName(QStringLiteral("edZoom"));
    m_zoom->setToolTip(QStringLiteral("Factor de Zoom"));
    m_zoom->setRange(2, 200);
    m_zoom->setSingleStep(5);
    m_zoom->setValue(100);
    m_verAncho = new QToolButton(this);
    m_verAncho->setObjectName(QStringLiteral("sbVerAncho"));
    m_verAncho->setText(QStringLiteral("Ajustar al Ancho"));
    m_verAncho->setToolTip(m_verAncho->text());
    m_verAlto = new QToolButton(this);
    m_verAlto->setObjectName(QStringLiteral("sbVerAlto"));
    m_verAlto->setText(QStringLiteral("Ajustar al Alto"));
    m_verAlto->setToolTip(m_verAlto->text());

    auto* group = new QActionGroup(this);
    m_fitWindow = new QAction(QStringLiteral("Ajustar a la ventana"), this);
    m_fitWidth = new QAction(QStringLiteral("Ajustar al ancho"), this);
    m_fitHeight = new QAction(QStringLiteral("Ajustar al alto"), this);
    m_freeSize = new QAction(QStringLiteral("Tamaño libre"), this);
    for (QAction* a : {m_fitWindow, m_fitWidth, m_fitHeight, m_freeSize}) {
        a->setCheckable(true);
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this] { applyViewMode(); });
    }
    m_fitWidth->setChecked(true);

    connect(m_verAncho, &QToolButton::clicked, this, [this] {
        m_fitWidth->setChecked(true);
        applyViewMode();
    });
    connect(m_verAlto, &QToolButton::clicked, this, [this] {
        m_fitHeight->setChecked(true);
        applyViewMode();
    });
    connect(m_zoom, &QSpinBox::valueChanged, this, [this](int v) {
        if (v >= 2 && v <= 200 && m_view->imageWidth() > 0) m_view->setScalePercent(v);
    });
    const auto goToPage = [this] {
        if (m_file.isEmpty()) return;
        const int page = pageRequested(m_pag->text());
        showPage(m_file, page, m_pageCount);
    };
    connect(m_pag, &QLineEdit::returnPressed, this, goToPage);
    connect(m_btPag, &QToolButton::clicked, this, goToPage);
    for (QWidget* w : std::initializer_list<QWidget*>{m_zoom, m_pag, m_view})
        w->installEventFilter(this);
}

void PagedImageWindow::addPageControls(QHBoxLayout* toolbar) {
    toolbar->addWidget(new QLabel(QStringLiteral("Página"), this));
    toolbar->addWidget(m_pag);
    toolbar->addWidget(m_btPag);
    toolbar->addWidget(new QLabel(QStringLiteral("Zoom"), this));
    toolbar->addWidget(m_zoom);
    toolbar->addWidget(m_verAncho);
    toolbar->addWidget(m_verAlto);
}

void PagedImageWindow::addViewMenu(QMenu* menu) {
    for (QAction* a : {m_fitWindow, m_fitWidth, m_fitHeight, m_freeSize})
        menu->addAction(a);
}

void PagedImageWindow::applyViewMode() {
    BusyScope busy(m_prompter);
    double scale = m_view->scalePercent();
    if (m_fitWindow->isChecked()) scale = m_view->fit(ImageView::Fit::Page);
    if (m_fitWidth->isChecked()) scale = m_view->fit(ImageView::Fit::Width);
    if (m_fitHeight->isChecked()) scale = m_view->fit(ImageView::Fit::Height);
    if (m_freeSize->isChecked()) {
        scale = m_zoom->value();
        m_view->setScalePercent(scale);
    }
    const QSignalBlocker block(m_zoom);
    m_zoom->setValue(static_cast<int>(std::lround(scale)));
}

void PagedImageWindow::showPage(const QString& file, int page, int pageCount) {
    m_file = file;
    m_pageCount = pageCount;
    if (file.isEmpty()) {
        m_view->clearImage();
        m_pag->setText(QStringLiteral("0"));
        return;
    }
    QString error;
    if (!m_view->loadFile(file, page, &error)) {
        m_prompter.error(QStringLiteral("No se pudo mostrar la página %1: %2").arg(page).arg(error));
        return;
    }
    m_pag->setText(QString::number(page));
    applyViewMode();
}

bool PagedImageWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space &&
        (watched == m_zoom || watched == m_pag || watched == m_view)) {
        spacePressed();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void PagedImageWindow::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Space) {
        e->accept();
        spacePressed();
        return;
    }
    QDialog::keyPressEvent(e);
}

} // namespace qev
