#pragma once
// "Identificación Biometrica": one finger of the operator, from the livescan device or the external single-finger
// capture program, compressed to WSQ and sent with the user typed in the window to the central office's biometric
// service; a positive answer closes the window with OK. One verification runs at a time: images, the button and
// Enter that arrive while one runs are refused.
#include "capture/ImageLib.h"
#include "util/Result.h"

#include <QDialog>
#include <QString>

#include <functional>

class QLineEdit;
class QPushButton;
class QStatusBar;

namespace qev {

class AppDir;
class ImageView;
class Prompter;
class Settings;

namespace platform {
class TFingerScan;
}

class TFBioVerif : public QDialog {
    Q_OBJECT
public:
    // Asks whether the finger (WSQ as Base64 text) is the user's; answers the verification number, above 0 when it
    // is, or the error text of the service.
    using Verifier = std::function<Result<int>(const QString& appId, const QString& wsqBase64)>;

    // `folder` holds "LiveScan.INI"; the settings give the flips of device images (`flip_ver`, `flip_hor`).
    TFBioVerif(platform::TFingerScan& scanner, Verifier verifier, Settings& settings, const AppDir& folder,
               Prompter& prompter, QWidget* parent = nullptr);
    ~TFBioVerif() override;

    // The last verification: its number (0 before any and after a failed call) and the user it was asked for.
    // (QDialog::result() stays the modal result.)
    int verificationResult() const { return m_result; }
    // Before showing it to confirm a request's applicant: the caption, an empty picture and no verification yet.
    void prepareConfirmation(const QString& caption);
    const QString& user() const { return m_user; }
    bool verifying() const { return m_busy; }

    // "&Capturar" and Enter in the user field: the external capture program with the user text as its argument,
    // then the verification of the "huella.bmp" it leaves in the livescan folder.
    void capturar();
    // An image of the device (an 8-bit BMP at 500 ppi): flipped as the settings say, shown and verified.
    void afterScan(const QByteArray& bmp);
    // Verifies a finger bitmap; false when it was refused (another verification runs) or not sent.
    bool verify(const capture::Raster& finger);

protected:
    void changeEvent(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void listen(bool on);
    void setBusy(bool busy);
    void setStatus(const QString& text);
    void showFinger(const capture::Raster& finger);

    platform::TFingerScan& m_scanner;
    Verifier m_verifier;
    Settings& m_settings;
    QString m_folder;
    Prompter& m_prompter;
    ImageView* m_img;
    QLineEdit* m_edAppID;
    QPushButton* m_btCap;
    QStatusBar* m_sbStat;
    bool m_listening = false;
    bool m_busy = false;
    int m_result = 0;
    QString m_user;
};

} // namespace qev
