#pragma once
// The ten-print card behind "Digitalización de la ficha dactiloscópica": scanning the card through the scanner
// set-up, loading an image file, and saving it in the card form (8-bit grey TIFF, JPEG of medium quality) for the
// request window, with both hands' classifications. Every file lives in the office folder.
#include "capture/ScanSetup.h"
#include "util/AppDir.h"

#include <QString>

namespace qev {

class Prompter;

namespace capture {

inline constexpr char kCardIni[] = "Huella.INI";

class CardCapture {
public:
    CardCapture(const AppDir& folder, Prompter& prompter, ScanSetup& setup);

    // Set by the caller before showing, or by the window for the caller to read afterwards.
    bool SoloLectura = false;
    QString ClasDer = QString::fromLatin1("_____");
    QString ClasIzq = QString::fromLatin1("_____");
    bool Modificado = false;
    QString ArchivoHuella; // full path of the saved TIFF, set only by a successful save
    int Contador = 0;

    // Loads the card settings ("Huella.INI"); run on every show.
    void prepareShow();
    // Where the loaded or scanned card is shown from ("out.bmp"); empty while none is shown.
    const QString& shownImage() const { return m_shown; }
    bool scanUnderWay() const { return m_scanUnderWay; }

    // Scans the card; with the test shortcut the pages come from "ficha.tif" / "ficha.bmp" of the office folder.
    // True when a new card is shown.
    bool escanear(bool testShortcut);
    // The load button and the menu entry differ only in their read-only message.
    enum class LoadFrom { Button, Menu };
    bool refuseLoad(LoadFrom from);
    // Loads an image file as the current card (converted to the card form); `modified` becomes `Modificado`.
    bool CargarArchivo(const QString& file, bool modified);
    // "&Grabar": converts the shown card into "huella" + N + ".TIF" and takes the classifications. True when the
    // window closes. Without a card only the classifications are returned.
    bool grabar(const QString& clasDer, const QString& clasIzq);
    // Closing in any way: the shown card's work files go.
    void cerrar();
    // Settings window closed from the card window: its settings are kept in "Huella.INI".
    bool guardarConfiguracion();

private:
    QString numbered(const char* ext) const;
    bool showResult();
    AppDir m_folder;
    Prompter& m_prompter;
    ScanSetup& m_setup;
    QString m_shown;
    bool m_scanUnderWay = false;
};

} // namespace capture
} // namespace qev
