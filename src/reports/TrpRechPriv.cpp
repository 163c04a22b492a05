#include "reports/TrpRechPriv.h"

#include "reports/Institution.h"

namespace qev::reports {

namespace {
const char kTaken[] = "Impresiones digitales tomadas";
const char kCards[] = "Fichas Dactiloscópicas";
} // namespace

const std::array<TrpRechPriv::Reason, 16>& TrpRechPriv::reasons() {
    static const std::array<Reason, 16> list{{
        {kTaken, "1. Con entintado desparejo", 1},
        {kTaken, "2. Con demasiada tinta", 2},
        {kTaken, "3. Con tinta inadecuada", 3},
        {kTaken, "4. Sin previo lavado de manos", 4},
        {kTaken, "5. En forma no rodada (faltan datos)", 5},
        {kTaken, "6. En forma superpuesta", 6},
        {kTaken, "7. Que no corresponden al causante", 7},
        {kCards, "1. No se acompañaron", 0},
        {kCards, "2. Con impresiones repetidas", 8},
        {kCards, "3 Con mano repetida", 9},
        {kCards, "4. Incompleta (faltan impresiones)", 10},
        {kCards, "5. Con dedos lesionados", 11},
        {kCards, "6. Sin los datos del causante", 12},
        {kCards, "7. A nombre de otra persona", 13},
        {kCards, "8. Destruida", 14},
        {kCards, "9.Sin las impresiones digitales", 0},
    }};
    return list;
}

QString TrpRechPriv::box(const QString& code, int position) {
    const bool marked = position >= 1 && position <= code.size() && code.at(position - 1) == QLatin1Char('1');
    return marked ? QStringLiteral("(X)") : QStringLiteral("( )");
}

TrpRechPriv::Data TrpRechPriv::read(const ReportSource& source) {
    Data d;
    d.printDate = source.today.toString(QStringLiteral("dd/MM/yyyy"));
    Dataset* pedp = source.get(QStringLiteral("pedp"));
    if (!pedp) return d;
    const Dataset& cur = *pedp;
    auto f = [&cur](const char* name) { return fieldText(cur, QString::fromLatin1(name)); };
    d.c_ped = f("C_PED");
    d.x_ape = joinBlank({f("X_APE1"), f("X_APE2")});
    d.x_nom = joinBlank({f("X_NOM1"), f("X_NOM2"), f("X_NOM3")});
    // Trailing blanks of the stored text are not positions of the code.
    d.cRechazo = f("C_RECHAZO");
    return d;
}

Layout TrpRechPriv::layout(const Data& d) {
    Layout l;
    l.title = QStringLiteral("Rechazo de huellas digitales");
    const double w = l.contentWidth();
    addLetterhead(l, d.printDate);
    Band& b = l.add(BandKind::Title, 150);
    b.text(QRectF(0, 4, w, 12), QStringLiteral("Rechazo de huellas digitales"), times(21), Qt::AlignHCenter);
    auto field = [&b, w](double y, const QString& label, const QString& value, bool bold, const QString& name) {
        b.text(QRectF(10, y, 45, 6), label, arial(11));
        b.memo(QRectF(56, y, w - 66, 6), value, arial(11, bold)).name = name;
    };
    field(24, QStringLiteral("Código de Pedido"), d.c_ped, true, QStringLiteral("c_ped"));
    field(32, QStringLiteral("Apellidos:"), d.x_ape, false, QStringLiteral("x_ape"));
    field(40, QStringLiteral("Nombres:"), d.x_nom, false, QStringLiteral("x_nom"));
    const double colW = w / 2;
    double y[2] = {56, 56};
    const char* groups[2] = {kTaken, kCards};
    for (int c = 0; c < 2; ++c) {
        b.text(QRectF(c * colW + 2, y[c], colW - 4, 7), QString::fromUtf8(groups[c]), arial(11, true));
        y[c] += 9;
    }
    int index = 0;
    for (const Reason& r : reasons()) {
        const int c = r.group == kTaken ? 0 : 1;
        const double x = c * colW + 2;
        b.text(QRectF(x, y[c], 14, 7), box(d.cRechazo, r.position), courier(16)).name =
            QStringLiteral("box%1").arg(++index);
        b.memo(QRectF(x + 15, y[c] + 1, colW - 19, 6), QString::fromUtf8(r.text), arial(10));
        y[c] += 8;
    }
    return l;
}

} // namespace qev::reports
