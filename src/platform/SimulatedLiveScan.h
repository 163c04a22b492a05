#pragma once
// A livescan device without hardware, for tests, training and the demo office: one scanner that delivers the
// finger images of a folder (BMP, PNG, TIFF...), one after another at a fixed interval on its own thread, or one
// at a time on demand from any thread.
#include "platform/LiveScan.h"

#include <QStringList>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace qev::platform {

class SimulatedLiveScan final : public LiveScanDevice {
public:
    static constexpr char kScannerId[] = "SIMULADO-1";

    // `intervalMs` 0 delivers only on demand.
    explicit SimulatedLiveScan(QString folder, int intervalMs = 0);
    ~SimulatedLiveScan() override;

    int initialize() override;
    int scannerCount() override;
    int scannerId(int index, QString& id) override;
    int startCapturing(const QString& scannerId, ImageProc images, ScannerProc scanners) override;
    void stopCapturing() override;
    void finalize() override;

    // Delivers one image now, on the calling thread; false when the device is not capturing.
    bool push(const LiveScanImage& image);
    // Delivers the image of a file; false with the reason when it cannot be read or the device is not capturing.
    bool pushFile(const QString& file, QString* error);
    // The image files of the folder, by name.
    QStringList files() const;

    // Reads an image file as the device would deliver it: 8-bit grey (16-bit grey files stay 16-bit), the file's
    // resolution or 500 ppi when it states none.
    static std::optional<LiveScanImage> load(const QString& file, QString* error);

private:
    void run();

    QString m_folder;
    int m_intervalMs = 0;
    bool m_initialised = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    ImageProc m_images;
    std::thread m_thread;
};

} // namespace qev::platform
