#pragma once
// "Digitalización de la ficha dactiloscópica": scans or loads the ten-print card, shows it fitted or zoomed, takes
// both hands' classifications and saves the card for the request window.
#include "capture/CardCapture.h"

#include <QDialog>
#include <functional>

class QAction;
class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace qev {

class ImageView;
class Prompter;
class TClasFundEdit;

class TFDigFich : public QDialog {
    Q_OBJECT
public:
    TFDigFich(capture::CardCapture& card, capture::ScanSetup& setup, Prompter& prompter, QWidget* parent = nullptr);

    capture::CardCapture& card() { return m_card; }
    // The request window's contract: set the inputs, then show modally.
    void prepare(bool soloLectura, const QString& clasDer, const QString& clasIzq);
    bool CargarArchivo(const QString& file, bool modified);

    // The actions of the buttons and menu entries, callable from tests.
    void escanear();
    void cargarImagen(capture::CardCapture::LoadFrom from);
    void grabar();
    void configurarScanner();
    void applyViewMode();
    void imprimir();

    // Shows the scanner set-up window modally; set by the program.
    std::function<void()> openScanConfig;
    // The open dialog; replaced in tests. Empty when cancelled.
    std::function<QString()> chooseFile;

protected:
    void showEvent(QShowEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int r) override;

private:
    void enterDisabledState();
    void enterEnabledState();
    void showResult();
    void updateSave();
    void setStatus(const QString& text);

    capture::CardCapture& m_card;
    capture::ScanSetup& m_setup;
    Prompter& m_prompter;
    ImageView* m_view;
    QSpinBox* m_zoom;
    QToolButton *m_verAncho, *m_verAlto, *m_print, *m_scanConfig, *m_gomaDer, *m_gomaIzq;
    QPushButton *m_load, *m_reScan, *m_save;
    TClasFundEdit *m_clasDer, *m_clasIzq;
    QCheckBox* m_scannerUI;
    QAction *m_miAdjustWidth, *m_miAdjustHeight, *m_miFreeSize, *m_miScannerUI, *m_miImprimir;
    QLabel *m_status, *m_time;
    bool m_cancel = false;
};

} // namespace qev
