#pragma once
// "QEV - Pedido Personal de Antecedentes": the personal requests of the office on the current row of their table:
// the applicant's data and payment slip, the fingerprints (card or livescan, confirmed by the applicant's own
// finger), the documents, the receipt printed or mailed, the security code renewed, sending and the answer.
#include "reports/Layout.h"
#include "requests/ui/RequestCaptures.h"

#include <QDialog>
#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace qev {

class DbEdit;
class DbCheckBox;
class DbLookupCombo;
class DbNavigator;
class Prompter;
class Tdm;

class TFPedP : public QDialog {
    Q_OBJECT
public:
    TFPedP(Tdm& dm, Prompter& prompter, RequestCaptures::Windows capture, QWidget* parent = nullptr);
    ~TFPedP() override;

    // The livescan capture, as in the official window (read-only when asked); answers the archive saved.
    RequestCaptures::LiveScanWindow takeLiveScan;
    // "Confirmación biometrica": the applicant's finger verified; nothing when it was not confirmed.
    struct Identity {
        QString login;
        int verifId = 0;
    };
    std::function<std::optional<Identity>()> confirmIdentity;
    // "&Buscar": the search window over the personal requests, shown modally.
    std::function<void()> search;
    // The receipt to the printer (replaced in tests, which export it).
    std::function<void(const reports::Layout&)> printReceipt;

    // The actions of the buttons, callable from tests.
    void impresionesDactilares();
    void digitalizarFicha();
    void liveScan();
    void documento();
    void enviar();
    void contestacion();
    void comprobante();
    void regenerar();
    void buscar();
    void estadoVorlund();
    // The payment slip field's Enter (also run when the field is left with a code in it).
    void talonEnter();

    DbNavigator* navigator() const { return m_nav; }
    QMenu* fingerMenu() const { return m_pmHuella; }

protected:
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // As in the official window: closing with the row unsaved asks whether to save it.
    void done(int r) override;

private:
    bool beforeNavigatorAction(int button);
    bool saveWithPermission();
    bool viewOnly() const;

    Tdm& m_dm;
    Prompter& m_prompter;
    RequestCaptures m_captures;
    DbNavigator* m_nav;
    DbEdit* m_talon;
    DbEdit* m_pagoDomic;
    QLabel* m_lbPagoDomic;
    DbEdit* m_fPago;
    DbLookupCombo* m_tram;
    DbCheckBox* m_excArt51;
    QPushButton* m_btEstVorlund;
    QPushButton* m_btDig;
    QMenu* m_pmHuella;
    bool m_movingFocus = false;
};

// The receipt mailed to the applicant: the notice, the slip code and the security code.
QString receiptMailText(const QString& cPago, const QString& cSegur);

} // namespace qev
