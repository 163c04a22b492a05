#pragma once
// "Visualización de Imagenes": shows a stored TIFF (documents, the central office's answer) page by page.
#include "capture/ui/PagedImageWindow.h"

#include <functional>

namespace qev {

class TFVerImg : public PagedImageWindow {
    Q_OBJECT
public:
    explicit TFVerImg(Prompter& prompter, QWidget* parent = nullptr);
    // The file to show, set by the caller before showing.
    void setArchivo(const QString& file) { m_archivo = file; }
    const QString& archivo() const { return m_archivo; }
    int page() const { return m_page; }
    void cargarImagen();
    void imprimir();
    // The open dialog "Cargar TIF"; replaced in tests.
    std::function<QString()> chooseFile;

protected:
    void showEvent(QShowEvent* e) override;
    int pageRequested(const QString& text) override;

private:
    bool load(const QString& file);
    QString m_archivo;
    int m_page = 0;
};

} // namespace qev
