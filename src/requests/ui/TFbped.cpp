#include "requests/ui/TFbped.h"

#include "core/Dataset.h"
#include "util/Prompter.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace qev {

TFbped::TFbped(Tdm&, Prompter& prompter, QWidget* parent) : QDialog(parent), m_prompter(prompter) {
    setObjectName(QStringLiteral("TFbped"));
    setWindowTitle(QStringLiteral("Buscar Pedido"));
    setFixedSize(272, 152);

    auto* box = new QGroupBox(QStringLiteral(" Criterio de Búsqueda "), this);
    box->setObjectName(QStringLiteral("rgBus"));
    auto* grid = new QGridLayout(box);
    const std::tuple<const char*, const char*, const char*, RequestCriterion> rows[] = {
        {"rbPed", "Código de Pedido", "edPed", RequestCriterion::Number},
        {"rbCausa", "Número de Causa", "edCausa", RequestCriterion::CaseNumber},
        {"rbApe", "Apellido", "edApe", RequestCriterion::Surname},
    };
    int i = 0;
    for (const auto& [option, caption, editName, criterion] : rows) {
        auto* rb = new QRadioButton(QString::fromUtf8(caption), box);
        rb->setObjectName(QString::fromLatin1(option));
        auto* e = new QLineEdit(box);
        e->setObjectName(QString::fromLatin1(editName));
        if (criterion == RequestCriterion::Number) {
            e->setValidator(new QIntValidator(0, 99999999, e));
        } else {
            connect(e, &QLineEdit::textEdited, e, [e](const QString& t) {
                if (t == t.toUpper()) return;
                const int pos = e->cursorPosition();
                e->setText(t.toUpper());
                e->setCursorPosition(pos);
            });
        }
        grid->addWidget(rb, i, 0);
        grid->addWidget(e, i, 1);
        connect(rb, &QRadioButton::clicked, this, [this, c = criterion] { setCriterion(c); });
        m_options[i] = rb;
        m_edits[i] = e;
        ++i;
    }

    auto* buscarB = new QPushButton(QStringLiteral("&Buscar"), this);
    buscarB->setObjectName(QStringLiteral("Button1"));
    buscarB->setDefault(true);
    auto* cerrar = new QPushButton(QStringLiteral("&Cerrar"), this);
    cerrar->setObjectName(QStringLiteral("btCerrar"));
    connect(buscarB, &QPushButton::clicked, this, &TFbped::buscar);
    connect(cerrar, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(buscarB);
    buttons->addWidget(cerrar);
    auto* v = new QVBoxLayout(this);
    v->addWidget(box);
    v->addLayout(buttons);
    setCriterion(RequestCriterion::Number);
}

void TFbped::setTable(Dataset& table) {
    m_table = &table;
}

void TFbped::setCriterion(RequestCriterion c) {
    m_criterion = c;
    for (int i = 0; i < 3; ++i) {
        const bool chosen = static_cast<int>(c) == i;
        m_options[i]->setChecked(chosen);
        m_edits[i]->setEnabled(chosen);
    }
}

void TFbped::buscar() {
    const int row =
        m_table ? findRequestRow(*m_table, m_criterion, m_edits[static_cast<int>(m_criterion)]->text()) : -1;
    if (row >= 0) {
        m_table->moveTo(row);
        if (m_table->position() == row) {
            accept();
            return;
        }
        // Leaving a row being edited posts it first; a refused post has said why and the table stays.
        return;
    }
    m_prompter.inform(QStringLiteral("Lo siento, no se ha encontrado el pedido"));
}

} // namespace qev
