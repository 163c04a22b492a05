#pragma once
// "Reporte de Actividad ": the activity log of the mail processing, kept in "logp.txt" between runs.
#include <QDialog>
#include <QPlainTextEdit>

namespace qev {

class Prompter;

class TFreporte : public QDialog {
    Q_OBJECT
public:
    TFreporte(QString folder, Prompter& prompter, QWidget* parent = nullptr);
    // Adds a line (the reply handlers and the reception call it whether the window is shown or not).
    void addLine(const QString& line);
    void limpiar();
    QString text() const { return m_text->toPlainText(); }

protected:
    void done(int r) override;

private:
    void save();
    QString m_folder;
    Prompter& m_prompter;
    QPlainTextEdit* m_text;
};

} // namespace qev
