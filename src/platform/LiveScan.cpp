#include "platform/LiveScan.h"

#include <QFile>
#include <QMetaObject>

#include <cmath>
#include <cstring>

namespace qev::platform {

namespace {

constexpr int kPaletteEntries = 256;
constexpr int kInfoHeaderSize = 40;
constexpr int kFileHeaderSize = 14;
constexpr int kPixelOffset = kFileHeaderSize + kInfoHeaderSize + kPaletteEntries * 4; // 1078
constexpr qint64 kMaxConfigBytes = 64 * 1024;
constexpr int kTargetPpi = 500;

void put16(QByteArray& b, int at, int v) {
    b[at] = char(v & 0xff);
    b[at + 1] = char((v >> 8) & 0xff);
}

void put32(QByteArray& b, int at, qint64 v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xff);
}

} // namespace

QString scanManErrorText(int code) {
    QString description;
    switch (code) {
    case kSmFailed:
        description = QStringLiteral("Failed");
        break;
    case kSmOutOfMemory:
        description = QStringLiteral("Out of memory");
        break;
    case kSmNotInitialized:
        description = QStringLiteral("Not initialized");
        break;
    case kSmArgumentNull:
        description = QStringLiteral("Argument null");
        break;
    case kSmInvalidArgument:
        description = QStringLiteral("Invalid argument");
        break;
    case kSmInvalidParameter:
        description = QStringLiteral("Invalid parameter");
        break;
    case kSmParameterReadOnly:
        description = QStringLiteral("Parameter is read only");
        break;
    case kSmNotCapturing:
        description = QStringLiteral("Not capturing");
        break;
    case kSmAlreadyCapturing:
        description = QStringLiteral("Already capturing");
        break;
    default:
        description = QString::number(code);
        break;
    }
    return QStringLiteral("ScanMan error:\r\tCode = %1\r\tDescription = %2").arg(code).arg(description);
}

std::map<QString, QString> parseScannerConfig(const QByteArray& text) {
    std::map<QString, QString> out;
    for (const QByteArray& raw : text.split('\n')) {
        const QString line = QString::fromLatin1(raw).trimmed();
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) continue;
        out[line.left(eq).trimmed()] = line.mid(eq + 1).trimmed();
    }
    return out;
}

int effectiveResolution(const std::map<QString, QString>& overrides, const QString& scannerId, int reported) {
    auto it = overrides.find(scannerId);
    if (it == overrides.end()) return reported;
    bool ok = false;
    const int v = it->second.toInt(&ok);
    return ok ? v : reported;
}

QByteArray imageToBmp500(const LiveScanImage& image, int ppi, QString* error) {
    auto refuse = [&](const QString& why) {
        if (error) *error = QStringLiteral("Imagen del lector descartada: ") + why;
        return QByteArray();
    };
    if (image.bitsPerPixel != 8)
        return refuse(QStringLiteral("tiene %1 bits por punto y se esperan 8").arg(image.bitsPerPixel));
    if (image.width < kMinFingerSide || image.height < kMinFingerSide || image.width > kMaxFingerSide ||
        image.height > kMaxFingerSide)
        return refuse(QStringLiteral("mide %1 x %2 puntos (se aceptan de %3 a %4 por lado)")
                          .arg(image.width)
                          .arg(image.height)
                          .arg(kMinFingerSide)
                          .arg(kMaxFingerSide));
    if (ppi < kMinFingerPpi || ppi > kMaxFingerPpi)
        return refuse(QStringLiteral("su resolución es de %1 ppp (se aceptan de %2 a %3)")
                          .arg(ppi)
                          .arg(kMinFingerPpi)
                          .arg(kMaxFingerPpi));
    if (image.pixels.size() != qsizetype(image.width) * image.height)
        return refuse(QStringLiteral("trae %1 bytes para %2 x %3 puntos")
                          .arg(image.pixels.size())
                          .arg(image.width)
                          .arg(image.height));

    const double d = double(ppi) / kTargetPpi;
    const int height = std::max(1, int(std::lround(image.height / d)));
    int width = std::max(1, int(std::lround(image.width / d)));
    width = (width + 3) / 4 * 4;
    const qint64 bitmapSize = qint64(kInfoHeaderSize) + kPaletteEntries * 4 + qint64(width) * height;

    QByteArray bmp(int(kFileHeaderSize + bitmapSize), '\0');
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(bmp, 2, bitmapSize + kFileHeaderSize);
    put32(bmp, 10, kPixelOffset);
    put32(bmp, 14, kInfoHeaderSize);
    put32(bmp, 18, width);
    put32(bmp, 22, height);
    put16(bmp, 26, 1);
    put16(bmp, 28, 8);
    put32(bmp, 34, qint64(width) * height);
    put32(bmp, 38, 19685); // 500 pixels per inch in pixels per metre
    put32(bmp, 42, 19685);
    put32(bmp, 46, kPaletteEntries);
    for (int i = 0; i < kPaletteEntries; ++i) {
        const int at = kFileHeaderSize + kInfoHeaderSize + 4 * i;
        bmp[at] = bmp[at + 1] = bmp[at + 2] = char(i);
        bmp[at + 3] = char(i); // the device's own palettes carry the index in the reserved byte
    }
    // Nearest neighbour; the width rounded up to a multiple of 4 may reach past the source's last column, which
    // then repeats.
    const auto* src = reinterpret_cast<const uint8_t*>(image.pixels.constData());
    auto* dst = reinterpret_cast<uint8_t*>(bmp.data()) + kPixelOffset;
    std::vector<int> columns(static_cast<size_t>(width));
    for (int j = 0; j < width; ++j)
        columns[size_t(j)] = std::min(image.width - 1, int(std::lround(d * j)));
    // Rows are counted from the bottom on both sides, as the bitmap stores them.
    for (int i = 0; i < height; ++i) {
        const int fromBottom = std::min(image.height - 1, int(std::lround(d * i)));
        const uint8_t* srow = src + size_t(image.height - 1 - fromBottom) * size_t(image.width);
        uint8_t* drow = dst + size_t(i) * size_t(width);
        for (int j = 0; j < width; ++j)
            drow[j] = srow[columns[size_t(j)]];
    }
    return bmp;
}

TFingerScan::TFingerScan(std::unique_ptr<LiveScanDevice> device, const QString& configFolder, QObject* parent)
    : QObject(parent), m_device(std::move(device)) {
    setObjectName(QStringLiteral("TFingerScan"));
    QFile cfg(configFolder + QStringLiteral("/ScannerConfig.CFG"));
    if (cfg.open(QIODevice::ReadOnly)) m_overrides = parseScannerConfig(cfg.read(kMaxConfigBytes));
}

TFingerScan::~TFingerScan() {
    stop();
}

bool TFingerScan::start(QString* error) {
    m_visible.store(false);
    if (!m_device || m_started) return true;
    const int rc = m_device->initialize();
    if (rc < 0) {
        if (error) *error = scanManErrorText(rc);
        return false;
    }
    m_started = true;
    const int count = m_device->scannerCount();
    for (int i = 0; i < count; ++i) {
        QString id;
        if (m_device->scannerId(i, id) < 0) continue; // a scanner that cannot name itself is skipped
        ++m_scanners;
        (void)m_device->startCapturing(
            id, [this](const LiveScanImage& image) { post(image); },
            [this](const QString& scanner) {
                QMetaObject::invokeMethod(
                    this, [this, scanner] { m_currentScanner = scanner; }, Qt::QueuedConnection);
            });
    }
    return true;
}

void TFingerScan::stop() {
    if (!m_started) return;
    m_started = false;
    m_device->stopCapturing();
    m_device->finalize();
    m_scanners = 0;
}

void TFingerScan::attach(QObject* owner, BeforeScan before, AfterScan after) {
    m_owner = owner;
    m_before = std::move(before);
    m_after = std::move(after);
}

void TFingerScan::detach(QObject* owner) {
    if (owner != m_owner) return;
    m_owner = nullptr;
    m_before = nullptr;
    m_after = nullptr;
}

void TFingerScan::post(const LiveScanImage& image) {
    // Called on the device's thread. At most one image waits for the UI thread; the rest of a burst is dropped,
    // as the window drops images that arrive while it is busy.
    if (!m_visible.load()) return;
    if (m_pending.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this, image] {
            handle(image);
            m_pending.store(false);
        },
        Qt::QueuedConnection);
}

void TFingerScan::handle(const LiveScanImage& image) {
    if (!m_visible.load()) return;
    m_currentScanner = image.scannerId;
    m_currentResolution = effectiveResolution(m_overrides, image.scannerId, image.ppi);
    QString why;
    const QByteArray bmp = imageToBmp500(image, m_currentResolution, &why);
    if (bmp.isEmpty()) {
        Q_EMIT refused(why);
        return;
    }
    // The handlers run from copies: a window that closes while handling an image detaches them.
    const BeforeScan before = m_before;
    if (!before) {
        Q_EMIT refused(QStringLiteral("BeforeScan not Attached"));
        return;
    }
    if (!before()) return;
    const AfterScan after = m_after;
    if (!after) {
        Q_EMIT refused(QStringLiteral("AfterScan not Attached"));
        return;
    }
    after(bmp);
}

} // namespace qev::platform
