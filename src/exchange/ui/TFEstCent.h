#pragma once
// "Estado de los pedidos en QEV Central": the state lists and results of the office's requests at the central
// office, fetched from its web pages or asked for by mail; the text is kept in "EstCent.log" between runs.
#include <QDialog>

class QPlainTextEdit;
class QStatusBar;

namespace qev {

class CentralState;

class TFEstCent : public QDialog {
    Q_OBJECT
public:
    TFEstCent(CentralState& state, QString folder, QWidget* parent = nullptr);

    void clearText();
    void appendLine(const QString& line);
    void setStatus(const QString& text);
    QString text() const;
    // Writes the text to "EstCent.log" (also whenever the window closes).
    void save();

protected:
    void done(int r) override;

private:
    CentralState& m_state;
    QString m_folder;
    QPlainTextEdit* m_memEst;
    QStatusBar* m_stEstado;
};

} // namespace qev
