#pragma once
// "Configurar Scanner": the scan settings of the scanner set-up, the choice of the source and its options window.
#include <QDialog>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;
class QToolButton;

namespace qev {

class Prompter;
namespace capture {
class ScanSetup;
}

class TTwainForm : public QDialog {
    Q_OBJECT
public:
    // Loads "ImageLib.INI" of the program folder; the destructor saves it there.
    TTwainForm(capture::ScanSetup& setup, Prompter& prompter, QString imageLibIni, QWidget* parent = nullptr);
    ~TTwainForm() override;

    // The controls from the set-up's settings, and back.
    void loadControls();
    void storeControls();
    // Opens the options window of the chosen source; set by the program.
    std::function<void()> openCaps;
    // "Elegir Scanner": the operator picks one of the listed sources.
    void selectSource();
    void setStatus(const QString& text);

protected:
    void showEvent(QShowEvent* e) override;
    void done(int r) override;

private:
    QSpinBox* spin(const char* name, int lo, int hi, int step);
    void setBusy(bool busy);
    capture::ScanSetup& m_setup;
    Prompter& m_prompter;
    QString m_ini;
    QSpinBox *m_dpi, *m_izq, *m_der, *m_sup, *m_inf, *m_bright, *m_cont, *m_rot, *m_pages;
    QComboBox *m_type, *m_uic;
    QCheckBox* m_deskew;
    QLabel* m_status;
    QLabel* m_source;
    QToolButton *m_selectBtn, *m_exitBtn;
    QWidget* m_settingsBox;
};

} // namespace qev
