#include "capture/scan/Scanner.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace qev::capture {

namespace fs = std::filesystem;

Raster toPixelKind(const Raster& page, PixelKind kind) {
    if (kind == PixelKind::Colour) return page;
    Raster g = toGrey8(page);
    if (kind == PixelKind::BlackWhite) {
        for (uint8_t& v : g.pixels)
            v = v < 128 ? 0 : 255;
        g.bilevel = true;
    }
    return g;
}

std::vector<std::string> FileScanner::files() const {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(m_folder, ec)) {
        if (!e.is_regular_file(ec)) continue;
        std::string ext = e.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        if (ext == ".tif" || ext == ".tiff" || ext == ".bmp" || ext == ".jpg" || ext == ".jpeg")
            out.push_back(e.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool FileScanner::listSources(std::vector<ScanSourceInfo>& out, std::string* error) {
    out.clear();
    std::error_code ec;
    if (!fs::is_directory(m_folder, ec)) {
        if (error) *error = "No existe la carpeta de imágenes " + m_folder;
        return false;
    }
    out.push_back({m_folder, "QEV Regional", "Imágenes de una carpeta", "archivos"});
    return true;
}

bool FileScanner::open(const std::string& source, std::string* error) {
    if (!source.empty() && source != m_folder) {
        if (error) *error = "No se encontró el scanner " + source;
        return false;
    }
    std::vector<ScanSourceInfo> s;
    m_open = listSources(s, error);
    return m_open;
}

bool FileScanner::configure(const ScanRequest& request, std::vector<std::string>& notSet, std::string* error) {
    if (!m_open) {
        if (error) *error = "No hay ningún scanner abierto";
        return false;
    }
    notSet.clear();
    notSet.push_back(kSettingResolution);
    if (request.brightness != 0) notSet.push_back(kSettingBrightness);
    if (request.contrast != 0) notSet.push_back(kSettingContrast);
    if (request.showDialog) notSet.push_back(kSettingDialog);
    return true;
}

ScanOutcome FileScanner::scan(const ScanRequest& request, ScanSink& sink) {
    ScanOutcome out;
    if (!configure(request, out.notSet, &out.error)) return out;
    const std::vector<std::string> list = files();
    if (list.empty()) {
        out.error = "No hay ninguna página para digitalizar en " + m_folder;
        return out;
    }
    std::vector<std::string> batch;
    if (request.feeder)
        batch = list;
    else
        batch.push_back(list[m_next++ % list.size()]);
    const int most = request.pages > 0 ? request.pages : (request.feeder ? 1 << 30 : 1);
    for (const std::string& file : batch) {
        std::string error;
        const int n = pageCount(file, &error);
        if (n <= 0) {
            out.error = "El archivo " + file + " no es una imagen: " + error;
            return out;
        }
        for (int p = 1; p <= n && out.pages < most; ++p) {
            if (sink.cancelRequested()) {
                out.status = ScanOutcome::Status::Cancelled;
                return out;
            }
            Raster r;
            if (!loadPage(file, p, r, &error)) {
                out.error = "No se pudo leer " + file + ": " + error;
                return out;
            }
            if (request.hasArea()) {
                const double dx = r.resolutionX > 0 ? r.resolutionX : request.dpi;
                const double dy = r.resolutionY > 0 ? r.resolutionY : request.dpi;
                r = crop(r, static_cast<int>(std::lround(request.left * dx)),
                         static_cast<int>(std::lround(request.top * dy)),
                         static_cast<int>(std::lround((request.right - request.left) * dx)),
                         static_cast<int>(std::lround((request.bottom - request.top) * dy)));
                if (r.empty()) {
                    out.error = "El área de digitalización queda fuera de la imagen " + file;
                    return out;
                }
            }
            r = toPixelKind(r, request.pixels);
            sink.progress(100);
            if (!sink.page(std::move(r), out.pages + 1)) {
                out.status = ScanOutcome::Status::Cancelled;
                return out;
            }
            ++out.pages;
        }
    }
    out.status = ScanOutcome::Status::Done;
    return out;
}

bool FileScanner::setOption(const std::string& name, const std::string&, std::string* error) {
    if (error) *error = "El scanner de archivos no tiene la opción " + name;
    return false;
}

std::vector<ScanOption> FileScanner::options() {
    ScanOption folder;
    folder.name = "folder";
    folder.title = "Carpeta";
    folder.description = "Carpeta de la que se leen las páginas, en orden de nombre";
    folder.type = "STRING";
    folder.constraint = "NONE";
    folder.value = m_folder;
    folder.settable = false;
    ScanOption count;
    count.name = "pages";
    count.title = "Archivos";
    count.description = "Archivos de imagen que hay en la carpeta";
    count.type = "INT";
    count.constraint = "NONE";
    count.value = std::to_string(files().size());
    count.settable = false;
    return {folder, count};
}

} // namespace qev::capture
