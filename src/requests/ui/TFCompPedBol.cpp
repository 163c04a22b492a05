#include "requests/ui/TFCompPedBol.h"

#include "core/Dataset.h"
#include "dm/Tdm.h"
#include "requests/PedBol.h"
#include "requests/SlipLookups.h"
#include "util/Prompter.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace qev {

using dbf::Value;

QString nameLine(const QString& a, const QString& b) {
    return QStringLiteral("%1 %2").arg(a, b);
}

QString nameLine(const QString& a, const QString& b, const QString& c) {
    return QStringLiteral("%1 %2 %3").arg(a, b, c);
}

const QColor& TFCompPedBol::equalColour() {
    static const QColor c(0x80, 0, 0); // dark red
    return c;
}

const QColor& TFCompPedBol::differentColour() {
    static const QColor c(0, 0, 0x80); // dark blue
    return c;
}

namespace {

// One side of the comparison: the texts of every line, by the line's object name.
struct Side {
    QString ape, nom, sexo, fnac, nac, tdoc, prefijo, doc, sufijo, nomP, apeM, nomM;
};

QString lookupText(Tdm& dm, const char* table, const char* key, const Value& v, const char* result) {
    if (v.isNull()) return QString();
    Dataset* ds = dm.table(QString::fromLatin1(table));
    if (!ds) return QString();
    return toQString(ds->lookupValue(QString::fromLatin1(key), v, QString::fromLatin1(result))).trimmed();
}

QLabel* valueLabel(QWidget* parent, const QString& name, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

// The same words are the same name, however the two sides split them into fields.
void paint(QLabel* a, QLabel* b) {
    const QColor& c = a->text().simplified() == b->text().simplified() ? TFCompPedBol::equalColour()
                                                                       : TFCompPedBol::differentColour();
    for (QLabel* l : {a, b}) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, c);
        l->setPalette(p);
    }
}

} // namespace

TFCompPedBol::TFCompPedBol(Tdm& dm, Prompter& prompter, const QString& cPago, const QString& cReg, const QString& cPed,
                           QWidget* parent)
    : QDialog(parent), m_prompter(prompter) {
    setObjectName(QStringLiteral("TFCompPedBol"));
    setWindowTitle(QStringLiteral("Comparativo de Pedido - Boleta"));
    setModal(true);
    resize(608, 559);

    Dataset& p = dm.pedp();
    const PedBol& slip = dm.slips().pedBol();
    auto t = [&p](const char* f) { return p.text(QString::fromLatin1(f)).trimmed(); };
    auto s = [&slip](const char* f) { return slip.text(QString::fromLatin1(f)).trimmed(); };

    Side request;
    request.ape = nameLine(t("X_APE1"), t("X_APE2"));
    request.nom = nameLine(t("X_NOM1"), t("X_NOM2"), t("X_NOM3"));
    request.sexo = t("X_SEXO");
    request.fnac = t("F_NAC");
    request.nac = t("x_nac");
    request.tdoc = t("x_tdoc");
    request.prefijo = t("C_PREFIJO");
    request.doc = t("N_DOC");
    request.sufijo = t("C_SUFIJO");
    request.nomP = nameLine(t("X_NOMPADR1"), t("X_NOMPADR2"), t("X_NOMPADR3"));
    request.apeM = nameLine(t("X_APEMADR1"), t("X_APEMADR2"));
    request.nomM = nameLine(t("X_NOMMADR1"), t("X_NOMMADR2"), t("X_NOMMADR3"));

    Side bol;
    bol.ape = nameLine(s("x_ape1"), s("x_ape2"));
    bol.nom = nameLine(s("x_nom1"), s("x_nom2"), s("x_nom3"));
    bol.sexo = lookupText(dm, "sexo", "C_SEXO", slip.value(QStringLiteral("c_sexo")), "X_SEXO");
    bol.fnac = s("f_nac");
    bol.nac = lookupText(dm, "nac", "C_NAC", slip.value(QStringLiteral("c_pais")), "X_NAC");
    const Value tdoc = slip.value(QStringLiteral("c_tdoc"));
    bol.tdoc = lookupText(dm, "tdoc", "C_TDOC", tdoc.isNull() ? Value() : Value(s("c_tdoc").toStdString()), "X_TDOC");
    bol.prefijo = s("c_prefijo");
    bol.doc = s("n_doc");
    bol.sufijo = s("c_sufijo");
    bol.nomP = nameLine(s("x_nom1p"), s("x_nom2p"), s("x_nom3p"));
    bol.apeM = nameLine(s("x_ape1m"), s("x_ape2m"));
    bol.nomM = nameLine(s("x_nom1m"), s("x_nom2m"), s("x_nom3m"));

    auto* top = new QVBoxLayout(this);
    top->addWidget(new QLabel(
        QStringLiteral("Algunos datos del pedido difieren con los de la boleta. Por favor verifique:"), this));
    auto* sides = new QHBoxLayout;
    top->addLayout(sides, 1);

    struct Line {
        const char* caption;
        const char* name;
        QString Side::*text;
    };
    static const Line lines[] = {
        {"Apellidos:", "lbApe", &Side::ape},
        {"Nombres:", "lbNom", &Side::nom},
        {"Sexo:", "x_sexo", &Side::sexo},
        {"Fecha de Nacimiento:", "f_nac", &Side::fnac},
        {"Nacionalidad:", "x_nac", &Side::nac},
        {"Tipo Documento:", "x_tdoc", &Side::tdoc},
        {"Prefijo:", "c_prefijo", &Side::prefijo},
        {"Número:", "n_doc", &Side::doc},
        {"Sufijo:", "c_sufijo", &Side::sufijo},
        {"Nombres Padre:", "lbNomP", &Side::nomP},
        {"Apellidos Madre:", "lbApeM", &Side::apeM},
        {"Nombres Madre:", "lbNomM", &Side::nomM},
    };
    // Pairs drawn by colour; prefix and suffix are shown only.
    static const char* const compared[] = {"lbApe",  "lbNom", "lbApeM", "lbNomM", "lbNomP",
                                           "x_sexo", "f_nac", "x_nac",  "x_tdoc", "n_doc"};

    auto makeGroup = [this, sides](const QString& name, const QString& title, const Side& side,
                                   const std::vector<std::pair<QString, QString>>& head,
                                   const std::vector<std::pair<QString, QString>>& tail) {
        auto* box = new QGroupBox(title, this);
        box->setObjectName(name);
        auto* grid = new QGridLayout(box);
        int row = 0;
        auto add = [&](const QString& caption, QLabel* value) {
            grid->addWidget(new QLabel(caption, box), row, 0, Qt::AlignRight | Qt::AlignTop);
            grid->addWidget(value, row, 1);
            ++row;
        };
        for (const auto& [caption, text] : head)
            add(caption, valueLabel(box, QString(), text));
        for (const Line& l : lines)
            add(QString::fromUtf8(l.caption), valueLabel(box, QString::fromLatin1(l.name), side.*l.text));
        for (const auto& [caption, text] : tail)
            add(caption, valueLabel(box, QString(), text));
        grid->setRowStretch(row, 1);
        grid->setColumnStretch(1, 1);
        sides->addWidget(box, 1);
        return box;
    };
    QGroupBox* left = makeGroup(QStringLiteral("Gptram1"), QStringLiteral("Pedido Privado QEV"), request,
                                {{QStringLiteral("Pedido:"), cPed}, {QStringLiteral("Regional:"), cReg}},
                                {{QStringLiteral("Clas. Dact. Derecha:"), t("C_CLASDER")},
                                 {QStringLiteral("Clas. Dact. Izquierda:"), t("C_CLASIZQ")}});
    const QString code = s("c_boleta_web").isEmpty() ? cPago : s("c_boleta_web");
    QGroupBox* right =
        makeGroup(QStringLiteral("Gptram2"), QStringLiteral("Boleta "), bol, {{QStringLiteral("Código:"), code}}, {});
    for (const char* name : compared) {
        auto* a = left->findChild<QLabel*>(QString::fromLatin1(name));
        auto* b = right->findChild<QLabel*>(QString::fromLatin1(name));
        if (a && b) paint(a, b);
    }

    auto* buttons = new QDialogButtonBox(this);
    auto* ok = buttons->addButton(QStringLiteral("C&ontinuar"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("btOK"));
    auto* cancel = buttons->addButton(QStringLiteral("&Cancelar"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btCancel"));
    cancel->setDefault(true);
    top->addWidget(buttons);
    connect(ok, &QPushButton::clicked, this, &TFCompPedBol::continuar);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    cancel->setFocus();
}

void TFCompPedBol::continuar() {
    if (m_prompter.confirm(QStringLiteral("Aún hay datos que difieren de la boleta\rEstá seguro que desea continuar?"),
                           QStringLiteral("Confirmar")))
        accept();
}

bool TFCompPedBol::compare(Tdm& dm, Prompter& prompter, const QString& cPago, const QString& cReg, const QString& cPed,
                           QWidget* parent) {
    TFCompPedBol window(dm, prompter, cPago, cReg, cPed, parent);
    return window.exec() == QDialog::Accepted;
}

} // namespace qev
