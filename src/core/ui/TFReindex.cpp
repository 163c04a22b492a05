#include "core/ui/TFReindex.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>

namespace qev {

MaintenanceProgress::MaintenanceProgress(const QString& objectName, const QString& title, const QString& label,
                                         QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint) {
    setObjectName(objectName);
    setWindowTitle(title);
    auto* v = new QVBoxLayout(this);
    if (!label.isEmpty()) v->addWidget(new QLabel(label, this));
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(objectName == QStringLiteral("TFPurgReg") ? QStringLiteral("Prog")
                                                                   : QStringLiteral("ProgressBar"));
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_bar->setMinimumWidth(320);
    v->addWidget(m_bar);
    show();
    QApplication::processEvents();
}

void MaintenanceProgress::setProgress(int percent) {
    m_bar->setValue(percent);
    QApplication::processEvents();
}

} // namespace qev
