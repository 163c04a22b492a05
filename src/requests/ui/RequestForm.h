#pragma once
// Builds the data-bound controls of a request window over its request table: edits, lookup lists with their
// clear buttons, check boxes and labels, each named as the window's code and tests refer to it.
#include <QString>

#include <utility>

class QGridLayout;
class QGroupBox;
class QLabel;
class QWidget;

namespace qev {

class Dataset;
class DbCheckBox;
class DbEdit;
class DbLookupCombo;
class Tdm;

class RequestForm {
public:
    RequestForm(Tdm& dm, Dataset& requests) : m_dm(dm), m_requests(requests) {}

    DbEdit* edit(QWidget* parent, const char* name, const char* field, bool upperCase = false) const;
    // A list over lookup table `table`: stores `key`, shows `text`.
    DbLookupCombo* lookup(QWidget* parent, const char* name, const char* field, const char* table, const char* key,
                          const char* text) const;
    DbCheckBox* check(QWidget* parent, const char* name, const char* field, const char* caption,
                      const char* hint = nullptr) const;
    static QLabel* label(QWidget* parent, const char* text, const char* hint = nullptr);
    // A titled group of the window with a compact grid for its controls.
    static std::pair<QGroupBox*, QGridLayout*> group(QWidget* parent, const char* name, const char* title);
    // The list and its clear button side by side in one cell.
    static QWidget* withClear(DbLookupCombo* combo, const char* clearName, QWidget* parent);

private:
    Tdm& m_dm;
    Dataset& m_requests;
};

} // namespace qev
