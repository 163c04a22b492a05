#pragma once
// "Configuración de LiveScan": the kind of livescan, the external capture program and its folder, automatic
// advance, the quality check and the flips. The five settings go to the office settings, the folder and the
// program's description to "LiveScan.INI".
#include "platform/LiveScanPrograms.h"

#include <QDialog>

#include <functional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace qev {

class Prompter;

class TFConfigLiveScan : public QDialog {
    Q_OBJECT
public:
    // Reads and writes one office setting; the writer answers false when it could not store the value.
    using ReadSetting = std::function<QString(const QString& key)>;
    using WriteSetting = std::function<bool(const QString& key, const QString& value)>;

    // `folder`: the office folder that holds "LiveScan.INI".
    TFConfigLiveScan(QString folder, ReadSetting read, WriteSetting write, Prompter& prompter,
                     QWidget* parent = nullptr);

    // Loads every control from the settings and "LiveScan.INI" (also done on every show).
    void load();
    // Stores every control; false (the reason shown) when something could not be stored.
    bool store();
    // The buttons that start the chosen program's parts.
    void configurar();
    void probarCaptura();
    void probarLiveScan();

protected:
    void showEvent(QShowEvent* e) override;

private:
    void listPrograms(const QString& chosenIni);
    const platform::LiveScanProgram* chosen() const;
    void updateButtons();
    void report(const platform::ProgramRun& run);

    QString m_folder;
    ReadSetting m_read;
    WriteSetting m_write;
    Prompter& m_prompter;
    platform::LiveScanIni m_ini;
    std::vector<platform::LiveScanProgram> m_programs;
    QComboBox *m_type, *m_program;
    QLineEdit* m_path;
    QCheckBox *m_avance, *m_calidad, *m_flipHor, *m_flipVer;
    QPushButton *m_configurar, *m_captura, *m_liveScan;
};

} // namespace qev
