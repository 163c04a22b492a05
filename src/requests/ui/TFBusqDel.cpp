#include "requests/ui/TFBusqDel.h"

#include "core/ui/DbControls.h"
#include "dm/Tdm.h"
#include "requests/OfficialRequestRules.h"
#include "util/Prompter.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace qev {

namespace {
Dataset& offences(Tdm& dm) {
    return *dm.table(QStringLiteral("tdel"));
}
} // namespace

TFBusqDel::TFBusqDel(Tdm& dm, Prompter& prompter, QWidget* parent) : QDialog(parent), m_dm(dm), m_prompter(prompter) {
    setObjectName(QStringLiteral("TFBusqDel"));
    setWindowTitle(QStringLiteral("Selección del delito"));
    resize(622, 351);
    auto* fields = new QGridLayout;
    int column = 0;
    const auto field = [&](const char* name, const char* label, const char* clearName, int stretch) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        auto* clear = new QToolButton(this);
        clear->setObjectName(QString::fromLatin1(clearName));
        clear->setText(QStringLiteral("✖"));
        clear->setToolTip(QStringLiteral("Borrar"));
        clear->setFocusPolicy(Qt::NoFocus);
        connect(clear, &QToolButton::clicked, e, &QLineEdit::clear);
        fields->addWidget(new QLabel(QString::fromUtf8(label), this), 0, column, 1, 2);
        fields->addWidget(e, 1, column);
        fields->addWidget(clear, 1, column + 1);
        fields->setColumnStretch(column, stretch);
        column += 2;
        return e;
    };
    m_code = field("edC_tdel", "Código:", "gmC_tdel", 1);
    m_law = field("edLey", "Ley:", "gmLey", 1);
    m_article = field("edArt", "Art:", "gmArt", 1);
    m_subsection = field("edInc", "Inc:", "gmInc", 1);
    m_description = field("edDel", "Delito:", "SpeedButton2", 4);
    auto* buscarButton = new QPushButton(QStringLiteral("&Buscar"), this);
    buscarButton->setObjectName(QStringLiteral("btBuscar"));
    buscarButton->setDefault(true);
    fields->addWidget(buscarButton, 1, column);
    connect(buscarButton, &QPushButton::clicked, this, &TFBusqDel::buscar);

    m_grid = new DbGrid(offences(dm),
                        {{QStringLiteral("C_TDEL"), QStringLiteral("Código")},
                         {QStringLiteral("N_LEY"), QStringLiteral("Ley")},
                         {QStringLiteral("N_ART"), QStringLiteral("Art.")},
                         {QStringLiteral("N_INC"), QStringLiteral("Inc.")},
                         {QStringLiteral("X_TDEL"), QStringLiteral("Descripción del delito")}},
                        this);
    m_grid->setObjectName(QStringLiteral("DBGrid1"));
    m_grid->setReadOnlyGrid();
    for (const auto& [c, width] : {std::pair{0, 60}, std::pair{1, 60}, std::pair{2, 50}, std::pair{3, 40}})
        m_grid->setColumnWidth(c, width);
    connect(m_grid, &QAbstractItemView::doubleClicked, this, &TFBusqDel::aceptar);

    auto* ok = new QPushButton(QStringLiteral("&Aceptar"), this);
    ok->setObjectName(QStringLiteral("btOK"));
    connect(ok, &QPushButton::clicked, this, &TFBusqDel::aceptar);
    auto* cerrar = new QPushButton(QStringLiteral("&Cerrar"), this);
    cerrar->setObjectName(QStringLiteral("BitBtn1"));
    connect(cerrar, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cerrar);

    auto* main = new QVBoxLayout(this);
    main->addLayout(fields);
    main->addWidget(m_grid, 1);
    main->addLayout(buttons);
    setTabOrder(m_code, m_law);
    setTabOrder(m_law, m_article);
    setTabOrder(m_article, m_subsection);
    setTabOrder(m_subsection, m_description);
    setTabOrder(m_description, buscarButton);
}

void TFBusqDel::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    for (QLineEdit* f : {m_code, m_law, m_article, m_subsection, m_description})
        f->clear();
    const dbf::Value code = m_dm.ped().value(QStringLiteral("C_TDEL"));
    if (!code.isNull()) (void)offences(m_dm).locate(QStringLiteral("C_TDEL"), code);
    m_code->setFocus();
}

void TFBusqDel::buscar() {
    Dataset& tdel = offences(m_dm);
    tdel.setFiltered(false);
    m_dm.officialRules().setOffenceSearch(
        {m_code->text(), m_law->text(), m_article->text(), m_subsection->text(), m_description->text()});
    tdel.setFiltered(true);
    tdel.first();
}

void TFBusqDel::aceptar() {
    Dataset& tdel = offences(m_dm);
    const dbf::Value parent = tdel.value(QStringLiteral("C_TDEL_P"));
    if (tdel.isEmpty() || tdel.position() < 0 || parent.isNull() || parent.number() == 0) {
        m_prompter.error(QStringLiteral("Error: Debe elegir un delito y no una categoría"));
        return;
    }
    accept();
}

void TFBusqDel::done(int r) {
    Dataset& tdel = offences(m_dm);
    if (r == QDialog::Accepted && m_dm.ped().editing())
        m_dm.ped().setValue(QStringLiteral("C_TDEL"), tdel.value(QStringLiteral("C_TDEL")));
    m_dm.officialRules().setOffenceSearch({});
    tdel.setFiltered(false);
    QDialog::done(r);
}

} // namespace qev
