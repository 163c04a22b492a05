#pragma once
// The documentation behind "Digitalización de la documentación": a multi-page TIFF worked on as a copy
// ("scan" + N + ".tif"), to which scanned pages are written in the encoding of the scanner's image kind (grey JPEG of
// medium quality, or black-and-white Group 4), replacing the document, inserted before the current page or
// appended; pages are deleted and turned keeping each page's own encoding. The caller's document file
// (`ArchivoDocumento`) receives the working copy at each scan and at close, and survives the hide only when saved.
#include "capture/ScanSetup.h"
#include "util/AppDir.h"

#include <QDateTime>
#include <QString>

namespace qev {

class Prompter;

namespace capture {

inline constexpr char kDocumentIni[] = "Docu.INI";

class DocumentCapture {
public:
    DocumentCapture(const AppDir& folder, Prompter& prompter, ScanSetup& setup);

    QString ArchivoDocumento = QStringLiteral("test.tif"); // relative names are in the office folder
    QString CopiaTrabajo;                                  // empty while no document is shown
    bool Guardado = true;
    QString OperacionEnCurso;

    bool hasDocument() const { return !CopiaTrabajo.isEmpty(); }
    int page() const { return m_page; }
    int pageCount() const { return m_pageCount; }
    QString caption() const;
    // Full path of the document file.
    QString documentPath() const;

    // On show: saved, "Docu.INI" loaded, the document file shown when none is.
    void prepareShow();
    // Shows a document file (a valid TIFF) through a new working copy; a bad file is refused with a message.
    bool cargar(const QString& file);

    enum class Operacion { Redigitalizar, Insertar, Agregar };
    bool digitalizar(Operacion op);
    bool borrarPagina();
    bool rotar(bool left);
    // "&Cargar Imagen...": the chosen file becomes the document.
    bool cargarDesdeDisco(const QString& file);
    // The page field's text: not a number or below 1 gives 1, above the count gives the last page.
    int irAPagina(const QString& text);

    // "&Cerrar" deletes the document file; "&Grabar" marks it saved. Both then close.
    void cerrarSinGrabar();
    void grabar() { Guardado = true; }
    // Close: the working copy goes back to the document file and is deleted.
    void alCerrar();
    // Hide: an unsaved document is kept only when the operator says so.
    void alOcultar();

    // Settings window closed from the document window: its settings are kept in "Docu.INI".
    bool guardarConfiguracion();

    // The encoding of scanned pages for the scanner's image kind.
    static SaveFormat pageEncoding(int imageType);

private:
    bool store(const std::vector<Page>& pages);
    QString resolve(const QString& name) const;
    AppDir m_folder;
    Prompter& m_prompter;
    ScanSetup& m_setup;
    int m_page = 0;
    int m_pageCount = 0;
    int m_counter = 0;
    bool m_changed = false;   // a page operation since the document was shown
    QDateTime m_documentTime; // the document file's time when shown, kept when nothing changed
};

} // namespace capture
} // namespace qev
