#pragma once
// "Configuración de envío": how the office sends (web service, Outlook, waiting for each send) and its mail
// account (POP3, SMTP, the forwarding account), loaded from the sender and the account when opened and saved with
// "&Aceptar".
#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QTabWidget;

namespace qev {

class Tdm;
class Prompter;

class TFConfigMail : public QDialog {
    Q_OBJECT
public:
    TFConfigMail(Tdm& dm, Prompter& prompter, QWidget* parent = nullptr);

    // Fills every control from the current values and shows the window modally.
    int openWindow();
    // Fills the controls without showing the window.
    void load();
    // "&Aceptar": saves; false when the settings could not be written (the window stays open).
    bool save();

private:
    void showPages(bool visible);

    Tdm& m_dm;
    Prompter& m_prompter;
    QCheckBox* m_outlook;
    QCheckBox* m_webService;
    QCheckBox* m_waitFinish;
    QTabWidget* m_pages;
    QLineEdit* m_popServer;
    QLineEdit* m_popPort;
    QLineEdit* m_account;
    QLineEdit* m_password;
    QLineEdit* m_email;
    QLineEdit* m_smtpServer;
    QLineEdit* m_smtpPort;
    QComboBox* m_authType;
    QLineEdit* m_smtpAccount;
    QLineEdit* m_smtpPassword;
    QLineEdit* m_emailForward;
};

} // namespace qev
