#include "capture/ui/TFLiveScanPlano.h"

#include "capture/FingerImages.h"
#include "capture/LiveScanCard.h"
#include "capture/quality/QualityTexts.h"
#include "capture/ui/ImageView.h"
#include "capture/ui/TClasFundEdit.h"
#include "capture/ui/TFCalidad.h"
#include "capture/ui/TFVerDedo.h"
#include "platform/LiveScan.h"
#include "util/Prompter.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QThreadPool>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <optional>

namespace qev {

namespace {

QString fingerName(int finger) {
    return QString::fromStdString(quality::fingerName(finger));
}

QString qualityText(int code, int value) {
    return QString::fromStdString(quality::qualityText(code, value));
}

QString qualityWord(int value) {
    return QString::fromStdString(quality::qualityWord(value));
}

constexpr int kDoubleClickMs = 500;

// The small window shown while the operator waits, closed when it goes out of scope: a bar over the ten fingers
// (opening a stored card, the save) or a line of text (the card print).
class WaitWindow {
public:
    enum class Kind { Progress, Information };

    WaitWindow(QWidget* parent, Kind kind, const QString& caption, const QString& text = QString())
        : m_window(new QDialog(parent, Qt::Tool)) {
        m_window->setWindowTitle(caption);
        auto* l = new QVBoxLayout(m_window);
        if (kind == Kind::Progress) {
            m_window->setObjectName(QStringLiteral("TFProgreso"));
            m_bar = new QProgressBar(m_window);
            m_bar->setObjectName(QStringLiteral("Prog"));
            m_bar->setRange(1, capture::kFingers);
            l->addWidget(m_bar);
            m_window->resize(320, 60);
        } else {
            m_window->setObjectName(QStringLiteral("TInfoWnd"));
            m_label = new QLabel(text, m_window);
            m_label->setObjectName(QStringLiteral("lblInfo"));
            l->addWidget(m_label);
        }
        m_window->show();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    ~WaitWindow() { delete m_window; }
    void set(int n) {
        if (m_bar) m_bar->setValue(n);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    void setText(const QString& text) {
        if (m_label) m_label->setText(text);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    void hide() { m_window->hide(); }

private:
    QDialog* m_window;
    QProgressBar* m_bar = nullptr;
    QLabel* m_label = nullptr;
};

} // namespace

TFLiveScanPlano::TFLiveScanPlano(capture::LiveScanSession& session, platform::TFingerScan* scan, Prompter& prompter,
                                 QWidget* parent)
    : QDialog(parent), m_session(session), m_scan(scan), m_prompter(prompter) {
    setObjectName(QStringLiteral("TFLiveScanPlano"));
    setWindowTitle(QStringLiteral("Captura de huellas con LiveScan"));
    resize(1000, 700);

    auto* menuBar = new QMenuBar(this);
    QMenu* archivo = menuBar->addMenu(QStringLiteral("&Archivo"));
    m_miConfig = archivo->addAction(QStringLiteral("&Configuración"));
    m_miConfig->setObjectName(QStringLiteral("miConfiguracion"));
    m_miImprimir = archivo->addAction(QStringLiteral("&Imprimir ficha"));
    m_miImprimir->setObjectName(QStringLiteral("miImprimirFicha"));
    QAction* miSalir = archivo->addAction(QStringLiteral("&Salir"));
    miSalir->setObjectName(QStringLiteral("miSalir"));
    QMenu* amputaciones = menuBar->addMenu(QStringLiteral("A&mputaciones"));
    for (int n = 1; n <= capture::kFingers; ++n) {
        QAction* a = amputaciones->addAction(fingerName(n));
        a->setObjectName(QStringLiteral("amp_d%1").arg(n - 1));
        connect(a, &QAction::triggered, this, [this, n] { amputar(n); });
        m_amp[size_t(n - 1)] = a;
    }
    connect(m_miConfig, &QAction::triggered, this, [this] {
        if (openConfig) openConfig();
    });
    connect(m_miImprimir, &QAction::triggered, this, [this] { imprimirFicha(); });
    connect(miSalir, &QAction::triggered, this, [this] { reject(); });

    auto* grid = new QGridLayout;
    grid->setSpacing(6);
    for (int n = 1; n <= capture::kFingers; ++n) {
        auto* rect = new QFrame(this);
        rect->setObjectName(QStringLiteral("rect%1").arg(n));
        rect->setFrameShape(QFrame::Box);
        rect->setLineWidth(3);
        rect->setAutoFillBackground(true);
        QPalette rectPal = rect->palette();
        rectPal.setColor(QPalette::WindowText, rectPal.color(QPalette::Button));
        rect->setPalette(rectPal);
        auto* view = new ImageView(rect);
        view->setObjectName(QStringLiteral("dedo%1").arg(n));
        view->setFrameShape(QFrame::NoFrame);
        view->setFocusPolicy(Qt::StrongFocus);
        QPalette pal = view->palette();
        pal.setColor(QPalette::Window, Qt::white);
        pal.setColor(QPalette::Base, Qt::white);
        view->setPalette(pal);
        view->setBackgroundRole(QPalette::Base);
        view->installEventFilter(this);
        view->viewport()->installEventFilter(this);
        if (view->widget()) view->widget()->installEventFilter(this);
        auto* rl = new QVBoxLayout(rect);
        rl->setContentsMargins(4, 4, 4, 4);
        auto* caption = new QLabel(fingerName(n), rect);
        QPalette captionPal = caption->palette();
        captionPal.setColor(QPalette::WindowText, palette().color(QPalette::WindowText));
        caption->setPalette(captionPal);
        caption->setAlignment(Qt::AlignCenter);
        rl->addWidget(caption);
        rl->addWidget(view, 1);
        grid->addWidget(rect, n <= 5 ? 0 : 1, (n - 1) % 5);
        m_views[size_t(n - 1)] = view;
        m_rects[size_t(n - 1)] = rect;
    }

    auto* panel = new QHBoxLayout;
    m_lbCodTram = new QLabel(this);
    m_lbCodTram->setObjectName(QStringLiteral("lbCodTram"));
    QFont f = m_lbCodTram->font();
    f.setBold(true);
    m_lbCodTram->setFont(f);
    panel->addWidget(m_lbCodTram);
    panel->addSpacing(12);
    auto addClas = [&](const char* label, const char* edit, const char* goma, TClasFundEdit*& e, QToolButton*& g) {
        auto* l = new QLabel(QString::fromUtf8(label), this);
        e = new TClasFundEdit(this);
        e->setObjectName(QString::fromLatin1(edit));
        e->setFixedWidth(80);
        g = new QToolButton(this);
        g->setObjectName(QString::fromLatin1(goma));
        g->setText(QStringLiteral("⌫"));
        g->setToolTip(QStringLiteral("Borra la clasificación dactiloscópica"));
        connect(g, &QToolButton::clicked, this, [e] { e->setClasificacion(QStringLiteral("_____")); });
        panel->addWidget(l);
        panel->addWidget(e);
        panel->addWidget(g);
        panel->addSpacing(12);
    };
    addClas("Clasificación Derecha:", "edClasDer", "sbGomaDer", m_clasDer, m_gomaDer);
    addClas("Clasificación Izquierda:", "edClasIzq", "sbGomaIzq", m_clasIzq, m_gomaIzq);
    panel->addStretch(1);
    auto* group = new QGroupBox(QStringLiteral(" Calidad NFIQ "), this);
    auto* gl = new QVBoxLayout(group);
    m_lblHuella = new QLabel(group);
    m_lblHuella->setObjectName(QStringLiteral("lblHuella"));
    m_lblProm = new QLabel(group);
    m_lblProm->setObjectName(QStringLiteral("lblProm"));
    gl->addWidget(m_lblHuella);
    gl->addWidget(m_lblProm);
    group->setMinimumWidth(260);
    panel->addWidget(group);

    auto* buttons = new QHBoxLayout;
    auto button = [&](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    m_capturar = button("btCapturar", "&Capturar");
    m_clear = button("btClear", "&Limpiar");
    m_grabar = button("btGrabar", "&Grabar");
    m_calidadBtn = button("btCalidad", "&Calidad");
    m_salir = button("btSalir", "&Salir");
    buttons->addStretch(1);
    connect(m_capturar, &QPushButton::clicked, this, [this] { capturar(); });
    connect(m_clear, &QPushButton::clicked, this, [this] { limpiar(); });
    connect(m_grabar, &QPushButton::clicked, this, [this] { (void)grabar(); });
    connect(m_calidadBtn, &QPushButton::clicked, this, [this] { calidad(); });
    connect(m_salir, &QPushButton::clicked, this, [this] { salir(); });

    auto* status = new QStatusBar(this);
    status->setSizeGripEnabled(false);
    m_status = new QLabel(status);
    m_status->setObjectName(QStringLiteral("stPanel0"));
    m_status->setMinimumWidth(400);
    m_finger = new QLabel(status);
    m_finger->setObjectName(QStringLiteral("stPanel1"));
    m_finger->setMinimumWidth(100);
    status->addWidget(m_status, 1);
    status->addPermanentWidget(m_finger);

    auto* v = new QVBoxLayout(this);
    v->setMenuBar(menuBar);
    v->addLayout(grid, 1);
    v->addLayout(panel);
    v->addLayout(buttons);
    v->addWidget(status);

    // An image the device delivered but the scanner wrapper refused is said in the status bar.
    if (m_scan)
        connect(m_scan, &platform::TFingerScan::refused, this, [this](const QString& why) {
            if (isVisible()) setStatus(why);
        });

    m_croAvance = new QTimer(this);
    m_croAvance->setObjectName(QStringLiteral("croAvance"));
    m_croAvance->setInterval(100);
    m_croAvance->setSingleShot(true);
    connect(m_croAvance, &QTimer::timeout, this, [this] {
        if (m_dedoActual > 9)
            m_grabar->setFocus();
        else
            nextFinger();
    });

    m_calidad = new TFCalidad(this);

    viewFinger = [this](const QString& file, const QString& caption) {
        TFVerDedo viewer(this);
        viewer.setWindowTitle(caption);
        if (viewer.imgHuella()->loadFile(file)) viewer.exec();
    };
    selectFinger(1);
}

TFLiveScanPlano::~TFLiveScanPlano() {
    if (m_scan) {
        m_scan->setWindowVisible(false);
        m_scan->detach(this);
    }
}

LiveScanOptions TFLiveScanPlano::currentOptions() const {
    return options ? options() : LiveScanOptions{};
}

QString TFLiveScanPlano::statusText() const {
    return m_status->text();
}

QString TFLiveScanPlano::fingerText() const {
    return m_finger->text();
}

void TFLiveScanPlano::setStatus(const QString& text) {
    m_status->setText(text);
}

void TFLiveScanPlano::setBusy(bool busy) {
    m_busy = busy;
    m_prompter.setBusy(busy);
}

bool TFLiveScanPlano::prepare(int pedido, int regional, bool soloLectura, bool esOficial, const QString& clasIzq,
                              const QString& clasDer) {
    m_session.begin(pedido, regional, soloLectura, esOficial);
    for (unsigned& g : m_generation)
        ++g; // gradings still running belong to the last capture
    m_clasDer->setClasificacion(clasDer);
    m_clasIzq->setClasificacion(clasIzq);
    for (QWidget* w : std::initializer_list<QWidget*>{m_clasDer, m_clasIzq, m_gomaDer, m_gomaIzq})
        w->setEnabled(!soloLectura);
    m_capturar->setEnabled(!soloLectura);
    m_clear->setEnabled(!soloLectura);
    for (QAction* a : m_amp)
        a->setEnabled(!soloLectura);
    m_grabar->setEnabled(!soloLectura);
    m_miImprimir->setEnabled(bool(printCard));
    m_miImprimir->setToolTip(printCard ? QString() : QStringLiteral("No disponible todavía en esta versión"));
    m_miConfig->setEnabled(bool(openConfig));
    setStatus(QString());
    m_lblHuella->clear();
    m_lblProm->clear();

    if (m_session.hasStoredArchive()) {
        WaitWindow progress(this, WaitWindow::Kind::Progress, QStringLiteral("Descomprimiendo ficha..."));
        QString error;
        if (!m_session.openStored([&](int n) { progress.set(n); }, &error)) {
            progress.hide();
            m_prompter.error(error, QStringLiteral("Error"));
            return false;
        }
    }
    for (int n = 1; n <= capture::kFingers; ++n) {
        if (m_session.hasImage(n)) {
            loadViewer(n, m_session.fingerBmp(n));
            gradeAsync(n);
        } else {
            m_views[size_t(n - 1)]->clearImage();
        }
    }
    m_session.setModificado(false);
    selectFinger(1);
    return true;
}

bool TFLiveScanPlano::TomarHuellas(int pedido, int regional, bool soloLectura, bool esOficial, QString& clasIzq,
                                   QString& clasDer) {
    if (!prepare(pedido, regional, soloLectura, esOficial, clasIzq, clasDer)) return false;
    if (exec() != QDialog::Accepted) return false;
    clasDer = m_clasDer->clasificacion();
    clasIzq = m_clasIzq->clasificacion();
    return true;
}

void TFLiveScanPlano::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    m_lbCodTram->setText(QStringLiteral("Pedido: %1 - Regional: %2").arg(m_session.pedido()).arg(m_session.regional()));
    if (m_scan) {
        m_scan->attach(
            this, [this] { return !m_busy; }, [this](const QByteArray& bmp) { afterScan(bmp); });
        m_scan->setWindowVisible(true);
    }
    m_views[size_t(m_dedoActual - 1)]->setFocus();
}

void TFLiveScanPlano::hideEvent(QHideEvent* e) {
    if (m_scan) {
        m_scan->setWindowVisible(false);
        m_scan->detach(this);
    }
    QDialog::hideEvent(e);
}

void TFLiveScanPlano::done(int r) {
    m_croAvance->stop();
    for (unsigned& g : m_generation)
        ++g;
    for (int n = 1; n <= capture::kFingers; ++n)
        QFile::remove(m_session.fingerBmp(n));
    QDialog::done(r);
}

void TFLiveScanPlano::closeEvent(QCloseEvent* e) {
    // The title bar's close button is "&Salir".
    e->ignore();
    salir();
}

void TFLiveScanPlano::selectFinger(int finger) {
    if (finger < 1 || finger > capture::kFingers) return;
    auto paint = [this](int n, const QColor& c) {
        QFrame* rect = m_rects[size_t(n - 1)];
        QPalette pal = rect->palette();
        pal.setColor(QPalette::WindowText, c);
        rect->setPalette(pal);
    };
    paint(m_dedoActual, palette().color(QPalette::Button));
    m_dedoActual = finger;
    paint(finger, Qt::red);
    m_finger->setText(fingerName(finger));
    if (isVisible()) m_views[size_t(finger - 1)]->setFocus();
}

void TFLiveScanPlano::nextFinger() {
    selectFinger(m_dedoActual >= capture::kFingers ? 1 : m_dedoActual + 1);
}

void TFLiveScanPlano::previousFinger() {
    selectFinger(m_dedoActual <= 1 ? capture::kFingers : m_dedoActual - 1);
}

void TFLiveScanPlano::loadViewer(int finger, const QString& file) {
    ImageView* view = m_views[size_t(finger - 1)];
    QString error;
    if (!view->loadFile(file, 1, &error)) {
        view->clearImage();
        return;
    }
    view->fit(ImageView::Fit::Page);
}

void TFLiveScanPlano::showFinger(const QString& file) {
    const int n = m_dedoActual;
    m_lastShown = n;
    loadViewer(n, file);
    m_session.setModificado(true);
    gradeAsync(n);
}

void TFLiveScanPlano::gradeAsync(int finger) {
    const size_t i = size_t(finger - 1);
    const unsigned generation = ++m_generation[i];
    // The image is read here, so that a retake replacing the file cannot change what the worker grades.
    std::vector<uint8_t> bytes;
    {
        QFile f(m_session.fingerBmp(finger));
        if (f.open(QIODevice::ReadOnly)) {
            const QByteArray b = f.readAll();
            bytes.assign(b.begin(), b.end());
        }
    }
    ++m_pending;
    QPointer<TFLiveScanPlano> self(this);
    QThreadPool::globalInstance()->start([self, finger, generation, bytes = std::move(bytes)] {
        capture::Raster raster; // stays empty (graded "no image") when the file could not be read
        (void)capture::fingerBitmapFromBmp(bytes, raster, nullptr);
        int value = 0;
        const int code = capture::gradeImage(raster, value);
        QMetaObject::invokeMethod(
            qApp,
            [self, finger, generation, code, value] {
                if (self) self->applyGrade(finger, generation, code, value);
            },
            Qt::QueuedConnection);
    });
}

void TFLiveScanPlano::applyGrade(int finger, unsigned generation, int code, int value) {
    --m_pending;
    if (generation == m_generation[size_t(finger - 1)]) {
        m_session.setGrade(finger, code, value);
        // The labels show the finger just taken (also once the window has moved on by itself) or the one chosen.
        if (finger == m_dedoActual || finger == m_lastShown)
            showGradeLabels(finger);
        else {
            const int avg = m_session.averageQuality();
            m_lblProm->setText(QStringLiteral("Promedio: %1 (%2)").arg(avg).arg(qualityWord(avg)));
        }
    }
    if (m_pending == 0) Q_EMIT gradesSettled();
}

void TFLiveScanPlano::showGradeLabels(int finger) {
    if (m_session.code(finger) == capture::kNotGraded) {
        m_lblHuella->clear();
        m_lblProm->clear();
        return;
    }
    m_lblHuella->setText(QStringLiteral("Huella: ") + qualityText(m_session.code(finger), m_session.quality(finger)));
    const int avg = m_session.averageQuality();
    m_lblProm->setText(QStringLiteral("Promedio: %1 (%2)").arg(avg).arg(qualityWord(avg)));
}

void TFLiveScanPlano::waitForGrades() {
    if (m_pending == 0) return;
    QEventLoop loop;
    connect(this, &TFLiveScanPlano::gradesSettled, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void TFLiveScanPlano::afterScan(const QByteArray& bmp) {
    if (m_session.soloLectura() || m_busy) return;
    setBusy(true);
    const LiveScanOptions o = currentOptions();
    QString error;
    if (m_session.storeImage(m_dedoActual, bmp, o.flipVer, o.flipHor, &error)) {
        showFinger(m_session.fingerBmp(m_dedoActual));
        if (o.autoAvance) m_croAvance->start();
    } else {
        setStatus(error);
    }
    setBusy(false);
}

platform::ProgramRun TFLiveScanPlano::runExternal(const LiveScanOptions& o, const QString& name,
                                                  const QStringList& args) {
    const QString path = platform::programPath(o.liveScanFolder, name);
    return platform::runProgramAndWait(path.isEmpty() ? o.liveScanFolder : path, args,
                                       std::chrono::seconds(o.programTimeoutSeconds));
}

namespace {

// A program that ended by itself left whole files, whatever its exit code; one that was killed or crashed may
// have left a file half written.
bool outputUsable(const platform::ProgramRun& run) {
    return run.ok() || run.outcome == platform::ProgramRun::Outcome::ErrorExit;
}

bool sameFolder(const QString& a, const QString& b) {
    const QString ca = QFileInfo(a).canonicalFilePath(), cb = QFileInfo(b).canonicalFilePath();
    return !ca.isEmpty() && ca == cb;
}

} // namespace

void TFLiveScanPlano::capturar() {
    if (m_session.soloLectura() || m_busy) return;
    m_croAvance->stop();
    const LiveScanOptions o = currentOptions();
    // An office whose livescan folder is its own folder gets the program's files in place: they are this
    // capture's own (an earlier person's were deleted when the window was prepared).
    const bool inPlace = sameFolder(o.liveScanFolder, m_session.folder());
    setBusy(true);
    // The program's output of an earlier person must never be taken for this one's.
    if (!inPlace)
        for (int n = 1; n <= capture::kFingers; ++n)
            QFile::remove(QDir(o.liveScanFolder).filePath(QStringLiteral("dedo%1.bmp").arg(n)));
    const platform::ProgramRun run =
        runExternal(o, o.program.exeLiveScan,
                    {QStringLiteral("Ped: %1 Reg: %2").arg(m_session.pedido()).arg(m_session.regional())});
    if (!run.ok()) {
        setStatus(run.message);
        if (run.outcome == platform::ProgramRun::Outcome::Missing) m_prompter.error(run.message, QString());
        if (!outputUsable(run)) {
            setBusy(false);
            return;
        }
    }
    for (int n = 1; n <= capture::kFingers; ++n) {
        const QString produced = QDir(o.liveScanFolder).filePath(QStringLiteral("dedo%1.bmp").arg(n));
        if (!QFileInfo(produced).isFile()) continue;
        selectFinger(n);
        QString error;
        if (inPlace || m_session.copyImage(n, produced, &error))
            showFinger(m_session.fingerBmp(n));
        else
            setStatus(error);
    }
    setBusy(false);
}

void TFLiveScanPlano::capturarDedo() {
    if (m_session.soloLectura() || m_busy) return;
    // The finger is fixed before the program runs: timers go on while it is waited for.
    m_croAvance->stop();
    const int finger = m_dedoActual;
    const LiveScanOptions o = currentOptions();
    const QString huella = QDir(o.liveScanFolder).filePath(QStringLiteral("huella.bmp"));
    setBusy(true);
    QFile::remove(huella);
    const platform::ProgramRun run = runExternal(o, o.program.exeCaptura, {fingerName(finger)});
    setBusy(false);
    if (!run.ok()) {
        setStatus(run.message);
        if (run.outcome == platform::ProgramRun::Outcome::Missing) m_prompter.error(run.message, QString());
        if (!outputUsable(run)) return;
    }
    if (!QFileInfo(huella).isFile()) return;
    selectFinger(finger);
    QString error;
    if (m_session.copyImage(finger, huella, &error))
        showFinger(m_session.fingerBmp(finger));
    else
        setStatus(error);
}

void TFLiveScanPlano::limpiar() {
    if (m_busy) return;
    m_croAvance->stop();
    m_lastShown = 0;
    for (unsigned& g : m_generation)
        ++g;
    m_session.clear();
    for (int n = 1; n <= capture::kFingers; ++n) {
        selectFinger(n);
        m_views[size_t(n - 1)]->clearImage();
    }
    m_lblHuella->clear();
    m_lblProm->clear();
    selectFinger(1);
    setStatus(QStringLiteral("OK"));
}

void TFLiveScanPlano::amputar(int finger) {
    if (m_session.soloLectura() || m_busy) return;
    if (!m_session.amputatedImageExists()) {
        m_prompter.error(QStringLiteral("Falta el archivo \"Amputado.BMP\""), QStringLiteral("Error"));
        return;
    }
    setBusy(true);
    ++m_generation[size_t(finger - 1)]; // a grading still running for the replaced image is dropped
    selectFinger(finger);
    QString error;
    if (m_session.amputate(finger, &error))
        loadViewer(finger, m_session.fingerBmp(finger));
    else
        setStatus(error);
    setBusy(false);
}

bool TFLiveScanPlano::grabar() {
    if (m_busy || m_saving || m_session.soloLectura()) return false;
    m_saving = true;
    setBusy(true);
    waitForGrades();
    if (m_session.averageQuality() > 3 &&
        m_prompter.confirm(QStringLiteral("La ficha del trámite es de baja calidad\r¿Desea volver a tomar las "
                                          "impresiones?"),
                           QStringLiteral("Atención"))) {
        setBusy(false);
        m_saving = false;
        return false;
    }
    capture::LiveScanSession::SaveResult result;
    {
        WaitWindow progress(this, WaitWindow::Kind::Progress, QStringLiteral("Grabando la ficha..."));
        result = m_session.save([&](int n, const QString& status) {
            progress.set(n);
            setStatus(status);
        });
    }
    setBusy(false);
    m_saving = false;
    if (!result.ok) {
        if (result.finger > 0) selectFinger(result.finger);
        setStatus(result.status);
        return false;
    }
    setStatus(result.status);
    accept();
    return true;
}

void TFLiveScanPlano::salir() {
    if (m_busy) return;
    if (m_session.modificado() && !m_session.soloLectura() &&
        m_prompter.confirm(QStringLiteral("La huella ha sido modificada. ¿Desea guardarla?"),
                           QStringLiteral("Advertencia"))) {
        // A failed save keeps the window and its images; the operator sees why in the status bar.
        (void)grabar();
        return;
    }
    reject();
}

void TFLiveScanPlano::calidad() {
    waitForGrades();
    (void)m_calidad->report(QStringLiteral("Calidad de la huella"), m_session.grades(), m_session.averageQuality());
}

void TFLiveScanPlano::imprimirFicha() {
    if (!printCard) return;
    for (int n = 1; n <= capture::kFingers; ++n) {
        if (!m_session.hasImage(n)) {
            m_prompter.error(QStringLiteral("Error: falta el dedo ") + fingerName(n), QString());
            return;
        }
    }
    const QString templ = m_session.file(QLatin1String(capture::kCardFormFile));
    if (!QFileInfo(templ).isFile()) {
        m_prompter.error(QStringLiteral("Error: no existe la ficha completa \"fmodelo.bemepe\""), QString());
        return;
    }
    setBusy(true);
    std::optional<WaitWindow> info;
    info.emplace(this, WaitWindow::Kind::Information, QStringLiteral("Generación de la ficha completa"),
                 QStringLiteral("Por favor, espera mientras se genera la imágen..."));
    const QString card = m_session.file(QStringLiteral("%1_%2.bmp").arg(m_session.pedido()).arg(m_session.regional()));
    std::array<std::string, capture::kFingers> fingers;
    for (int n = 1; n <= capture::kFingers; ++n)
        fingers[size_t(n - 1)] = QFile::encodeName(m_session.fingerBmp(n)).toStdString();
    const auto written = capture::LiveScanCard::assembleFiles(QFile::encodeName(templ).toStdString(), fingers,
                                                              QFile::encodeName(card).toStdString());
    setBusy(false);
    if (!written) {
        info.reset();
        m_prompter.error(QString::fromStdString(written.error()), QString());
        QFile::remove(card);
        return;
    }
    info->setText(QStringLiteral("Guardando..."));
    printCard(card, QStringLiteral("Ped:%1 Reg:%2").arg(m_session.pedido()).arg(m_session.regional()));
    info.reset();
    QFile::remove(card);
}

void TFLiveScanPlano::fingerReleased(int finger) {
    const bool isDouble = m_clickValid && m_click.elapsed() < kDoubleClickMs;
    m_click.restart();
    m_clickValid = true;
    if (isDouble) {
        m_clickValid = false;
        const QString file = m_session.fingerBmp(finger);
        if (QFileInfo(file).isFile() && viewFinger)
            viewFinger(file, fingerName(finger) + QStringLiteral(" - NFIQ: ") +
                                 qualityText(m_session.code(finger), m_session.quality(finger)));
        selectFinger(finger);
        return;
    }
    m_lastShown = 0;
    selectFinger(finger);
    showGradeLabels(finger);
}

bool TFLiveScanPlano::handleKey(QKeyEvent* e, bool release) {
    const int key = e->key();
    const bool shift = e->modifiers() & Qt::ShiftModifier;
    const bool handled = key == Qt::Key_Space || key == Qt::Key_Tab || key == Qt::Key_Backtab ||
                         key == Qt::Key_Return || key == Qt::Key_Enter;
    if (!handled) return false;
    // Acted on when the key is let go, so that a held key does not run through the fingers.
    if (!release || e->isAutoRepeat()) return true;
    m_lastShown = 0;
    if (key == Qt::Key_Backtab || (key == Qt::Key_Tab && shift))
        previousFinger();
    else if (key == Qt::Key_Space || key == Qt::Key_Tab)
        nextFinger();
    else
        capturarDedo();
    return true;
}

void TFLiveScanPlano::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        // Escape is "&Salir": modified fingers are never thrown away without the question.
        salir();
        return;
    }
    if (!handleKey(e, false)) QDialog::keyPressEvent(e);
}

void TFLiveScanPlano::keyReleaseEvent(QKeyEvent* e) {
    if (!handleKey(e, true)) QDialog::keyReleaseEvent(e);
}

bool TFLiveScanPlano::focusNextPrevChild(bool /*next*/) {
    return false; // Tab moves between fingers, not between controls
}

bool TFLiveScanPlano::eventFilter(QObject* watched, QEvent* event) {
    for (int n = 1; n <= capture::kFingers; ++n) {
        ImageView* view = m_views[size_t(n - 1)];
        if (watched != view && watched != view->viewport() && watched != view->widget()) continue;
        if (event->type() == QEvent::MouseButtonRelease) {
            fingerReleased(n);
            return true;
        }
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)
            return handleKey(static_cast<QKeyEvent*>(event), event->type() == QEvent::KeyRelease);
        break;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace qev
