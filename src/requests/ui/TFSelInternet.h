#pragma once
// "Recuperar Trámite de Internet": the operator gives the slip code and the document of a request filed on the
// central office's web site, and the request becomes a new personal request of this office.
#include <QDialog>

#include <functional>

class QLineEdit;
class QPushButton;

namespace qev {

class Prompter;
class Tdm;

class TFSelInternet : public QDialog {
    Q_OBJECT
public:
    TFSelInternet(Tdm& dm, Prompter& prompter, QWidget* parent = nullptr);

    // Shows the personal request window on the current row of pedp. Called after this window has closed, with the
    // new request either saved or still being inserted because its save was refused (the operator completes it
    // there, or cancels it). Unset: the operator is told the window is not available, and a request that could
    // not be saved is dropped rather than left half-made.
    std::function<void()> showPersonalRequest;

    // "&Consultar": runs the retrieval with the two edits' texts.
    void consultar();

protected:
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    Tdm& m_dm;
    Prompter& m_prompter;
    QLineEdit* m_boleta;
    QLineEdit* m_doc;
    QPushButton* m_consultar;
};

} // namespace qev
