#pragma once
// The progress windows of the two maintenance operations: "Ordenamiento de Archivos" and "Purga Automática de
// Contestaciones". Always on top, centred, without system buttons; created for one run and freed after it.
#include "dm/Tdm.h"
#include <QDialog>
#include <QProgressBar>

namespace qev {

class MaintenanceProgress : public QDialog, public ProgressSink {
    Q_OBJECT
public:
    MaintenanceProgress(const QString& objectName, const QString& title, const QString& label, QWidget* parent);
    void setProgress(int percent) override;
    QProgressBar* bar() const { return m_bar; }

private:
    QProgressBar* m_bar;
};

class TFReindex final : public MaintenanceProgress {
    Q_OBJECT
public:
    explicit TFReindex(QWidget* parent = nullptr)
        : MaintenanceProgress(QStringLiteral("TFReindex"), QStringLiteral("Ordenamiento de Archivos"), QString(),
                              parent) {}
};

class TFPurgReg final : public MaintenanceProgress {
    Q_OBJECT
public:
    explicit TFPurgReg(QWidget* parent = nullptr)
        : MaintenanceProgress(QStringLiteral("TFPurgReg"), QStringLiteral("Purga Automática de Contestaciones"),
                              QStringLiteral("Progreso de la purga:"), parent) {}
};

} // namespace qev
