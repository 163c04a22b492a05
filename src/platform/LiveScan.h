#pragma once
// The livescan device port. A scanner manager lists its scanners and pushes finger images at any moment, from any
// thread, each with the resolution it was taken at. TFingerScan, the program's one wrapper around the manager,
// turns every image into an 8-bit grey BMP at 500 ppi and hands it to the window that listens, on the UI thread.
// Images arriving while no capture window listens, or while the last one is still being handled, are dropped.
#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>

namespace qev::platform {

// One image as the device delivers it: rows top first, width * bytesPerPixel bytes each, no padding.
struct LiveScanImage {
    QString scannerId;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 8;
    int ppi = 0;
    QByteArray pixels;
};

// Result codes of the scanner manager; 0 and above succeed.
inline constexpr int kSmFailed = -1;
inline constexpr int kSmOutOfMemory = -2;
inline constexpr int kSmNotInitialized = -3;
inline constexpr int kSmArgumentNull = -4;
inline constexpr int kSmInvalidArgument = -5;
inline constexpr int kSmInvalidParameter = -10;
inline constexpr int kSmParameterReadOnly = -11;
inline constexpr int kSmNotCapturing = -100;
inline constexpr int kSmAlreadyCapturing = -101;

// "ScanMan error:\r\tCode = N\r\tDescription = ..." for a negative code.
QString scanManErrorText(int code);

// Images the wrapper refuses: smaller sides, other depths and resolutions outside this range never reach a window.
inline constexpr int kMinFingerSide = 64;
inline constexpr int kMaxFingerSide = 4000;
inline constexpr int kMinFingerPpi = 250;
inline constexpr int kMaxFingerPpi = 2000;

// The scanner manager's contract.
class LiveScanDevice {
public:
    using ImageProc = std::function<void(const LiveScanImage&)>;
    using ScannerProc = std::function<void(const QString& scannerId)>;

    virtual ~LiveScanDevice() = default;
    virtual int initialize() = 0;
    // Negative on error, treated as no scanner.
    virtual int scannerCount() = 0;
    // Negative when the identifier of that scanner cannot be read.
    virtual int scannerId(int index, QString& id) = 0;
    // The procedures may be called from any thread until stopCapturing returns.
    virtual int startCapturing(const QString& scannerId, ImageProc images, ScannerProc scanners) = 0;
    virtual void stopCapturing() = 0;
    virtual void finalize() = 0;
};

// "ScannerConfig.CFG": lines scanner-id=pixels-per-inch; blank lines and lines without "=" are skipped.
std::map<QString, QString> parseScannerConfig(const QByteArray& text);

// Resolution of an image: the value listed for its scanner when it is a whole number, else the reported one.
int effectiveResolution(const std::map<QString, QString>& overrides, const QString& scannerId, int reported);

// Checks an image against the limits above and resamples it to 500 ppi by nearest neighbour (new height =
// round(h / d), new width = round(w / d) rounded up to a multiple of 4, d = ppi / 500); answers an 8-bit BMP with a
// grey palette, bottom row first. Empty, with the reason in `error`, for an image it refuses.
QByteArray imageToBmp500(const LiveScanImage& image, int ppi, QString* error);

class TFingerScan : public QObject {
    Q_OBJECT
public:
    // Asked before an image is handed on: false drops it (the window is busy).
    using BeforeScan = std::function<bool()>;
    // Given the image as a BMP at 500 ppi.
    using AfterScan = std::function<void(const QByteArray& bmp)>;

    // `configFolder` holds "ScannerConfig.CFG", read when present. A null device means no livescan device.
    TFingerScan(std::unique_ptr<LiveScanDevice> device, const QString& configFolder, QObject* parent = nullptr);
    ~TFingerScan() override;

    // Initialises the manager, lists the scanners and starts capturing on each; false with the "ScanMan error"
    // text when initialising fails. Scanners whose identifier cannot be read are skipped.
    bool start(QString* error);
    // Stops capturing and releases the manager; also done on destruction.
    void stop();

    void setWindowVisible(bool visible) { m_visible.store(visible); }
    bool windowVisible() const { return m_visible.load(); }
    void attach(QObject* owner, BeforeScan before, AfterScan after);
    // Detaches the handlers only when `owner` is the one attached.
    void detach(QObject* owner);

    QString currentScanner() const { return m_currentScanner; }
    int currentResolution() const { return m_currentResolution; }
    int scannerCount() const { return m_scanners; }
    const std::map<QString, QString>& resolutions() const { return m_overrides; }
    LiveScanDevice* device() const { return m_device.get(); }

Q_SIGNALS:
    // An image was refused (wrong size, depth or resolution), with the operator's text.
    void refused(const QString& why);

private:
    void post(const LiveScanImage& image);
    void handle(const LiveScanImage& image);

    std::unique_ptr<LiveScanDevice> m_device;
    std::map<QString, QString> m_overrides;
    std::atomic<bool> m_visible{false};
    std::atomic<bool> m_pending{false};
    bool m_started = false;
    int m_scanners = 0;
    QObject* m_owner = nullptr;
    BeforeScan m_before;
    AfterScan m_after;
    QString m_currentScanner;
    int m_currentResolution = 0;
};

} // namespace qev::platform
