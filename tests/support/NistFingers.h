#pragma once
// Ten NIST fingers of different sizes as the livescan device delivers them (8-bit grey at 500 ppi); the file
// names end in WIDTHxHEIGHT.raw.
#include "platform/LiveScan.h"
#include "platform/SimulatedLiveScan.h"

#include <QFile>
#include <QRegularExpression>

namespace qev::test {

inline constexpr const char* kNistFingerFiles[10] = {
    "more/sivv_card0001_01_545x498.raw", "more/sivv_card0002_01_506x551.raw",
    "more/sivv_card0003_05_372x388.raw", "more/sivv_card0004_02_456x503.raw",
    "more/wvu3_r3_400x375.raw",          "more/wvu3_r5_400x375.raw",
    "more/wvu3_r7_400x375.raw",          "more/wvu3_r13_800x475.raw",
    "an2k_valid12_512x512.raw",          "nist_finger_500x500.raw"};

inline platform::LiveScanImage nistFinger(int i) {
    const QString name = QString::fromLatin1(kNistFingerFiles[i]);
    const auto m = QRegularExpression(QStringLiteral("_(\\d+)x(\\d+)\\.raw$")).match(name);
    platform::LiveScanImage image;
    image.scannerId = QString::fromLatin1(platform::SimulatedLiveScan::kScannerId);
    image.width = m.captured(1).toInt();
    image.height = m.captured(2).toInt();
    image.ppi = 500;
    QFile f(QStringLiteral(QEV_FINGERPRINT_DIR "/") + name);
    if (f.open(QIODevice::ReadOnly)) image.pixels = f.readAll();
    return image;
}

} // namespace qev::test
