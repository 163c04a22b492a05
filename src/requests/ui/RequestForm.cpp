#include "requests/ui/RequestForm.h"

#include "core/ui/DbControls.h"
#include "dm/Tdm.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>

namespace qev {

DbEdit* RequestForm::edit(QWidget* parent, const char* name, const char* field, bool upperCase) const {
    auto* e = new DbEdit(m_requests, QString::fromLatin1(field), parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setUpperCase(upperCase);
    return e;
}

DbLookupCombo* RequestForm::lookup(QWidget* parent, const char* name, const char* field, const char* table,
                                   const char* key, const char* text) const {
    auto* c = new DbLookupCombo(m_requests, QString::fromLatin1(field), *m_dm.table(QString::fromLatin1(table)),
                                QString::fromLatin1(key), QString::fromLatin1(text), parent);
    c->setObjectName(QString::fromLatin1(name));
    return c;
}

DbCheckBox* RequestForm::check(QWidget* parent, const char* name, const char* field, const char* caption,
                               const char* hint) const {
    auto* b = new DbCheckBox(m_requests, QString::fromLatin1(field), QString::fromUtf8(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    if (hint) b->setToolTip(QString::fromUtf8(hint));
    return b;
}

QLabel* RequestForm::label(QWidget* parent, const char* text, const char* hint) {
    auto* l = new QLabel(QString::fromUtf8(text), parent);
    if (hint) l->setToolTip(QString::fromUtf8(hint));
    return l;
}

std::pair<QGroupBox*, QGridLayout*> RequestForm::group(QWidget* parent, const char* name, const char* title) {
    auto* box = new QGroupBox(QString::fromUtf8(title), parent);
    box->setObjectName(QString::fromLatin1(name));
    auto* grid = new QGridLayout(box);
    grid->setVerticalSpacing(2);
    return {box, grid};
}

QWidget* RequestForm::withClear(DbLookupCombo* combo, const char* clearName, QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(1);
    row->addWidget(combo, 1);
    row->addWidget(combo->makeClearButton(QString::fromLatin1(clearName), box));
    return box;
}

} // namespace qev
