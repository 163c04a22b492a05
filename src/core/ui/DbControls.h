#pragma once
// Controls bound to a field of a Dataset. They show the current row, follow every move of the cursor (whichever
// window moved it), and write to the edit buffer only while the dataset is in Edit or Insert state: typing in
// Browse state does nothing until the operator presses edit or insert.
#include "core/Dataset.h"
#include "core/DatasetModel.h"
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTableView>
#include <QToolButton>
#include <QWidget>
#include <array>
#include <functional>

namespace qev {

class Prompter;

class DbEdit : public QLineEdit {
    Q_OBJECT
public:
    DbEdit(Dataset& ds, QString field, QWidget* parent = nullptr);
    // Letters typed are stored in upper case.
    void setUpperCase(bool on) { m_upper = on; }
    // Never editable (a field the program fills); such an edit is also skipped by Tab.
    void setAlwaysReadOnly(bool on);
    const QString& field() const { return m_field; }
    // False (and the reason said) when the text cannot be stored in the field, e.g. an impossible date.
    bool textAccepted();

private:
    void load();
    void store();
    QPointer<Dataset> m_ds;
    QString m_field;
    bool m_upper = false;
    bool m_alwaysReadOnly = false;
    bool m_loading = false;
    bool m_pending = false; // the text typed could not be stored yet
};

class DbMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    DbMemo(Dataset& ds, QString field, QWidget* parent = nullptr);

private:
    void load();
    QPointer<Dataset> m_ds;
    QString m_field;
    bool m_loading = false;
};

// A check box storing "True"/"False" in a logical field.
class DbCheckBox : public QCheckBox {
    Q_OBJECT
public:
    DbCheckBox(Dataset& ds, QString field, const QString& caption, QWidget* parent = nullptr);
    // Shows the field only: clicks change nothing and Tab passes it by.
    void setReadOnlyBox(bool on);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    void load();
    bool m_readOnly = false;
    QPointer<Dataset> m_ds;
    QString m_field;
    bool m_loading = false;
};

// A combo box listing the rows of a lookup table: stores the key field, shows the description.
class DbLookupCombo : public QComboBox {
    Q_OBJECT
public:
    DbLookupCombo(Dataset& ds, QString field, Dataset& lookup, QString lookupKey, QString lookupText,
                  QWidget* parent = nullptr);
    void reloadItems();
    // A small button beside the list that empties the field (the data layer refuses it outside Edit/Insert).
    QToolButton* makeClearButton(const QString& objectName, QWidget* parent);

private:
    void load();
    QPointer<Dataset> m_ds;
    QString m_field;
    QPointer<Dataset> m_lookup;
    QString m_lookupKey;
    QString m_lookupText;
    std::vector<dbf::Value> m_keys;
    bool m_loading = false;
};

// The ten-button navigator.
class DbNavigator : public QWidget {
    Q_OBJECT
public:
    enum class Button { First, Prior, Next, Last, Insert, Delete, Edit, Post, Cancel, Refresh };
    static constexpr int kButtons = 10;

    DbNavigator(Dataset& ds, Prompter& prompter, QWidget* parent = nullptr);
    // Runs before every button's action; false cancels it.
    std::function<bool(Button)> beforeAction;
    // Buttons shown (all by default).
    void setVisibleButtons(std::initializer_list<Button> buttons);
    QToolButton* button(Button b) const { return m_buttons[static_cast<size_t>(b)]; }
    void click(Button b);
    static QString hint(Button b);
    void setHint(Button b, const QString& text) { button(b)->setToolTip(text); }
    // The navigator's own "¿Borra el registro?" before deleting; off where the record rules ask.
    void setConfirmDelete(bool on) { m_confirmDelete = on; }

private:
    void updateButtons();
    QPointer<Dataset> m_ds;
    Prompter& m_prompter;
    std::array<QToolButton*, kButtons> m_buttons{};
    bool m_confirmDelete = true;
};

// A grid over a dataset: the selected line is the dataset's current row.
class DbGrid : public QTableView {
    Q_OBJECT
public:
    DbGrid(Dataset& ds, QList<DatasetModel::Column> columns, QWidget* parent = nullptr);
    DatasetModel* datasetModel() const { return m_model; }
    // Whole rows are chosen and no cell is edited.
    void setReadOnlyGrid();

private:
    void follow();
    QPointer<Dataset> m_ds;
    DatasetModel* m_model;
    bool m_syncing = false;
};

} // namespace qev
