#include "reports/TrpContesPriv.h"

#include "reports/Institution.h"

namespace qev::reports {

TrpContesPriv::Data TrpContesPriv::read(const ReportSource& source) {
    Data d;
    d.printDate = source.today.toString(QStringLiteral("dd/MM/yyyy"));
    Dataset* pedp = source.get(QStringLiteral("pedp"));
    if (!pedp) return d;
    const Dataset& cur = *pedp;
    auto f = [&cur](const char* name) { return fieldText(cur, QString::fromLatin1(name)); };
    d.c_ped = f("C_PED");
    d.n_expe = f("N_EXPE");
    d.x_ape = joinBlank({f("X_APE1"), f("X_APE2")});
    d.x_nom = joinBlank({f("X_NOM1"), f("X_NOM2"), f("X_NOM3")});
    d.n_cert = f("N_CERT");
    d.x_obs = f("X_OBS");
    d.x_res = source.lookup(QStringLiteral("res"), QStringLiteral("C_RES"), cur.value(QStringLiteral("C_RES")),
                            QStringLiteral("X_RES"));
    return d;
}

Layout TrpContesPriv::layout(const Data& d) {
    Layout l;
    l.title = QStringLiteral("Contestación de Pedido Personal");
    const double w = l.contentWidth();
    addLetterhead(l, d.printDate);
    Band& b = l.add(BandKind::Title, 150);
    b.text(QRectF(0, 4, w, 12), QStringLiteral("Contestación de Pedido Personal"), times(21), Qt::AlignHCenter);
    auto field = [&b, w](double y, const QString& label, const QString& value, bool bold, const QString& name) {
        b.text(QRectF(10, y, 60, 6), label, arial(11));
        Element& v = b.memo(QRectF(72, y, w - 82, 6), value, arial(11, bold));
        v.name = name;
    };
    field(26, QStringLiteral("Código de Pedido"), d.c_ped, true, QStringLiteral("c_ped"));
    field(34, QStringLiteral("Número de Expediente"), d.n_expe, true, QStringLiteral("n_expe"));
    field(42, QStringLiteral("Apellidos:"), d.x_ape, false, QStringLiteral("x_ape"));
    field(50, QStringLiteral("Nombres:"), d.x_nom, false, QStringLiteral("x_nom"));
    b.text(QRectF(0, 64, w, 7), QStringLiteral("Pedido de Antecedentes enviado por carta Certificada"), arial(11, true),
           Qt::AlignHCenter);
    field(76, QStringLiteral("Número de Carta Certificada:"), d.n_cert, false, QStringLiteral("n_cert"));
    field(84, QStringLiteral("Observaciones:"), d.x_obs, false, QStringLiteral("x_obs"));
    field(92, QStringLiteral("Resultado:"), d.x_res, false, QStringLiteral("x_res"));
    return l;
}

} // namespace qev::reports
