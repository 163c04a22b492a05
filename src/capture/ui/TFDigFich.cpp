#include "capture/ui/TFDigFich.h"

#include "capture/Clasificacion.h"
#include "capture/ui/ImageView.h"
#include "capture/ui/TClasFundEdit.h"
#include "util/Prompter.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace qev {

namespace {
QToolButton* toolButton(QWidget* parent, const char* name, const QString& text) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(text);
    b->setToolTip(text);
    return b;
}
} // namespace

TFDigFich::TFDigFich(capture::CardCapture& card, capture::ScanSetup& setup, Prompter& prompter, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowStaysOnTopHint), m_card(card), m_setup(setup), m_prompter(prompter) {
    setObjectName(QStringLiteral("TFDigFich"));
    setWindowTitle(QStringLiteral("Digitalización de la ficha dactiloscópica"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* menus = new QMenuBar(this);
    layout->setMenuBar(menus);
    QMenu* archivo = menus->addMenu(QStringLiteral("&Archivo"));
    QMenu* imprimirMenu = archivo->addMenu(QStringLiteral("&Imprimir"));
    m_miImprimir = imprimirMenu->menuAction();
    m_miImprimir->setVisible(false);
    QAction* fojaActual = imprimirMenu->addAction(QStringLiteral("Foja Actual"));
    QAction* fojasInformar = imprimirMenu->addAction(QStringLiteral("Fojas a Informar"));
    fojasInformar->setEnabled(false);
    fojasInformar->setToolTip(QStringLiteral("No disponible todavía"));
    QAction* cargar = archivo->addAction(QStringLiteral("&Cargar Imagen"));
    QAction* salir = archivo->addAction(QStringLiteral("&Salir"));
    salir->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    QMenu* ver = menus->addMenu(QStringLiteral("&Ver"));
    auto* fits = new QActionGroup(this);
    m_miAdjustWidth = ver->addAction(QStringLiteral("&Ajustar al Ancho"));
    m_miAdjustHeight = ver->addAction(QStringLiteral("&Ajustar al alto"));
    for (QAction* a : {m_miAdjustWidth, m_miAdjustHeight}) {
        a->setCheckable(true);
        fits->addAction(a);
    }
    m_miAdjustWidth->setChecked(true);
    m_miFreeSize = ver->addAction(QStringLiteral("&Tamaño libre"));
    m_miFreeSize->setCheckable(true);
    m_miScannerUI = ver->addAction(QStringLiteral("&Interface del Scanner"));
    m_miScannerUI->setCheckable(true);
    QAction* configMenu = ver->addAction(QStringLiteral("&Configuración del Scanner"));
    m_miAdjustWidth->setObjectName(QStringLiteral("miAdjustWidth"));
    m_miAdjustHeight->setObjectName(QStringLiteral("miAdjustHeight"));
    m_miFreeSize->setObjectName(QStringLiteral("miFreeSize"));
    m_miScannerUI->setObjectName(QStringLiteral("miScannerUI"));
    cargar->setObjectName(QStringLiteral("miCargarImagen"));

    auto* toolbar = new QWidget(this);
    toolbar->setObjectName(QStringLiteral("panToolbar"));
    auto* rows = new QVBoxLayout(toolbar);
    rows->setContentsMargins(4, 2, 4, 2);
    rows->setSpacing(2);
    auto* tb = new QHBoxLayout;
    auto* zoomLabel = new QLabel(QStringLiteral("Zoom"), toolbar);
    m_zoom = new QSpinBox(toolbar);
    m_zoom->setObjectName(QStringLiteral("edZoom"));
    m_zoom->setToolTip(QStringLiteral("Factor de Zoom"));
    m_zoom->setRange(2, 200);
    m_zoom->setSingleStep(5);
    m_zoom->setValue(50);
    zoomLabel->setBuddy(m_zoom);
    m_verAncho = toolButton(toolbar, "sbVerAncho", QStringLiteral("Ajustar al Ancho"));
    m_verAlto = toolButton(toolbar, "sbVerAlto", QStringLiteral("Ajustar al Alto"));
    m_print = toolButton(toolbar, "sbPrint", QStringLiteral("Imprimir"));
    m_load = new QPushButton(QStringLiteral("Cargar imagen..."), toolbar);
    m_load->setObjectName(QStringLiteral("btPagLoad"));
    m_scanConfig = toolButton(toolbar, "sbScanConfig", QStringLiteral("Configurar scanner"));
    auto* derLabel = new QLabel(QStringLiteral("Clasif. Derecha:"), toolbar);
    m_clasDer = new TClasFundEdit(toolbar);
    m_clasDer->setObjectName(QStringLiteral("edClasDer"));
    m_clasDer->setToolTip(QStringLiteral("Clasificación Mano Derecha"));
    m_gomaDer = toolButton(toolbar, "sbGomaDer", QStringLiteral("Borrar"));
    m_gomaDer->setToolTip(QStringLiteral("Borra la clasificación dactiloscópica"));
    auto* izqLabel = new QLabel(QStringLiteral("Clasif. Izquierda:"), toolbar);
    m_clasIzq = new TClasFundEdit(toolbar);
    m_clasIzq->setObjectName(QStringLiteral("edClasIzq"));
    m_clasIzq->setToolTip(QStringLiteral("Clasificación Mano Izquierda"));
    m_gomaIzq = toolButton(toolbar, "sbGomaIzq", QStringLiteral("Borrar"));
    m_gomaIzq->setToolTip(QStringLiteral("Borra la clasificación dactiloscópica"));
    m_reScan = new QPushButton(QStringLiteral("Digitalizar ficha"), toolbar);
    m_reScan->setObjectName(QStringLiteral("btReScan"));
    m_save = new QPushButton(QStringLiteral("&Grabar"), toolbar);
    m_save->setObjectName(QStringLiteral("btSave"));
    m_scannerUI = new QCheckBox(QStringLiteral("Mostrar interface del scanner"), toolbar);
    m_scannerUI->setObjectName(QStringLiteral("cbScannerUI"));
    // Two rows, so that the window's minimum width still shows every control.
    for (QWidget* w : std::initializer_list<QWidget*>{zoomLabel, m_zoom, m_verAncho, m_verAlto, m_print, m_load,
                                                      m_scanConfig, m_reScan, m_save})
        tb->addWidget(w);
    tb->addStretch();
    auto* second = new QHBoxLayout;
    for (QWidget* w :
         std::initializer_list<QWidget*>{derLabel, m_clasDer, m_gomaDer, izqLabel, m_clasIzq, m_gomaIzq, m_scannerUI})
        second->addWidget(w);
    second->addStretch();
    rows->addLayout(tb);
    rows->addLayout(second);
    layout->addWidget(toolbar);

    m_view = new ImageView(this);
    m_view->setObjectName(QStringLiteral("ImgDoc"));
    QPalette pal = m_view->palette();
    pal.setColor(QPalette::Dark, QColor(192, 192, 192)); // silver
    m_view->setPalette(pal);
    layout->addWidget(m_view, 1);

    auto* bar = new QStatusBar(this);
    bar->setObjectName(QStringLiteral("stEstado"));
    bar->setSizeGripEnabled(false);
    m_status = new QLabel(QStringLiteral("Listo"), bar);
    m_status->setMinimumWidth(500);
    m_time = new QLabel(QStringLiteral("Time"), bar);
    m_time->setMinimumWidth(50);
    bar->addWidget(m_status);
    bar->addWidget(m_time);
    layout->addWidget(bar);

    connect(m_zoom, &QSpinBox::valueChanged, this, [this](int v) {
        if (v >= 2 && v <= 200 && m_miFreeSize->isChecked()) m_view->setScalePercent(v);
    });
    connect(m_verAncho, &QToolButton::clicked, this, [this] {
        m_miAdjustWidth->setChecked(true);
        applyViewMode();
    });
    connect(m_verAlto, &QToolButton::clicked, this, [this] {
        m_miAdjustHeight->setChecked(true);
        applyViewMode();
    });
    for (QAction* a : {m_miAdjustWidth, m_miAdjustHeight, m_miFreeSize})
        connect(a, &QAction::triggered, this, [this] { applyViewMode(); });
    connect(m_print, &QToolButton::clicked, this, &TFDigFich::imprimir);
    connect(fojaActual, &QAction::triggered, this, &TFDigFich::imprimir);
    connect(m_load, &QPushButton::clicked, this, [this] { cargarImagen(capture::CardCapture::LoadFrom::Button); });
    connect(cargar, &QAction::triggered, this, [this] { cargarImagen(capture::CardCapture::LoadFrom::Menu); });
    connect(salir, &QAction::triggered, this, &QDialog::reject);
    connect(m_scanConfig, &QToolButton::clicked, this, &TFDigFich::configurarScanner);
    connect(configMenu, &QAction::triggered, this, &TFDigFich::configurarScanner);
    connect(m_gomaDer, &QToolButton::clicked, this, [this] {
        m_clasDer->setClasificacion(QString::fromLatin1(kClasificacionVacia));
        m_clasDer->setCursorPosition(0); // typed again from the thumb
        m_clasDer->setFocus();
        updateSave();
    });
    connect(m_gomaIzq, &QToolButton::clicked, this, [this] {
        m_clasIzq->setClasificacion(QString::fromLatin1(kClasificacionVacia));
        m_clasIzq->setCursorPosition(0); // typed again from the thumb
        m_clasIzq->setFocus();
        updateSave();
    });
    connect(m_clasDer, &QLineEdit::textEdited, this, [this] { updateSave(); });
    connect(m_clasIzq, &QLineEdit::textEdited, this, [this] { updateSave(); });
    connect(m_reScan, &QPushButton::clicked, this, &TFDigFich::escanear);
    connect(m_save, &QPushButton::clicked, this, &TFDigFich::grabar);
    connect(m_scannerUI, &QCheckBox::toggled, this, [this](bool on) {
        m_miScannerUI->setChecked(on);
        m_setup.showScannerDialog = on;
    });
    connect(m_miScannerUI, &QAction::toggled, m_scannerUI, &QCheckBox::setChecked);
    m_zoom->installEventFilter(this);

    chooseFile = [this] {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Cargar imagen"), QStringLiteral("*.TIF"),
                                            QStringLiteral("Tagged Image File Format (*.TIF *.tif);;"
                                                           "Windows BMP (*.BMP *.bmp)"));
    };
    m_view->hide();
}

void TFDigFich::prepare(bool soloLectura, const QString& clasDer, const QString& clasIzq) {
    m_card.SoloLectura = soloLectura;
    m_card.ClasDer = clasDer;
    m_card.ClasIzq = clasIzq;
    m_card.Modificado = false;
    m_card.ArchivoHuella.clear();
    m_view->hide();
}

void TFDigFich::showEvent(QShowEvent* e) {
    m_miImprimir->setVisible(true);
    setMinimumSize(780, 312);
    m_card.prepareShow();
    m_clasDer->setClasificacion(m_card.ClasDer);
    m_clasIzq->setClasificacion(m_card.ClasIzq);
    m_clasDer->setEnabled(!m_card.SoloLectura);
    m_clasIzq->setEnabled(!m_card.SoloLectura);
    updateSave();
    QDialog::showEvent(e);
    applyViewMode();
}

void TFDigFich::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    if (isVisible() && (width() < 780 || height() < 312)) resize(std::max(width(), 780), std::max(height(), 312));
}

void TFDigFich::applyViewMode() {
    BusyScope busy(m_prompter);
    double scale = m_view->scalePercent();
    if (m_miAdjustWidth->isChecked()) scale = m_view->fit(ImageView::Fit::Width);
    if (m_miAdjustHeight->isChecked()) scale = m_view->fit(ImageView::Fit::Height);
    if (m_miFreeSize->isChecked()) {
        scale = m_zoom->value();
        m_view->setScalePercent(scale);
    }
    const QSignalBlocker block(m_zoom);
    m_zoom->setValue(static_cast<int>(std::lround(scale)));
}

void TFDigFich::setStatus(const QString& text) {
    m_status->setText(text);
}

void TFDigFich::updateSave() {
    m_save->setEnabled(m_card.Modificado || m_clasDer->clasificacion() != m_card.ClasDer ||
                       m_clasIzq->clasificacion() != m_card.ClasIzq);
}

void TFDigFich::enterDisabledState() {
    setWindowTitle(QStringLiteral("Digitalización de la ficha dactiloscópica"));
    m_view->hide();
    for (QWidget* w : std::initializer_list<QWidget*>{m_zoom, m_verAncho, m_verAlto, m_print, m_save})
        w->setEnabled(false);
    m_load->setEnabled(true);
    setStatus(QStringLiteral("Digitalizando, por favor espere..."));
}

void TFDigFich::enterEnabledState() {
    for (QWidget* w : std::initializer_list<QWidget*>{m_zoom, m_verAncho, m_verAlto, m_print})
        w->setEnabled(false);
    m_reScan->setEnabled(true);
    m_load->setEnabled(true);
    m_scanConfig->setEnabled(true);
    m_view->show();
    applyViewMode();
    updateSave();
    for (QWidget* w : std::initializer_list<QWidget*>{m_zoom, m_verAncho, m_verAlto, m_print})
        w->setEnabled(true);
    setStatus(QStringLiteral("Listo"));
}

void TFDigFich::showResult() {
    QString error;
    if (!m_view->loadFile(m_card.shownImage(), 1, &error)) {
        m_prompter.error(QStringLiteral("No se pudo mostrar la ficha: ") + error);
        return;
    }
    m_view->show();
    enterEnabledState();
}

void TFDigFich::escanear() {
    if (m_card.SoloLectura || m_card.scanUnderWay()) {
        (void)m_card.escanear(false); // answers with its message
        return;
    }
    const Qt::KeyboardModifiers mods = QApplication::keyboardModifiers();
    const bool testShortcut = (mods & Qt::ShiftModifier) && (mods & Qt::ControlModifier);
    enterDisabledState();
    m_cancel = false;
    m_setup.keepResponsive = [] { QApplication::processEvents(QEventLoop::ExcludeUserInputEvents); };
    m_setup.cancelRequested = [this] { return m_cancel; };
    // The set-up's status lines (straightening, settings the scanner did not take) show here as well.
    const std::function<void(const QString&)> previousStatus = m_setup.status;
    m_setup.status = [this, previousStatus](const QString& text) {
        if (previousStatus) previousStatus(text);
        setStatus(text);
    };
    QElapsedTimer timer;
    timer.start();
    const bool ok = m_card.escanear(testShortcut);
    m_setup.keepResponsive = nullptr;
    m_setup.cancelRequested = nullptr;
    m_setup.status = previousStatus;
    m_time->setText(QString::number(timer.elapsed() / 1000.0, 'f', 1) + QStringLiteral(" s"));
    raise();
    activateWindow();
    if (ok) showResult();
}

void TFDigFich::cargarImagen(capture::CardCapture::LoadFrom from) {
    if (m_card.refuseLoad(from)) return;
    const QString file = chooseFile ? chooseFile() : QString();
    if (file.isEmpty() || !QFileInfo::exists(file)) return;
    CargarArchivo(file, true);
}

bool TFDigFich::CargarArchivo(const QString& file, bool modified) {
    if (!m_card.CargarArchivo(file, modified)) return false;
    showResult();
    return true;
}

void TFDigFich::grabar() {
    if (m_card.grabar(m_clasDer->clasificacion(), m_clasIzq->clasificacion())) accept();
}

void TFDigFich::configurarScanner() {
    if (openScanConfig) openScanConfig();
    if (!m_card.guardarConfiguracion())
        m_prompter.error(QStringLiteral("No se pudo guardar la configuración del scanner en Huella.INI"));
}

void TFDigFich::imprimir() {
    if (m_card.shownImage().isEmpty()) return;
    BusyScope busy(m_prompter);
    (void)printImageFile(this, m_card.shownImage(), 1, 1, false);
}

void TFDigFich::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Space) {
        e->accept();
        escanear();
        return;
    }
    if (e->key() == Qt::Key_Escape && m_card.scanUnderWay()) {
        m_cancel = true;
        return;
    }
    QDialog::keyPressEvent(e);
}

bool TFDigFich::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_zoom && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space) {
        escanear();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TFDigFich::done(int r) {
    if (m_card.scanUnderWay()) {
        m_cancel = true;
        return;
    }
    m_view->hide();
    m_view->clearImage();
    m_card.cerrar();
    QDialog::done(r);
}

} // namespace qev
