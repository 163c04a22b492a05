#pragma once
// "Selección del delito": searches the offence table by code, law, article, subsection and words of the
// description, and puts the offence chosen (never a category) into the current official request.
#include <QDialog>

class QLineEdit;

namespace qev {

class DbGrid;
class Prompter;
class Tdm;

class TFBusqDel : public QDialog {
    Q_OBJECT
public:
    TFBusqDel(Tdm& dm, Prompter& prompter, QWidget* parent = nullptr);

    void buscar();
    // "&Aceptar": closes with OK on an offence; a category or an empty list is refused.
    void aceptar();
    DbGrid* grid() const { return m_grid; }

protected:
    void showEvent(QShowEvent* e) override;
    void done(int r) override;

private:
    Tdm& m_dm;
    Prompter& m_prompter;
    QLineEdit *m_code, *m_law, *m_article, *m_subsection, *m_description;
    DbGrid* m_grid;
};

} // namespace qev
