#pragma once
// What the livescan window does with files and grades, without widgets: the ten finger images "dedo1.bmp" ..
// "dedo10.bmp" of the office folder, their grades and average, the stored card archive of the request opened into
// them, amputated fingers, and the save that converts the ten images to WSQ with the converter program and packs
// them into "dedos.zip".
#include "capture/ImageLib.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <array>
#include <chrono>
#include <functional>

namespace qev::capture {

inline constexpr int kFingers = 10;
inline constexpr int kNotGraded = -2;
inline constexpr char kAmputatedImage[] = "Amputado.BMP";
inline constexpr char kFingerArchive[] = "dedos.zip";

class LiveScanSession {
public:
    // `folder`: where the work files live (the office folder).
    explicit LiveScanSession(QString folder);

    // The BMP to WSQ converter run once per finger as "PROGRAM BMP WSQ".
    void setConverter(const QString& program) { m_converter = program; }
    void setConverterTimeout(std::chrono::milliseconds t) { m_converterTimeout = t; }

    // Starts a capture for a request: resets the grades and state and deletes the work files of an earlier one.
    void begin(int pedido, int regional, bool soloLectura, bool esOficial);
    int pedido() const { return m_pedido; }
    int regional() const { return m_regional; }
    bool soloLectura() const { return m_soloLectura; }
    bool esOficial() const { return m_esOficial; }

    QString folder() const { return m_folder; }
    QString file(const QString& name) const;
    QString fingerBmp(int finger) const;
    QString fingerWsq(int finger) const;
    bool hasImage(int finger) const;
    // "z" + c_ped + "." + c_reg for an official request, "zp" + ... for a personal one.
    QString storedArchiveName() const;
    // Whether the request has a stored archive (its name in any letter case).
    bool hasStoredArchive() const;

    // Unpacks the stored archive when there is one and decodes its ten fingers into the finger images; false with
    // the operator's text on failure. `progress` receives 1..10.
    bool openStored(const std::function<void(int)>& progress, QString* error);

    // Grades.
    void resetGrades();
    void setGrade(int finger, int code, int quality);
    int code(int finger) const { return m_codes[index(finger)]; }
    int quality(int finger) const { return m_qualities[index(finger)]; }
    // Integer mean over the graded fingers; 9 when none is.
    int averageQuality() const;
    std::array<std::pair<int, int>, kFingers> grades() const;

    // Writes an image delivered by the device (an 8-bit BMP) as the finger's image with the flips of the settings.
    bool storeImage(int finger, const QByteArray& bmp, bool flipVertical, bool flipHorizontal, QString* error);
    // Copies an image file (an external program's output) as the finger's image.
    bool copyImage(int finger, const QString& source, QString* error);
    // Puts the amputated-finger image in place of the finger's; the grade stays as it was.
    bool amputate(int finger, QString* error);
    bool amputatedImageExists() const;
    // Deletes the ten images and resets the grades.
    void clear();
    // Deletes the finger images and the WSQ files left by an unfinished save.
    void deleteWorkFiles();

    bool modificado() const { return m_modificado; }
    void setModificado(bool m) { m_modificado = m; }
    void restartChronometer() { m_chrono.restart(); }
    qint64 elapsedMs() const { return m_chrono.elapsed(); }

    struct SaveResult {
        bool ok = false;
        int finger = 0;  // the finger that stopped the save, 0 when none did
        QString status;  // the status bar's text
        QString archive; // the archive written, when ok
    };
    // Converts the ten images (the converter runs for all fingers at once) and packs them into "dedos.zip"; the
    // WSQ files are deleted afterwards. `progress` receives each finger as it is done, with its status text.
    SaveResult save(const std::function<void(int, const QString&)>& progress);
    const QString& archivoZip() const { return m_archivoZip; }

private:
    static int index(int finger) { return std::clamp(finger, 1, kFingers) - 1; }

    QString m_folder;
    QString m_converter;
    std::chrono::milliseconds m_converterTimeout{30000};
    int m_pedido = 0;
    int m_regional = 0;
    bool m_soloLectura = false;
    bool m_esOficial = true;
    bool m_modificado = false;
    QString m_archivoZip;
    std::array<int, kFingers> m_codes{};
    std::array<int, kFingers> m_qualities{};
    QElapsedTimer m_chrono;
};

} // namespace qev::capture
