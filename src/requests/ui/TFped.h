#pragma once
// "QEV - Pedido Oficial de Antecedentes": the official requests of the office, typed, browsed and edited on the
// current row of the request table; their card (scanned or from the livescan device), documents and aliases; the
// letter to the organisation; sending; the central office's state and answer.
#include "reports/Layout.h"
#include "requests/ui/RequestCaptures.h"

#include <QDialog>
#include <functional>

class QLabel;
class QMenu;
class QPushButton;

namespace qev {

class DbCheckBox;
class DbEdit;
class DbLookupCombo;
class DbNavigator;
class Prompter;
class TFBusqDel;
class TFsup;
class Tdm;

class TFped : public QDialog {
    Q_OBJECT
public:
    // The capture windows the request hands its images to; the program has one of each.
    using CaptureWindows = RequestCaptures::Windows;
    TFped(Tdm& dm, Prompter& prompter, CaptureWindows capture, QWidget* parent = nullptr);
    ~TFped() override;

    // The livescan capture of the request: shows the livescan window for the request (read-only when asked) with
    // both classifications in and out; answers the archive it saved, empty when nothing was taken.
    RequestCaptures::LiveScanWindow takeLiveScan;
    // "&Buscar": the search window over the official requests, shown modally.
    std::function<void()> search;
    // "&Oficio": the print preview of the letter (replaced in tests, which export it).
    std::function<void(const reports::Layout&)> previewLetter;

    // The actions of the buttons and menu entries, callable from tests.
    void digitalizarFicha();
    void liveScan();
    void impDactilares();
    void documentacion();
    void enviar();
    void contestacion();
    void supuestos();
    void buscar();
    void oficio();
    void estadoVorlund();
    void elegirDelito();
    void elegirOrganismo();
    void dejarCodigoDelito();

    DbNavigator* navigator() const { return m_nav; }
    TFsup& aliasesWindow() { return *m_sup; }
    TFBusqDel& offenceWindow() { return *m_busqDel; }
    QMenu* fingerMenu() const { return m_pmHuella; }
    int workCounter() const { return m_captures.counter(); }
    // Shows or hides the central-state button; the main window decides from the office's settings.
    void setVorlundVisible(bool on);

protected:
    void showEvent(QShowEvent* e) override;
    // Closing with the request unsaved asks whether to save it: a row left in edit behind a closed window would
    // hold up the reception of its replies.
    void done(int r) override;

private:
    bool beforeNavigatorAction(int button);

    Tdm& m_dm;
    Prompter& m_prompter;
    RequestCaptures m_captures;
    TFsup* m_sup;
    TFBusqDel* m_busqDel;
    DbNavigator* m_nav;
    DbLookupCombo* m_carped;
    QLabel* m_carpedLabel;
    DbCheckBox* m_excArt51;
    DbEdit* m_tdel;
    DbLookupCombo* m_org;
    QPushButton* m_btDelito;
    QPushButton* m_btDig;
    QPushButton* m_btEstVorlund;
    QMenu* m_pmHuella;
};

} // namespace qev
