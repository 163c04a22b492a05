#include "capture/ui/TFImgDig.h"

#include "capture/ui/ImageView.h"
#include "util/Prompter.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace qev {

using Op = capture::DocumentCapture::Operacion;

TFImgDig::TFImgDig(capture::DocumentCapture& doc, capture::ScanSetup& setup, Prompter& prompter, QWidget* parent)
    : PagedImageWindow(prompter, parent), m_doc(doc), m_setup(setup) {
    setObjectName(QStringLiteral("TFImgDig"));
    setWindowTitle(QStringLiteral("Digitalización de la documentación"));
    setMinimumSize(638, 245);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* menus = new QMenuBar(this);
    layout->setMenuBar(menus);

    QMenu* archivo = menus->addMenu(QStringLiteral("&Archivo"));
    QAction* imprimirA = archivo->addAction(QStringLiteral("&Imprimir"));
    QAction* cargarA = archivo->addAction(QStringLiteral("&Cargar Imagen..."));
    QAction* salirA = archivo->addAction(QStringLiteral("&Salir"));
    salirA->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    QMenu* pagina = menus->addMenu(QStringLiteral("&Página"));
    QAction* redig = pagina->addAction(QStringLiteral("&Redigitalizar"));
    QAction* insertar = pagina->addAction(QStringLiteral("&Insertar"));
    QAction* borrar = pagina->addAction(QStringLiteral("&Borrar"));
    QAction* agregar = pagina->addAction(QStringLiteral("&Agregar"));
    QMenu* imagen = menus->addMenu(QStringLiteral("&Imagen"));
    QAction* rotIzq = imagen->addAction(QStringLiteral("Rotar a &Izquierda"));
    QAction* rotDer = imagen->addAction(QStringLiteral("Rotar a &Derecha"));
    QMenu* ver = menus->addMenu(QStringLiteral("&Ver"));
    addViewMenu(ver);
    ver->addSeparator();
    m_miScannerUI = ver->addAction(QStringLiteral("Interface del scanner"));
    m_miScannerUI->setCheckable(true);
    QAction* config = ver->addAction(QStringLiteral("Configuración Scanner"));
    QMenu* ayuda = menus->addMenu(QStringLiteral("A&yuda"));
    QAction* contenido = ayuda->addAction(QStringLiteral("&Contenido"));
    contenido->setEnabled(false);
    contenido->setToolTip(QStringLiteral("No disponible todavía"));
    ayuda->setToolTipsVisible(true);

    auto* toolbar = new QHBoxLayout;
    toolbar->setContentsMargins(4, 2, 4, 2);
    const auto button = [this, toolbar](const char* name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(text);
        b->setAutoDefault(false);
        toolbar->addWidget(b);
        return b;
    };
    QPushButton* btScan = button("btScan", QStringLiteral("Digitalizar"));
    QPushButton* btInsert = button("btPagInsert", QStringLiteral("Insertar Página"));
    QPushButton* btDel = button("btPagDel", QStringLiteral("Borrar Página"));
    QPushButton* btAdd = button("btPagAdd", QStringLiteral("Agregar Página"));
    auto* scanConfig = new QToolButton(this);
    scanConfig->setObjectName(QStringLiteral("sbScanConfig"));
    scanConfig->setText(QStringLiteral("Configurar scanner"));
    scanConfig->setToolTip(scanConfig->text());
    toolbar->addWidget(scanConfig);
    addPageControls(toolbar);
    m_scannerUI = new QCheckBox(QStringLiteral("Mostrar interfaz"), this);
    m_scannerUI->setObjectName(QStringLiteral("cbScannerUI"));
    toolbar->addWidget(m_scannerUI);
    toolbar->addStretch();
    QPushButton* btSave = button("btSave", QStringLiteral("&Grabar"));
    QPushButton* btSalir = button("btSalir", QStringLiteral("&Cerrar"));
    layout->addLayout(toolbar);
    layout->addWidget(m_view, 1);

    connect(btScan, &QPushButton::clicked, this, [this] { digitalizar(Op::Redigitalizar); });
    connect(redig, &QAction::triggered, this, [this] { digitalizar(Op::Redigitalizar); });
    connect(btInsert, &QPushButton::clicked, this, [this] { digitalizar(Op::Insertar); });
    connect(insertar, &QAction::triggered, this, [this] { digitalizar(Op::Insertar); });
    connect(btAdd, &QPushButton::clicked, this, [this] { digitalizar(Op::Agregar); });
    connect(agregar, &QAction::triggered, this, [this] { digitalizar(Op::Agregar); });
    connect(btDel, &QPushButton::clicked, this, &TFImgDig::borrarPagina);
    connect(borrar, &QAction::triggered, this, &TFImgDig::borrarPagina);
    connect(rotIzq, &QAction::triggered, this, [this] { rotar(true); });
    connect(rotDer, &QAction::triggered, this, [this] { rotar(false); });
    connect(imprimirA, &QAction::triggered, this, &TFImgDig::imprimir);
    connect(cargarA, &QAction::triggered, this, &TFImgDig::cargarImagen);
    connect(salirA, &QAction::triggered, this, &QDialog::reject);
    connect(scanConfig, &QToolButton::clicked, this, &TFImgDig::configurarScanner);
    connect(config, &QAction::triggered, this, &TFImgDig::configurarScanner);
    connect(m_scannerUI, &QCheckBox::toggled, this, [this](bool on) {
        m_miScannerUI->setChecked(on);
        m_setup.showScannerDialog = on;
    });
    connect(m_miScannerUI, &QAction::toggled, m_scannerUI, &QCheckBox::setChecked);
    connect(btSave, &QPushButton::clicked, this, [this] {
        m_doc.grabar();
        accept();
    });
    connect(btSalir, &QPushButton::clicked, this, [this] {
        m_doc.cerrarSinGrabar();
        accept();
    });

    chooseFile = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Cargar TIF"), QString(),
                                            QStringLiteral("Tagged Image File Format (*.TIF *.tif)"));
    };
}

void TFImgDig::refresh() {
    setWindowTitle(m_doc.caption());
    showPage(m_doc.hasDocument() ? m_doc.CopiaTrabajo : QString(), m_doc.page(), m_doc.pageCount());
}

void TFImgDig::showEvent(QShowEvent* e) {
    PagedImageWindow::showEvent(e);
    setWindowTitle(QStringLiteral("Digitalización de la documentación"));
    m_pag->setText(QStringLiteral("0"));
    m_doc.prepareShow();
    if (m_doc.hasDocument()) refresh();
    applyViewMode();
}

int TFImgDig::pageRequested(const QString& text) {
    return m_doc.irAPagina(text);
}

void TFImgDig::spacePressed() {
    digitalizar(Op::Agregar);
}

void TFImgDig::digitalizar(capture::DocumentCapture::Operacion op) {
    m_cancel = false;
    m_setup.keepResponsive = [] { QApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
    m_setup.cancelRequested = [this] { return m_cancel; };
    const bool ok = m_doc.digitalizar(op);
    m_setup.keepResponsive = nullptr;
    m_setup.cancelRequested = nullptr;
    raise();
    activateWindow();
    if (ok) refresh();
}

void TFImgDig::borrarPagina() {
    if (m_doc.borrarPagina()) refresh();
}

void TFImgDig::rotar(bool left) {
    if (m_doc.rotar(left)) refresh();
}

void TFImgDig::cargarImagen() {
    m_doc.Guardado = false;
    const QString file = chooseFile ? chooseFile() : QString();
    if (file.isEmpty() || !QFileInfo::exists(file)) return;
    if (m_doc.cargarDesdeDisco(file)) refresh();
}

void TFImgDig::imprimir() {
    if (!m_doc.hasDocument()) return;
    (void)printImageFile(this, m_doc.CopiaTrabajo, 1, m_doc.pageCount(), true);
}

void TFImgDig::configurarScanner() {
    if (openScanConfig) openScanConfig();
    if (!m_doc.guardarConfiguracion())
        m_prompter.error(QStringLiteral("No se pudo guardar la configuración del scanner en Docu.INI"));
}

void TFImgDig::done(int r) {
    if (!m_doc.OperacionEnCurso.isEmpty()) {
        m_cancel = true;
        return;
    }
    m_doc.alCerrar();
    m_view->clearImage();
    PagedImageWindow::done(r);
    m_doc.alOcultar();
}

} // namespace qev
