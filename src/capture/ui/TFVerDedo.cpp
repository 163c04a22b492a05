#include "capture/ui/TFVerDedo.h"

#include <QKeyEvent>
#include <QVBoxLayout>

namespace qev {

TFVerDedo::TFVerDedo(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_img(new ImageView(this)) {
    setObjectName(QStringLiteral("TFVerDedo"));
    setWindowTitle(QStringLiteral("FVerDedo"));
    m_img->setObjectName(QStringLiteral("imgHuella"));
    m_img->setBackgroundRole(QPalette::Base);
    m_img->setFrameShape(QFrame::NoFrame);
    QPalette pal = m_img->palette();
    pal.setColor(QPalette::Base, Qt::white);
    m_img->setPalette(pal);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_img);
}

void TFVerDedo::showEvent(QShowEvent* e) {
    m_img->setScalePercent(100);
    if (m_img->imageWidth() > 0) setFixedSize(m_img->imageWidth() + 10, m_img->imageHeight() + 10);
    QDialog::showEvent(e);
}

void TFVerDedo::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        e->accept(); // closed on release
        return;
    }
    QDialog::keyPressEvent(e);
}

void TFVerDedo::keyReleaseEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape) {
        accept();
        return;
    }
    QDialog::keyReleaseEvent(e);
}

} // namespace qev
