#include "capture/ui/TFVerImg.h"

#include "capture/ImageLib.h"
#include "capture/ui/ImageView.h"
#include "util/Prompter.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace qev {

TFVerImg::TFVerImg(Prompter& prompter, QWidget* parent) : PagedImageWindow(prompter, parent) {
    setObjectName(QStringLiteral("TFVerImg"));
    setWindowTitle(QStringLiteral("Visualización de Imagenes"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setMinimumSize(380, 245);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* menus = new QMenuBar(this);
    layout->setMenuBar(menus);
    QMenu* archivo = menus->addMenu(QStringLiteral("&Archivo"));
    QAction* imprimirA = archivo->addAction(QStringLiteral("&Imprimir"));
    QAction* cargarA = archivo->addAction(QStringLiteral("&Cargar Imagen"));
    QAction* salirA = archivo->addAction(QStringLiteral("&Salir"));
    addViewMenu(menus->addMenu(QStringLiteral("&Ver")));
    auto* toolbar = new QHBoxLayout;
    toolbar->setContentsMargins(4, 2, 4, 2);
    addPageControls(toolbar);
    toolbar->addStretch();
    auto* salir = new QPushButton(QStringLiteral("&Salir"), this);
    salir->setObjectName(QStringLiteral("btSalir"));
    salir->setAutoDefault(false);
    toolbar->addWidget(salir);
    layout->addLayout(toolbar);
    layout->addWidget(m_view, 1);
    connect(imprimirA, &QAction::triggered, this, &TFVerImg::imprimir);
    connect(cargarA, &QAction::triggered, this, &TFVerImg::cargarImagen);
    connect(salirA, &QAction::triggered, this, &QDialog::accept);
    connect(salir, &QPushButton::clicked, this, &QDialog::accept);
    chooseFile = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Cargar TIF"), QString(),
                                            QStringLiteral("Tagged Image File Format (*.TIF *.tif)"));
    };
}

bool TFVerImg::load(const QString& file) {
    std::string error;
    const int count = capture::pageCount(QFile::encodeName(file).toStdString(), &error);
    if (count <= 0) {
        m_prompter.error(QStringLiteral("El archivo %1 no es una imagen que se pueda mostrar:\r%2")
                             .arg(QFileInfo(file).fileName(), QString::fromStdString(error)));
        return false;
    }
    m_page = 1;
    showPage(file, 1, count);
    return true;
}

void TFVerImg::showEvent(QShowEvent* e) {
    PagedImageWindow::showEvent(e);
    if (view()->file() != m_archivo && QFileInfo::exists(m_archivo)) load(m_archivo);
    applyViewMode();
}

int TFVerImg::pageRequested(const QString& text) {
    bool ok = false;
    int n = text.trimmed().toInt(&ok);
    if (!ok || n < 1) n = 1;
    m_page = std::min(n, std::max(1, m_pageCount));
    return m_page;
}

void TFVerImg::cargarImagen() {
    const QString file = chooseFile ? chooseFile() : QString();
    if (!file.isEmpty() && QFileInfo::exists(file)) load(file);
}

void TFVerImg::imprimir() {
    if (!m_file.isEmpty()) (void)printImageFile(this, m_file, 1, m_pageCount, true);
}

} // namespace qev
