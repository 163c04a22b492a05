#pragma once
// "Captura de huellas con LiveScan": the ten flat fingers of a person, one by one from the livescan device or from
// the external capture programs, graded as they arrive (on worker threads), with retakes, amputated fingers, both
// hands' classifications and the save into "dedos.zip".
#include "capture/LiveScanSession.h"
#include "platform/LiveScanPrograms.h"

#include <QDialog>
#include <QElapsedTimer>

#include <array>
#include <functional>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class QToolButton;

namespace qev {

class ImageView;
class Prompter;
class TClasFundEdit;
class TFCalidad;

namespace platform {
class TFingerScan;
}

// The settings the window reads each time it opens.
struct LiveScanOptions {
    bool autoAvance = false;
    bool flipHor = false;
    bool flipVer = false;
    QString liveScanFolder;
    platform::LiveScanProgram program; // the chosen external program; blank names when none
    int programTimeoutSeconds = 300;
};

class TFLiveScanPlano : public QDialog {
    Q_OBJECT
public:
    // `scan` may be null (no device). The session's folder is the office folder.
    TFLiveScanPlano(capture::LiveScanSession& session, platform::TFingerScan* scan, Prompter& prompter,
                    QWidget* parent = nullptr);
    ~TFLiveScanPlano() override;

    // The request windows' contract: prepares, opens the stored card, shows modally; true on OK with both
    // classifications. The caller then finds the archive at session().archivoZip().
    bool TomarHuellas(int pedido, int regional, bool soloLectura, bool esOficial, QString& clasIzq, QString& clasDer);
    // Everything TomarHuellas does before showing the window; false (the message shown) when the stored card
    // cannot be opened.
    bool prepare(int pedido, int regional, bool soloLectura, bool esOficial, const QString& clasIzq,
                 const QString& clasDer);

    capture::LiveScanSession& session() { return m_session; }
    int dedoActual() const { return m_dedoActual; }
    QString statusText() const;
    QString fingerText() const;

    // The actions of the buttons, keys and menu entries, callable from tests.
    void selectFinger(int finger);
    void nextFinger();
    void previousFinger();
    void capturar();
    void capturarDedo();
    void limpiar();
    bool grabar();
    void salir();
    void amputar(int finger);
    void calidad();
    void imprimirFicha();
    // Shows an image file as the current finger's and grades it.
    void showFinger(const QString& file);
    // A BMP from the device, as the scanner wrapper hands it on.
    void afterScan(const QByteArray& bmp);
    // Runs the event loop until every grading has come back.
    void waitForGrades();
    int pendingGrades() const { return m_pending; }

    // Set by the program.
    std::function<LiveScanOptions()> options;
    std::function<void()> openConfig;
    // Shows one finger modally; replaced in tests. The default opens the finger viewer.
    std::function<void(const QString& file, const QString& caption)> viewFinger;
    // Previews the assembled card with its caption; without it the menu entry is disabled.
    std::function<void(const QString& file, const QString& caption)> printCard;
    TFCalidad* calidadWindow() const { return m_calidad; }

Q_SIGNALS:
    void gradesSettled();

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void done(int r) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void setStatus(const QString& text);
    void showGradeLabels(int finger);
    void gradeAsync(int finger);
    void applyGrade(int finger, unsigned generation, int code, int quality);
    void loadViewer(int finger, const QString& file);
    void fingerReleased(int finger);
    bool handleKey(QKeyEvent* e, bool release);
    void setBusy(bool busy);
    LiveScanOptions currentOptions() const;
    platform::ProgramRun runExternal(const LiveScanOptions& o, const QString& name, const QStringList& args);

    capture::LiveScanSession& m_session;
    platform::TFingerScan* m_scan;
    Prompter& m_prompter;
    std::array<ImageView*, capture::kFingers> m_views{};
    std::array<QFrame*, capture::kFingers> m_rects{};
    std::array<unsigned, capture::kFingers> m_generation{};
    std::array<QAction*, capture::kFingers> m_amp{};
    QLabel *m_lbCodTram, *m_lblHuella, *m_lblProm, *m_status, *m_finger;
    TClasFundEdit *m_clasDer, *m_clasIzq;
    QToolButton *m_gomaDer, *m_gomaIzq;
    QPushButton *m_capturar, *m_clear, *m_grabar, *m_calidadBtn, *m_salir;
    QAction *m_miConfig, *m_miImprimir;
    QTimer* m_croAvance;
    TFCalidad* m_calidad = nullptr;
    QElapsedTimer m_click;
    bool m_clickValid = false;
    int m_dedoActual = 1;
    int m_lastShown = 0; // the finger last taken, until the operator chooses another
    int m_pending = 0;
    bool m_busy = false;
    bool m_saving = false;
};

} // namespace qev
