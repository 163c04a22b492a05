#include "capture/DocumentCapture.h"

#include "capture/ImageLib.h"
#include "util/Prompter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace qev::capture {

namespace {
std::string local(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

bool copyOver(const QString& from, const QString& to) {
    if (QFileInfo(from).absoluteFilePath() == QFileInfo(to).absoluteFilePath()) return true;
    const QString temp = to + QStringLiteral(".copia");
    QFile::remove(temp);
    if (!QFile::copy(from, temp)) return false;
    QFile::remove(to);
    return QFile::rename(temp, to);
}
} // namespace

DocumentCapture::DocumentCapture(const AppDir& folder, Prompter& prompter, ScanSetup& setup)
    : m_folder(folder), m_prompter(prompter), m_setup(setup) {}

QString DocumentCapture::resolve(const QString& name) const {
    return QDir::isAbsolutePath(name) ? name : m_folder.file(name);
}

QString DocumentCapture::documentPath() const {
    return resolve(ArchivoDocumento);
}

SaveFormat DocumentCapture::pageEncoding(int imageType) {
    if (imageType == kImageGray) return {kFileTiff, kPageGrey8, kCompressionJpeg, kInfoJpegMedium};
    return {kFileTiff, kPageBlackWhite, kCompressionGroup4, kInfoGroup4};
}

QString DocumentCapture::caption() const {
    const QString base = QStringLiteral("Digitalización de la documentación");
    if (!hasDocument()) return base;
    return base + QStringLiteral(" (") + QString::number(m_pageCount) +
           (m_pageCount == 1 ? QStringLiteral(" página)") : QStringLiteral(" páginas)"));
}

bool DocumentCapture::guardarConfiguracion() {
    return m_setup.saveSettings(m_folder.file(QString::fromLatin1(kDocumentIni)));
}

void DocumentCapture::prepareShow() {
    Guardado = true;
    m_page = hasDocument() ? m_page : 0;
    m_setup.loadSettings(m_folder.file(QString::fromLatin1(kDocumentIni)));
    if (!hasDocument() && QFileInfo::exists(documentPath())) {
        if (cargar(documentPath())) {
            m_changed = false;
            m_documentTime = QFileInfo(documentPath()).lastModified();
        }
    }
}

bool DocumentCapture::cargar(const QString& file) {
    if (!QFileInfo(file).isFile()) return false;
    BusyScope busy(m_prompter);
    // Every page must read: a file whose pages cannot all be decoded is refused before anything changes.
    std::vector<Page> pages;
    std::string error;
    if (!loadPages(local(file), pages, &error) || pages.empty()) {
        m_prompter.error(QStringLiteral("El archivo %1 no es un documento TIFF que se pueda mostrar:\r%2")
                             .arg(QFileInfo(file).fileName(), QString::fromStdString(error)));
        return false;
    }
    const QString next =
        m_folder.file(QStringLiteral("scan") + QString::number(m_counter + 1) + QStringLiteral(".tif"));
    if (!copyOver(file, next)) {
        m_prompter.error(QStringLiteral("No se pudo copiar el documento %1").arg(file));
        return false;
    }
    if (!CopiaTrabajo.isEmpty() && CopiaTrabajo != next) QFile::remove(CopiaTrabajo);
    ++m_counter;
    CopiaTrabajo = next;
    m_pageCount = static_cast<int>(pages.size());
    m_page = 1;
    return true;
}

bool DocumentCapture::store(const std::vector<Page>& pages) {
    std::string error;
    if (!savePages(local(documentPath()), pages, &error)) {
        m_prompter.error(QStringLiteral("No se pudo guardar el documento: %1").arg(QString::fromStdString(error)));
        return false;
    }
    return true;
}

bool DocumentCapture::digitalizar(Operacion op) {
    if (!OperacionEnCurso.isEmpty()) return false;
    if (op != Operacion::Redigitalizar) Guardado = false;
    QFile::remove(m_folder.file(QStringLiteral("out.bmp")));
    QFile::remove(m_folder.file(QString::fromLatin1(kOutBmp)));
    OperacionEnCurso = op == Operacion::Redigitalizar ? QStringLiteral("REDIGITALIZAR")
                       : op == Operacion::Insertar    ? QStringLiteral("INSERTAR")
                                                      : QStringLiteral("AGREGAR");
    BusyScope busy(m_prompter);
    const ScanSetup::Result scanned = m_setup.scan();
    bool ok = scanned.ok;
    if (ok) {
        // The document file holds the current state; then the scanned pages go into it.
        if (hasDocument() && !copyOver(CopiaTrabajo, documentPath())) {
            m_prompter.error(QStringLiteral("No se pudo copiar el documento a %1").arg(documentPath()));
            ok = false;
        }
        std::vector<Page> pages;
        std::string error;
        if (ok && hasDocument() && op != Operacion::Redigitalizar && !loadPages(local(documentPath()), pages, &error)) {
            m_prompter.error(QStringLiteral("No se pudo leer el documento: %1").arg(QString::fromStdString(error)));
            ok = false;
        }
        if (ok) {
            const SaveFormat enc = pageEncoding(m_setup.settings().tipoImagen);
            std::vector<Page> added;
            for (const Raster& r : scanned.pages)
                added.push_back(Page{r, enc});
            const int before =
                op == Operacion::Insertar && !pages.empty() ? m_page - 1 : static_cast<int>(pages.size());
            pages.insert(pages.begin() + std::clamp(before, 0, static_cast<int>(pages.size())), added.begin(),
                         added.end());
            ok = store(pages) && cargar(documentPath());
            if (ok) {
                m_changed = true;
                if (op == Operacion::Agregar) m_page = m_pageCount;
            }
        }
    }
    OperacionEnCurso.clear();
    return ok;
}

bool DocumentCapture::borrarPagina() {
    Guardado = false;
    if (!hasDocument()) return false;
    if (m_pageCount <= 1) {
        m_prompter.warn(QStringLiteral("No se puede borrar esta página porque\run documento no puede quedar vacío"),
                        QStringLiteral("Advertencia"));
        return false;
    }
    if (!m_prompter.confirm(QStringLiteral("¿Está seguro que desea borrar esta página?"), QStringLiteral("Atención")))
        return false;
    std::string error;
    if (!deletePage(local(CopiaTrabajo), m_page, &error)) {
        m_prompter.error(QStringLiteral("No se pudo borrar la página: %1").arg(QString::fromStdString(error)));
        return false;
    }
    --m_pageCount;
    m_page = std::min(m_page, m_pageCount);
    m_changed = true;
    return true;
}

bool DocumentCapture::rotar(bool left) {
    if (!hasDocument()) return false;
    std::string error;
    if (!rotatePageInFile(local(CopiaTrabajo), m_page, left, &error)) {
        m_prompter.error(QStringLiteral("No se pudo rotar la página: %1").arg(QString::fromStdString(error)));
        return false;
    }
    Guardado = false;
    m_changed = true;
    return true;
}

bool DocumentCapture::cargarDesdeDisco(const QString& file) {
    Guardado = false;
    std::vector<Page> pages;
    std::string error;
    // Checked before the document file is overwritten.
    if (!loadPages(local(file), pages, &error) || pages.empty()) {
        m_prompter.error(QStringLiteral("El archivo %1 no es un documento TIFF que se pueda mostrar:\r%2")
                             .arg(QFileInfo(file).fileName(), QString::fromStdString(error)));
        return false;
    }
    if (!copyOver(file, documentPath())) {
        m_prompter.error(QStringLiteral("No se pudo copiar el documento %1").arg(file));
        return false;
    }
    m_changed = true;
    return cargar(documentPath());
}

int DocumentCapture::irAPagina(const QString& text) {
    if (!hasDocument()) return m_page;
    bool ok = false;
    int n = text.trimmed().toInt(&ok);
    if (!ok || n < 1) n = 1;
    if (n > m_pageCount) n = m_pageCount;
    m_page = n;
    return n;
}

void DocumentCapture::cerrarSinGrabar() {
    QFile::remove(documentPath());
}

void DocumentCapture::alCerrar() {
    if (hasDocument()) {
        if (copyOver(CopiaTrabajo, documentPath()) && !m_changed && m_documentTime.isValid()) {
            // Nothing changed: the caller sees the document as it gave it.
            QFile f(documentPath());
            if (f.open(QIODevice::ReadWrite)) f.setFileTime(m_documentTime, QFileDevice::FileModificationTime);
        }
        QFile::remove(CopiaTrabajo);
    }
    CopiaTrabajo.clear();
    m_page = 0;
    m_pageCount = 0;
    m_changed = false;
    m_documentTime = QDateTime();
    OperacionEnCurso.clear();
}

void DocumentCapture::alOcultar() {
    if (Guardado) return;
    if (!m_prompter.confirm(QStringLiteral("¿Desea guardar la imágen?"))) QFile::remove(documentPath());
}

} // namespace qev::capture
