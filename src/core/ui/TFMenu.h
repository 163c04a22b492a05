#pragma once
// The main window: the hub from which every other window opens, the switch that stops automatic mail reception,
// the log-in at start and the clean-up and purge at close.
#include <QCheckBox>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <functional>
#include <map>
#include <optional>

class QAction;

namespace qev {

class Tdm;
class Prompter;

class TFMenu : public QMainWindow {
    Q_OBJECT
public:
    TFMenu(Tdm& dm, Prompter& prompter, QWidget* parent = nullptr);

    // Windows built by other modules register their opener by class name ("TFped", "TFConsulta", ...); an entry
    // whose window is not registered stays disabled.
    void registerWindow(const QString& name, std::function<void()> open);
    bool hasWindow(const QString& name) const { return m_windows.count(name) != 0; }

    // Log-in at start; replaced in tests. Answers whether access was granted.
    std::function<bool()> askAccess;
    // Ends the program (a refused log-in, a sorting of the tables that failed).
    std::function<void()> quitProgram;
    // The biometric log-in at start, with a livescan device and personal requests: shows the identification window
    // modally and answers the verified user with the verification number, nothing when the operator was not
    // verified (the program then ends). Without it the password log-in applies.
    struct BiometricLogin {
        QString user;
        int verifId = 0;
    };
    std::function<std::optional<BiometricLogin>()> identifyOperator;
    // Shows or hides the central-state button of the official request window (a branch office has it).
    std::function<void(bool)> vorlundVisible;
    // Run at close: the purge window and the purge.
    std::function<void()> purgeAtClose;

    // Status bar text, written only while the window is visible.
    void setStatusText(const QString& text);
    // The actions of the buttons and menu entries, callable from tests.
    void pedidosOficiales();
    void pedidosPersonales();
    void internet();
    void recibir();
    void configuracion();
    void ordenamiento();
    void runGuarded(const QString& window, const QString& busyMessage);
    // The steps run when the window is first shown.
    void prepareOnShow();
    void refreshOfficeLine();

    QString versionText() const;
    bool loggedIn() const { return m_loggedIn; }

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void buildMenus();
    QWidget* buildCentral();
    void open(const QString& name);
    void updateEnabling();
    QString notConfiguredPersonal() const;

    Tdm& m_dm;
    Prompter& m_prompter;
    std::map<QString, std::function<void()>> m_windows;
    std::map<QString, QList<QObject*>> m_entries; // controls that open each window
    QLabel* m_lblBio = nullptr;
    QLabel* m_lbReg = nullptr;
    QLabel* m_version = nullptr;
    QCheckBox* m_cbDesRecibir = nullptr;
    QAction* m_informeMensual = nullptr;
    QAction* m_miUsuario = nullptr;
    QAction* m_administrarUsu = nullptr;
    QAction* m_mailCheck = nullptr;
    QAction* m_inbox = nullptr;
    bool m_shownOnce = false;
    bool m_loggedIn = false;
    bool m_closing = false;
};

// The spelled-out name of the office type shown under the title.
QString officeTypeSubtitle();

} // namespace qev
