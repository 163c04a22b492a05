#include "platform/SimulatedLiveScan.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>

#include <cmath>
#include <cstring>

namespace qev::platform {

SimulatedLiveScan::SimulatedLiveScan(QString folder, int intervalMs)
    : m_folder(std::move(folder)), m_intervalMs(std::max(0, intervalMs)) {}

SimulatedLiveScan::~SimulatedLiveScan() {
    stopCapturing();
}

int SimulatedLiveScan::initialize() {
    if (!QFileInfo(m_folder).isDir()) return kSmFailed;
    m_initialised = true;
    return 0;
}

int SimulatedLiveScan::scannerCount() {
    return m_initialised ? 1 : kSmNotInitialized;
}

int SimulatedLiveScan::scannerId(int index, QString& id) {
    if (!m_initialised) return kSmNotInitialized;
    if (index != 0) return kSmInvalidArgument;
    id = QString::fromLatin1(kScannerId);
    return int(id.size()) + 1;
}

int SimulatedLiveScan::startCapturing(const QString& scannerId, ImageProc images, ScannerProc scanners) {
    if (!m_initialised) return kSmNotInitialized;
    if (scannerId != QLatin1String(kScannerId)) return kSmInvalidArgument;
    {
        std::lock_guard lock(m_mutex);
        if (m_images) return kSmAlreadyCapturing;
        m_images = std::move(images);
        m_stopping = false;
    }
    if (scanners) scanners(scannerId);
    if (m_intervalMs > 0) m_thread = std::thread([this] { run(); });
    return 0;
}

void SimulatedLiveScan::stopCapturing() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    std::lock_guard lock(m_mutex);
    m_images = nullptr;
}

void SimulatedLiveScan::finalize() {
    stopCapturing();
    m_initialised = false;
}

bool SimulatedLiveScan::push(const LiveScanImage& image) {
    // The procedure is called with the lock held, so stopCapturing cannot return while an image is delivered.
    std::lock_guard lock(m_mutex);
    if (!m_images || m_stopping) return false;
    m_images(image);
    return true;
}

bool SimulatedLiveScan::pushFile(const QString& file, QString* error) {
    auto image = load(file, error);
    if (!image) return false;
    if (!push(*image)) {
        if (error) *error = QStringLiteral("El lector simulado no está capturando");
        return false;
    }
    return true;
}

QStringList SimulatedLiveScan::files() const {
    const QStringList filters{QStringLiteral("*.bmp"),  QStringLiteral("*.png"), QStringLiteral("*.tif"),
                              QStringLiteral("*.tiff"), QStringLiteral("*.jpg"), QStringLiteral("*.pgm")};
    QStringList out;
    const QDir dir(m_folder);
    for (const QFileInfo& fi : dir.entryInfoList(filters, QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase))
        out << fi.absoluteFilePath();
    return out;
}

std::optional<LiveScanImage> SimulatedLiveScan::load(const QString& file, QString* error) {
    QImage img(file);
    if (img.isNull()) {
        if (error) *error = QStringLiteral("No se puede leer la imagen \"%1\"").arg(file);
        return std::nullopt;
    }
    LiveScanImage out;
    out.scannerId = QString::fromLatin1(kScannerId);
    out.width = img.width();
    out.height = img.height();
    const double ppi = img.dotsPerMeterX() * 0.0254;
    // A file without a resolution reads as a screen's (72 or 96); such a file is taken as a livescan's 500 ppi.
    out.ppi = ppi >= kMinFingerPpi ? int(std::lround(ppi)) : 500;
    if (img.format() == QImage::Format_Grayscale16) {
        out.bitsPerPixel = 16;
        out.pixels.resize(qsizetype(out.width) * out.height * 2);
        for (int y = 0; y < out.height; ++y)
            std::memcpy(out.pixels.data() + qsizetype(y) * out.width * 2, img.constScanLine(y), size_t(out.width) * 2);
        return out;
    }
    img = img.convertToFormat(QImage::Format_Grayscale8);
    out.pixels.resize(qsizetype(out.width) * out.height);
    for (int y = 0; y < out.height; ++y)
        std::memcpy(out.pixels.data() + qsizetype(y) * out.width, img.constScanLine(y), size_t(out.width));
    return out;
}

void SimulatedLiveScan::run() {
    const QStringList list = files();
    int next = 0;
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        if (m_wake.wait_for(lock, std::chrono::milliseconds(m_intervalMs), [this] { return m_stopping; })) break;
        if (list.isEmpty()) continue;
        lock.unlock();
        auto image = load(list[next], nullptr);
        next = (next + 1) % int(list.size());
        lock.lock();
        if (image && m_images && !m_stopping) m_images(*image);
    }
}

} // namespace qev::platform
