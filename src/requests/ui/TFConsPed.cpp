#include "requests/ui/TFConsPed.h"

#include "core/SqlQuery.h"
#include "core/ui/QueryControls.h"
#include "dm/Tdm.h"
#include "reports/ui/ReportPreview.h"
#include "util/Prompter.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace qev {

TFConsPed::TFConsPed(Tdm& dm, Prompter& prompter, QWidget* parent) : QDialog(parent), m_dm(dm), m_prompter(prompter) {
    setObjectName(QStringLiteral("TFConsPed"));
    setWindowTitle(QStringLiteral("QEV - Consulta de Pedidos"));
    setMinimumSize(620, 400);
    resize(620, 400);

    m_grid = new QueryGrid(dm.cpedT(),
                           {{QStringLiteral("C_PED"), QStringLiteral("Código")},
                            {QStringLiteral("F_PED"), QStringLiteral("Fech.Ped.")},
                            {QStringLiteral("N_EXPE"), QStringLiteral("Exp. Nro.")},
                            {QStringLiteral("X_APE1"), QStringLiteral("Apellido")},
                            {QStringLiteral("X_NOM1"), QStringLiteral("Nombre")},
                            {QStringLiteral("f_con"), QStringLiteral("Fech.Con.")},
                            {QStringLiteral("X_ORG"), QStringLiteral("Organismo")}},
                           this);
    m_grid->setObjectName(QStringLiteral("DBGrid1"));
    auto* nav = new QueryNavigator(dm.cpedT(), this);
    nav->setObjectName(QStringLiteral("DBNavigator1"));
    using NB = QueryNavigator::Button;
    nav->setVisibleButtons({NB::First, NB::Prior, NB::Next, NB::Last});
    connect(m_grid->queryModel(), &QAbstractItemModel::modelReset, nav,
            [this, nav] { nav->setQuery(m_grid->queryModel()->query()); });

    auto* box = new QGroupBox(QStringLiteral("Mostrar Pedidos:"), this);
    box->setObjectName(QStringLiteral("gbMostrar"));
    auto* group = new QButtonGroup(this);
    auto* options = new QVBoxLayout(box);
    const std::tuple<const char*, const char*, OfficialListOption> radios[] = {
        {"rbSin", "&Sin Enviar", OfficialListOption::Unsent},
        {"rbEnv", "&Enviados sin Contestar", OfficialListOption::SentUnanswered},
        {"rbCon", "&Contestados", OfficialListOption::Answered},
        {"rbTod", "&Todos", OfficialListOption::All},
    };
    for (const auto& [name, caption, option] : radios) {
        auto* rb = new QRadioButton(QString::fromUtf8(caption), box);
        rb->setObjectName(QString::fromLatin1(name));
        rb->setChecked(option == m_option);
        group->addButton(rb);
        options->addWidget(rb);
        connect(rb, &QRadioButton::clicked, this, [this, o = option] { setOption(o); });
    }

    auto button = [this](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    QPushButton* refrescar = button("btRefresh", QStringLiteral("&Refrescar"));
    QPushButton* ver = button("btVer", QStringLiteral("&Ver Pedido"));
    QPushButton* imprimirB = button("btImprimir", QStringLiteral("Imprimir"));
    QPushButton* salir = button("btSalir", QStringLiteral("&Salir"));
    connect(refrescar, &QPushButton::clicked, this, &TFConsPed::refresh);
    connect(ver, &QPushButton::clicked, this, &TFConsPed::verPedido);
    connect(m_grid, &QAbstractItemView::doubleClicked, this, &TFConsPed::verPedido);
    connect(imprimirB, &QPushButton::clicked, this, &TFConsPed::imprimir);
    connect(salir, &QPushButton::clicked, this, &QDialog::close);

    auto* side = new QVBoxLayout;
    side->addWidget(box);
    side->addWidget(refrescar);
    side->addWidget(ver);
    side->addWidget(imprimirB);
    side->addStretch();
    side->addWidget(salir);
    auto* left = new QVBoxLayout;
    left->addWidget(m_grid, 1);
    left->addWidget(nav);
    auto* h = new QHBoxLayout(this);
    h->addLayout(left, 1);
    h->addLayout(side);
}

SqlQuery& TFConsPed::currentList() const {
    return officialListChoice(m_option).byState ? m_dm.cped() : m_dm.cpedT();
}

void TFConsPed::setOption(OfficialListOption option) {
    m_option = option;
    const OfficialListChoice choice = officialListChoice(option);
    m_title = choice.title;
    SqlQuery& list = currentList();
    list.close();
    if (choice.byState) {
        list.setParam(QStringLiteral("m_enviado"), dbf::Value(choice.enviado));
        list.setParam(QStringLiteral("m_contesta"), dbf::Value(choice.contesta));
    }
    m_grid->setQuery(list);
    (void)list.open();
}

void TFConsPed::refresh() {
    SqlQuery& list = currentList();
    list.close();
    m_grid->setQuery(list);
    (void)list.open();
}

void TFConsPed::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!e->spontaneous()) refresh();
}

void TFConsPed::verPedido() {
    const SqlQuery& list = currentList();
    if (!list.active() || list.position() < 0) return;
    if (!m_dm.ped().locate(QStringLiteral("C_PED"), list.value(QStringLiteral("C_PED")))) return;
    if (showOfficialRequest)
        showOfficialRequest();
    else
        m_prompter.inform(QStringLiteral("La ventana de pedidos oficiales no está disponible todavía en esta versión"));
}

QString TFConsPed::printHeader() const {
    return QStringLiteral("QEV - Regional %1 - %2").arg(m_dm.settings().read(QStringLiteral("x_reg")), m_title);
}

void TFConsPed::imprimir() {
    reports::printGrid(*m_grid, printHeader(), m_prompter, this);
}

} // namespace qev
