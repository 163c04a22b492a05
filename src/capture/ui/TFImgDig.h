#pragma once
// "Digitalización de la documentación": scans the request's documents into a multi-page TIFF, inserts, appends
// and deletes pages, turns them, loads a TIFF from disk, and hands the result back in the document file.
#include "capture/DocumentCapture.h"
#include "capture/ui/PagedImageWindow.h"

#include <functional>

class QCheckBox;
class QPushButton;

namespace qev {

class TFImgDig : public PagedImageWindow {
    Q_OBJECT
public:
    TFImgDig(capture::DocumentCapture& doc, capture::ScanSetup& setup, Prompter& prompter, QWidget* parent = nullptr);
    capture::DocumentCapture& document() { return m_doc; }

    // The actions of the buttons and menu entries, callable from tests.
    void digitalizar(capture::DocumentCapture::Operacion op);
    void borrarPagina();
    void rotar(bool left);
    void cargarImagen();
    void imprimir();
    void configurarScanner();

    // Shows the scanner set-up window modally; set by the program.
    std::function<void()> openScanConfig;
    // The open dialog "Cargar TIF"; replaced in tests. Empty when cancelled.
    std::function<QString()> chooseFile;

protected:
    void showEvent(QShowEvent* e) override;
    void done(int r) override;
    int pageRequested(const QString& text) override;
    void spacePressed() override;

private:
    void refresh();
    capture::DocumentCapture& m_doc;
    capture::ScanSetup& m_setup;
    QCheckBox* m_scannerUI;
    QAction* m_miScannerUI;
    bool m_cancel = false;
};

} // namespace qev
