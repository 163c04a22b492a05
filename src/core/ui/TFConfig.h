#pragma once
// "Configuración de QEV Regional": the office's settings, the proxy with its enciphered password, the payment-date
// rules and the base addresses of the central office's web site.
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <functional>

namespace qev {

class Tdm;
class Prompter;

class TFConfig : public QDialog {
    Q_OBJECT
public:
    TFConfig(Tdm& dm, Prompter& prompter, QWidget* parent = nullptr);
    // Fills the controls from the settings (done on every show).
    void load();
    // "&Aceptar": checks the proxy entries, saves and closes; false when a check failed.
    bool save();
    // Told after saving, so that the central-state window reloads its proxy settings.
    std::function<void()> proxySettingsChanged;

protected:
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* edit(const char* name);
    Tdm& m_dm;
    Prompter& m_prompter;
    QLineEdit *m_cRegp, *m_xReg, *m_cReg, *m_xToregp, *m_frecRecep, *m_durGuarda, *m_maxContes, *m_urlCert;
    QLineEdit *m_proxyUser, *m_proxyPass, *m_httpProxy, *m_httpPort, *m_maxDiasFecpago;
    QCheckBox *m_nomi, *m_domic, *m_chkDatBol, *m_impAuto, *m_fecPago;
};

} // namespace qev
