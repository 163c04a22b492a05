#pragma once
// "View Twain Capabilities": the options the chosen source reports, with the value, kind and limits of each.
#include "capture/scan/Scanner.h"

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;

namespace qev {

class Prompter;

class TTwainCaps : public QDialog {
    Q_OBJECT
public:
    TTwainCaps(capture::Scanner& scanner, Prompter& prompter, QWidget* parent = nullptr);
    // "Get Caps": asks the source (opening the first one when none is open) for its options.
    void getCaps();
    void showCapability(int row);
    const std::vector<capture::ScanOption>& records() const { return m_records; }
    // The source to open when none is; empty takes the first.
    QString source;

private:
    QLineEdit* field(const char* name, const QString& label, QWidget* box, QLayout* layout);
    capture::Scanner& m_scanner;
    Prompter& m_prompter;
    std::vector<capture::ScanOption> m_records;
    QListWidget* m_list;
    QLineEdit *m_capability, *m_type, *m_container, *m_small, *m_long, *m_double, *m_bool, *m_text, *m_meaning;
    QLineEdit *m_min, *m_max, *m_step, *m_default, *m_current;
    QGroupBox* m_range;
    QList<QWidget*> m_values; // hidden until they apply
};

} // namespace qev
