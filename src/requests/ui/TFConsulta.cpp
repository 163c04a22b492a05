#include "requests/ui/TFConsulta.h"

#include "core/SqlQuery.h"
#include "core/ui/QueryControls.h"
#include "dm/Tdm.h"
#include "util/Prompter.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

namespace qev {

namespace {

QLineEdit* upperEdit(QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    QObject::connect(e, &QLineEdit::textEdited, e, [e](const QString& t) {
        if (t == t.toUpper()) return;
        const int pos = e->cursorPosition();
        e->setText(t.toUpper());
        e->setCursorPosition(pos);
    });
    return e;
}

} // namespace

TFConsulta::TFConsulta(Tdm& dm, Prompter& prompter, QWidget* parent) : QDialog(parent), m_dm(dm), m_prompter(prompter) {
    setObjectName(QStringLiteral("TFConsulta"));
    setWindowTitle(QStringLiteral("Consulta de Pedidos"));
    resize(632, 402);

    m_pages = new QTabWidget(this);
    m_pages->setObjectName(QStringLiteral("pbusq"));
    auto page = [this](const char* name, const QString& caption) {
        auto* w = new QWidget(m_pages);
        w->setObjectName(QString::fromLatin1(name));
        m_pages->addTab(w, caption);
        return new QFormLayout(w);
    };
    QFormLayout* code = page("CodTram", QStringLiteral("Por Código de Pedido"));
    m_code = upperEdit(this, "c_tram");
    m_code->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_code));
    m_code->installEventFilter(this);
    code->addRow(QStringLiteral("Código:"), m_code);

    QFormLayout* names = page("ApeNom", QStringLiteral("Por Apellidos y Nombres"));
    static const char* const kNames[5] = {"ape1", "ape2", "nom1", "nom2", "nom3"};
    for (int i = 0; i < 5; ++i)
        m_names[i] = upperEdit(this, kNames[i]);
    auto row = [this](std::initializer_list<QLineEdit*> edits) {
        auto* h = new QHBoxLayout;
        for (QLineEdit* e : edits)
            h->addWidget(e);
        return h;
    };
    names->addRow(QStringLiteral("Apellidos:"), row({m_names[0], m_names[1]}));
    names->addRow(QStringLiteral("Nombres:"), row({m_names[2], m_names[3], m_names[4]}));

    QFormLayout* doc = page("NumDoc", QStringLiteral("Por Número de Documento"));
    m_document = new QLineEdit(this);
    m_document->setObjectName(QStringLiteral("n_doc"));
    m_document->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,8}")), m_document));
    doc->addRow(QStringLiteral("Número:"), m_document);

    auto* bus = new QPushButton(QStringLiteral("&Buscar"), this);
    bus->setObjectName(QStringLiteral("btBus"));
    bus->setDefault(true);
    auto* salir = new QPushButton(QStringLiteral("&Salir"), this);
    salir->setObjectName(QStringLiteral("btClose"));
    auto* view = new QPushButton(QStringLiteral("&Ver Pedido"), this);
    view->setObjectName(QStringLiteral("btView"));

    auto* tables = new QGroupBox(QStringLiteral("Pedidos"), this);
    tables->setObjectName(QStringLiteral("rgTabla"));
    m_tables = new QButtonGroup(this);
    auto* tableRows = new QVBoxLayout(tables);
    const std::tuple<const char*, const char*, ConsultaTable> options[] = {
        {"rbOficiales", "Oficiales", ConsultaTable::Official},
        {"rbPersonales", "Personales", ConsultaTable::Personal},
        {"rbSupuestos", "Supuestos", ConsultaTable::Alias},
    };
    for (const auto& [name, caption, table] : options) {
        auto* rb = new QRadioButton(QString::fromLatin1(caption), tables);
        rb->setObjectName(QString::fromLatin1(name));
        rb->setChecked(table == ConsultaTable::Official);
        m_tables->addButton(rb, static_cast<int>(table));
        tableRows->addWidget(rb);
    }

    SqlQuery& result = dm.qConsulta();
    m_grid = new QueryGrid(result,
                           {{QStringLiteral("C_PED"), QStringLiteral("Código de Pedido")},
                            {QStringLiteral("X_APE1"), QStringLiteral("Apellido 1")},
                            {QStringLiteral("X_APE2"), QStringLiteral("Apellido 2")},
                            {QStringLiteral("X_NOM1"), QStringLiteral("Nombre 1")},
                            {QStringLiteral("X_NOM2"), QStringLiteral("Nombre 2")},
                            {QStringLiteral("X_NOM3"), QStringLiteral("Nombre 3")},
                            {QStringLiteral("C_SEXO"), QStringLiteral("Sexo")},
                            {QStringLiteral("F_NAC"), QStringLiteral("Fecha de Nacimiento")},
                            {QStringLiteral("N_EDAD"), QStringLiteral("Edad")},
                            {QStringLiteral("N_DOC"), QStringLiteral("Documento")}},
                           this);
    m_grid->setObjectName(QStringLiteral("dbgV_tram"));
    m_grid->setToolTip(QStringLiteral("Haga doble click para ver el detalle del trámite"));
    auto* nav = new QueryNavigator(result, this);
    nav->setObjectName(QStringLiteral("DBNavigator1"));
    using NB = QueryNavigator::Button;
    nav->setHint(NB::First, QStringLiteral("Primer Trámite"));
    nav->setHint(NB::Prior, QStringLiteral("Trámite anterior"));
    nav->setHint(NB::Next, QStringLiteral("Trámite siguiente"));
    nav->setHint(NB::Last, QStringLiteral("Último Trámite"));
    nav->setHint(NB::Refresh, QStringLiteral("Actualizar"));

    connect(bus, &QPushButton::clicked, this, &TFConsulta::buscar);
    connect(view, &QPushButton::clicked, this, &TFConsulta::verPedido);
    connect(m_grid, &QAbstractItemView::doubleClicked, this, &TFConsulta::verPedido);
    connect(salir, &QPushButton::clicked, this, &QDialog::close);

    auto* top = new QHBoxLayout;
    top->addWidget(m_pages, 1);
    auto* side = new QVBoxLayout;
    side->addWidget(tables);
    side->addWidget(bus);
    side->addStretch();
    top->addLayout(side);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(nav);
    bottom->addStretch();
    bottom->addWidget(view);
    bottom->addWidget(salir);
    auto* v = new QVBoxLayout(this);
    v->addLayout(top);
    v->addWidget(m_grid, 1);
    v->addLayout(bottom);
}

ConsultaTable TFConsulta::chosenTable() const {
    const int id = m_tables->checkedId();
    return id < 0 ? ConsultaTable::Official : static_cast<ConsultaTable>(id);
}

ConsultaCriteria TFConsulta::criteria() const {
    ConsultaCriteria c;
    const QString page = m_pages->currentWidget()->objectName();
    c.page = page == QLatin1String("ApeNom")   ? ConsultaPage::Name
             : page == QLatin1String("NumDoc") ? ConsultaPage::Document
                                               : ConsultaPage::Code;
    c.code = m_code->text();
    c.ape1 = m_names[0]->text();
    c.ape2 = m_names[1]->text();
    c.nom1 = m_names[2]->text();
    c.nom2 = m_names[3]->text();
    c.nom3 = m_names[4]->text();
    c.document = m_document->text();
    return c;
}

void TFConsulta::buscar() {
    BusyScope busy(m_prompter);
    SqlQuery& result = m_dm.qConsulta();
    result.close();
    m_searched = chosenTable();
    const QString statement = consultaStatement(m_searched, criteria());
    if (!statement.isEmpty()) {
        result.setStatement(statement);
        // A refused statement is reported by the query and leaves the result closed.
        if (!result.open()) return;
    }
    if (!result.active() || result.isEmpty())
        m_prompter.inform(QStringLiteral("Disculpe, no se encontraron pedidos\rque cumplan las condiciones"));
}

void TFConsulta::verPedido() {
    const SqlQuery& result = m_dm.qConsulta();
    if (!result.active() || result.isEmpty()) {
        m_prompter.inform(QStringLiteral("No hay pedido para visualizar"));
        return;
    }
    const dbf::Value number = result.value(QStringLiteral("C_PED"));
    // An alias belongs to an official request.
    const bool personal = m_searched == ConsultaTable::Personal;
    Dataset& requests = personal ? m_dm.pedp() : m_dm.ped();
    if (!requests.locate(QStringLiteral("C_PED"), number)) return;
    const std::function<void()>& show = personal ? showPersonalRequest : showOfficialRequest;
    if (show)
        show();
    else if (personal)
        m_prompter.inform(
            QStringLiteral("La ventana de pedidos personales no está disponible todavía en esta versión"));
    else
        m_prompter.inform(QStringLiteral("La ventana de pedidos oficiales no está disponible todavía en esta versión"));
}

void TFConsulta::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (e->spontaneous()) return;
    m_dm.qConsulta().close();
    m_pages->setCurrentIndex(0);
    m_code->clear();
    m_code->setFocus();
}

void TFConsulta::hideEvent(QHideEvent* e) {
    if (!e->spontaneous()) m_dm.qConsulta().close();
    QDialog::hideEvent(e);
}

bool TFConsulta::eventFilter(QObject* watched, QEvent* e) {
    if (watched == m_code && e->type() == QEvent::KeyRelease) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) m_code->clear();
    }
    return QDialog::eventFilter(watched, e);
}

} // namespace qev
