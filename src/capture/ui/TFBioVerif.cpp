#include "capture/ui/TFBioVerif.h"

#include "capture/FingerImages.h"
#include "capture/ui/ImageView.h"
#include "core/Settings.h"
#include "exchange/BioQEV.h"
#include "platform/LiveScan.h"
#include "platform/LiveScanPrograms.h"
#include "util/AppDir.h"
#include "util/Prompter.h"
#include "util/TCrono.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include <optional>
#include <span>

namespace qev {

namespace {

const QString kWaiting = QStringLiteral("Verificando identidad, por favor espere...");

QImage toImage(const capture::Raster& r) {
    const bool rgb = r.channels == 3;
    QImage image(r.width, r.height, rgb ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    for (int y = 0; y < r.height; ++y)
        std::copy_n(r.row(y), r.rowBytes(), image.scanLine(y));
    return image;
}

std::string localPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

TFBioVerif::TFBioVerif(platform::TFingerScan& scanner, Verifier verifier, Settings& settings, const AppDir& folder,
                       Prompter& prompter, QWidget* parent)
    : QDialog(parent), m_scanner(scanner), m_verifier(std::move(verifier)), m_settings(settings),
      m_folder(folder.folder()), m_prompter(prompter) {
    setObjectName(QStringLiteral("TFBioVerif"));
    setWindowTitle(QStringLiteral("Identificación Biometrica"));
    resize(380, 480);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_img = new ImageView(this);
    m_img->setObjectName(QStringLiteral("img"));
    m_img->setBackgroundRole(QPalette::Base);
    QPalette pal = m_img->palette();
    pal.setColor(QPalette::Base, Qt::white);
    m_img->setPalette(pal);
    layout->addWidget(m_img, 1);

    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("pnUsuario"));
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(8, 6, 8, 6);
    auto* label = new QLabel(QStringLiteral("Usuario:"), panel);
    label->setObjectName(QStringLiteral("lbUsuario"));
    m_edAppID = new QLineEdit(panel);
    m_edAppID->setObjectName(QStringLiteral("edAppID"));
    label->setBuddy(m_edAppID);
    m_btCap = new QPushButton(QStringLiteral("&Capturar"), panel);
    m_btCap->setObjectName(QStringLiteral("btCap"));
    // Enter belongs to the user field (on release), never to a default button.
    m_btCap->setAutoDefault(false);
    m_btCap->setDefault(false);
    row->addWidget(label);
    row->addWidget(m_edAppID, 1);
    row->addWidget(m_btCap);
    layout->addWidget(panel);

    m_sbStat = new QStatusBar(this);
    m_sbStat->setObjectName(QStringLiteral("sbStat"));
    m_sbStat->setSizeGripEnabled(false);
    layout->addWidget(m_sbStat);

    m_edAppID->installEventFilter(this);
    connect(m_btCap, &QPushButton::clicked, this, &TFBioVerif::capturar);
    // An image the device delivered but the scanner wrapper refused is said in the status bar.
    connect(&m_scanner, &platform::TFingerScan::refused, this, [this](const QString& why) {
        if (m_listening) setStatus(why);
    });
}

TFBioVerif::~TFBioVerif() {
    listen(false);
}

void TFBioVerif::listen(bool on) {
    if (on == m_listening) return;
    m_listening = on;
    if (on) {
        m_scanner.attach(
            this, [this] { return !m_busy; }, [this](const QByteArray& bmp) { afterScan(bmp); });
        m_scanner.setWindowVisible(true);
    } else {
        m_scanner.setWindowVisible(false);
        m_scanner.detach(this);
    }
}

void TFBioVerif::changeEvent(QEvent* e) {
    if (e->type() == QEvent::ActivationChange) listen(isVisible() && isActiveWindow());
    QDialog::changeEvent(e);
}

void TFBioVerif::prepareConfirmation(const QString& caption) {
    setWindowTitle(caption);
    m_img->clearImage();
    m_result = 0;
    m_user.clear();
}

void TFBioVerif::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    m_edAppID->setFocus();
}

void TFBioVerif::hideEvent(QHideEvent* e) {
    listen(false);
    QDialog::hideEvent(e);
}

bool TFBioVerif::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_edAppID && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (event->type() == QEvent::KeyRelease && !key->isAutoRepeat()) capturar();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFBioVerif::setStatus(const QString& text) {
    m_sbStat->showMessage(text);
    m_sbStat->repaint();
}

void TFBioVerif::setBusy(bool busy) {
    if (busy) {
        m_busy = true;
        m_btCap->setEnabled(false);
        m_edAppID->setReadOnly(true);
        m_prompter.setBusy(true);
        return;
    }
    // Input held back while the call or the capture program ran reaches the window now, while it still refuses.
    QCoreApplication::processEvents();
    m_busy = false;
    m_btCap->setEnabled(true);
    m_edAppID->setReadOnly(false);
    m_prompter.setBusy(false);
}

void TFBioVerif::showFinger(const capture::Raster& finger) {
    m_img->setImage(toImage(finger));
    m_img->fit(ImageView::Fit::Page);
}

bool TFBioVerif::verify(const capture::Raster& finger) {
    if (m_busy) return false;
    std::string why;
    const QString text = wsqBase64Text(capture::bitmapToWsq(finger, &why));
    if (text.isEmpty()) {
        m_prompter.error(QStringLiteral("No se pudo comprimir la huella: ") + QString::fromStdString(why));
        return false;
    }
    setBusy(true);
    m_result = 0;
    m_user = m_edAppID->text();
    TCrono crono;
    crono.start();
    setStatus(kWaiting);
    Result<int> answer =
        m_verifier ? m_verifier(m_user, text) : Result<int>(fail("El servicio biométrico no está disponible"));
    crono.stop();
    if (answer) {
        m_result = *answer;
        setStatus(QStringLiteral("Resultado: ") + QString::number(m_result) + QStringLiteral(" - Tiempo: ") +
                  QString::number(crono.elapsed()) + QStringLiteral(" ms."));
    }
    setBusy(false);
    if (!answer) {
        m_prompter.error(QString::fromStdString(answer.error()));
        return true;
    }
    if (m_result > 0) accept();
    return true;
}

void TFBioVerif::afterScan(const QByteArray& bmp) {
    if (m_busy) return;
    capture::Raster device;
    std::string why;
    if (!capture::fingerBitmapFromBmp(
            std::span(reinterpret_cast<const uint8_t*>(bmp.constData()), static_cast<size_t>(bmp.size())), device,
            &why)) {
        setStatus(QStringLiteral("No se pudo leer la imagen del scanner: ") + QString::fromStdString(why));
        return;
    }
    capture::Raster finger;
    if (!capture::copyWithFlips(m_settings.onlyIfS(QStringLiteral("flip_ver")),
                                m_settings.onlyIfS(QStringLiteral("flip_hor")), device, finger)) {
        setStatus(QStringLiteral("No se pudo leer la imagen del scanner: la imagen está vacía"));
        return;
    }
    showFinger(finger);
    (void)verify(finger);
}

void TFBioVerif::capturar() {
    if (m_busy) return;
    const platform::LiveScanIni ini = platform::readLiveScanIni(m_folder);
    const auto program = platform::readLiveScanProgram(ini.pathLiveScan, ini.liveScanIni);
    const QString exe = program ? platform::programPath(ini.pathLiveScan, program->exeCaptura) : QString();
    if (exe.isEmpty()) {
        m_prompter.error(QStringLiteral("Error: no hay programa de captura configurado en \"%1\"")
                             .arg(platform::programPath(ini.pathLiveScan, ini.liveScanIni)));
        return;
    }
    if (!QFileInfo(exe).isFile()) {
        m_prompter.error(platform::missingProgramText(exe));
        return;
    }
    const QString huella = platform::programPath(ini.pathLiveScan, QStringLiteral("huella.bmp"));
    // A picture left by an earlier run must never be taken for this one.
    if (QFileInfo::exists(huella) && !QFile::remove(huella)) {
        m_prompter.error(QStringLiteral("Error: no se pudo eliminar el archivo \"%1\"").arg(huella));
        return;
    }
    setBusy(true);
    const platform::ProgramRun run =
        platform::runProgramAndWait(exe, {m_edAppID->text()}, std::chrono::seconds(ini.programTimeoutSeconds));
    // A program that ended with an error code may still have taken the finger; one that crashed, ran too long or
    // never started has not.
    const bool ended = run.ok() || run.outcome == platform::ProgramRun::Outcome::ErrorExit;
    std::optional<capture::Raster> finger;
    QString error;
    if (ended && QFileInfo::exists(huella)) {
        capture::Raster r;
        std::string why;
        if (capture::loadPage(localPath(huella), 1, r, &why))
            finger = std::move(r);
        else
            error = QString::fromStdString(why);
    } else if (!run.ok()) {
        error = run.message;
    }
    setBusy(false);
    if (!error.isEmpty()) {
        m_prompter.error(error);
        return;
    }
    if (!finger) return; // the operator left the capture program without a finger
    showFinger(*finger);
    (void)verify(*finger);
}

} // namespace qev
