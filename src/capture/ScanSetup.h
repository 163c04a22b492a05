#pragma once
// The scanner set-up behind "Configurar Scanner": the scan settings with their keys in the section "Config" of
// "Huella.INI", "Docu.INI" and "ImageLib.INI", the codes the acquisition takes, and the scan itself: each page is
// straightened and turned as set, and the last page of a completed batch is written as "OUT.BMP" and "OUT.TIF" in
// the program folder. A scan that fails or is cancelled writes nothing.
#include "capture/scan/Scanner.h"
#include "util/AppDir.h"

#include <QString>
#include <functional>
#include <vector>

namespace qev {

class Prompter;

namespace capture {

inline constexpr char kOutBmp[] = "OUT.BMP";
inline constexpr char kOutTif[] = "OUT.TIF";

// The image kinds of the list "Tipo de imagen", by index.
enum ImageType { kImageBw = 0, kImageGray = 1, kImageColor8 = 2, kImageColor24 = 3 };

struct ScanSettings {
    int dpi = 300;     // 100..500, step 50
    int izquierda = 0; // area in millimetres, 0..500
    int derecha = 210;
    int arriba = 0;
    int abajo = 110;
    int brillo = 0;              // -1000..1000
    int contraste = 0;           // -1000..1000
    int tipoImagen = kImageGray; // 0..3, -1 no selection
    int uiMode = 2;              // "Interface del Scanner" list index 0..4, -1 no selection
    int rotarGrados = 0;         // 0..359
    int paginas = 1;             // 1..999999, not stored
    bool deskew = false;         // not stored

    // Brings every value into its range (step of 50 for the resolution).
    void clamp();
};

// Reads the keys of the section "Config"; missing or unreadable keys take their defaults.
ScanSettings loadScanSettings(const QString& iniFile);
// Writes the stored keys (the list settings as their index); false when the file cannot be written.
bool saveScanSettings(const QString& iniFile, const ScanSettings& s);

// The acquisition codes of a setting: image kind code and bit depth, and the dialog mode (bit 2 shows the source's
// dialog, bit 1 uses the feeder; the show-dialog flag adds bit 2).
struct AcquireCodes {
    int imageKind = 1;
    int bitDepth = 0;
    int dialogMode = 0;
};
AcquireCodes acquireCodes(const ScanSettings& s, bool showScannerDialog);
// The request for the scanner: codes mapped onto its settings, area in inches (millimetres / 25.4).
ScanRequest scanRequest(const ScanSettings& s, bool showScannerDialog);

class ScanSetup {
public:
    ScanSetup(Scanner& scanner, const AppDir& programFolder, Prompter& prompter);

    ScanSettings& settings() { return m_settings; }
    const ScanSettings& settings() const { return m_settings; }
    void loadSettings(const QString& iniFile) { m_settings = loadScanSettings(iniFile); }
    bool saveSettings(const QString& iniFile) const { return saveScanSettings(iniFile, m_settings); }
    // Set from the capture windows' check "Mostrar interface del scanner".
    bool showScannerDialog = false;
    // The source chosen by the operator; empty takes the first one.
    QString source;

    Scanner& scanner() { return m_scanner; }
    bool scanning() const { return m_scanning; }
    // Progress and status lines ("DESKEWING", the measured skew, settings the source did not take).
    std::function<void(const QString&)> status;
    // Asked between reads; true cancels the batch.
    std::function<bool()> cancelRequested;
    // Called between reads so that a window can keep painting.
    std::function<void()> keepResponsive;

    struct Result {
        bool ok = false; // the batch completed and OUT.BMP / OUT.TIF hold its last page
        bool cancelled = false;
        std::vector<Raster> pages; // every page of the batch, straightened and turned
        QString error;
    };
    // Scans with the current settings. Failures are shown to the operator (and returned).
    Result scan();
    // The per-page processing: deskew when set, then the fixed rotation.
    Raster processPage(Raster page);

private:
    Scanner& m_scanner;
    AppDir m_folder;
    Prompter& m_prompter;
    ScanSettings m_settings;
    bool m_scanning = false;
};

} // namespace capture
} // namespace qev
