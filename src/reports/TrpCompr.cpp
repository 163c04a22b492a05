#include "reports/TrpCompr.h"

#include "reports/Code39.h"
#include "reports/Institution.h"

namespace qev::reports {

TrpCompr::Data TrpCompr::read(const ReportSource& source) {
    Data d;
    Dataset* pedp = source.get(QStringLiteral("pedp"));
    if (!pedp) return d;
    const Dataset& cur = *pedp;
    auto f = [&cur](const char* name) { return fieldText(cur, QString::fromLatin1(name)); };
    MTPedP1& n = d.names;
    n = MTPedP1{f("X_APE1"),     f("X_APE2"),     f("X_NOM1"),     f("X_NOM2"),     f("X_NOM3"),
                f("X_NOMPADR1"), f("X_NOMPADR2"), f("X_NOMPADR3"), f("X_APEMADR1"), f("X_APEMADR2"),
                f("X_NOMMADR1"), f("X_NOMMADR2"), f("X_NOMMADR3")};
    d.cPed = f("C_PED");
    d.cReg = f("C_REG");
    auto look = [&](const char* table, const char* key, const char* result) {
        return source.lookup(QString::fromLatin1(table), QString::fromLatin1(key), cur.value(QString::fromLatin1(key)),
                             QString::fromLatin1(result));
    };
    d.xSexo = look("sexo", "C_SEXO", "X_SEXO");
    d.xNac = look("nac", "C_NAC", "X_NAC");
    d.xTdoc = look("tdoc", "C_TDOC", "X_TDOC");
    d.xTram = look("tram", "C_TRAM", "X_TRAM");
    if (!cur.isNull(QStringLiteral("C_EXPP"))) d.xExpp = look("expp", "C_EXPP", "X_EXPP");
    d.fNac = f("F_NAC");
    d.fPed = f("F_PED");
    d.nDoc = f("N_DOC");
    d.QRLb1 = f("C_PREFIJO");
    d.QRLb39 = f("C_SUFIJO");
    d.cPago = f("C_PAGO");
    d.QRLabelBC1 = QStringLiteral("Regional:%1 - Pedido:%2").arg(d.cReg, d.cPed);
    d.bcPedReg1 = d.cPed + QLatin1Char('/') + d.cReg;
    d.bcCodSegur = f("C_SEGUR");
    d.qrlCodSegur = d.bcCodSegur;
    return d;
}

QStringList TrpCompr::problems(const Data& d) {
    QStringList out;
    QString why;
    if (!code39Valid(d.bcPedReg1, &why)) out << why;
    if (!code39Valid(d.bcCodSegur, &why)) out << why;
    return out;
}

namespace {

// A label and its value after it on the same line.
void item(Band& b, double x, double y, double right, const QString& label, const QString& value, bool bold = false,
          const QFont& valueFont = QFont(), const QString& name = QString()) {
    b.text(QRectF(x, y, 60, 5), label, arial(10));
    const int li = b.lastIndex();
    Element& v = b.memo(QRectF(x, y, right - x, 5), value, valueFont == QFont() ? arial(10, bold) : valueFont);
    v.follow = li;
    v.followGap = 2;
    v.name = name;
}

const QString kTitle = QStringLiteral("Comprobante del Trámite de Antecedentes Penales");

void heading(Band& b, double w) {
    b.picture(QRectF(2, 2, 18, 18), Institution::logo(), true);
    b.text(QRectF(22, 6, w - 44, 9), kTitle, arial(16, true, true), Qt::AlignHCenter | Qt::AlignTop);
}

} // namespace

Layout TrpCompr::layout(const Data& d) {
    Layout l;
    l.title = QStringLiteral("ComprobanteQEV");
    const double w = l.contentWidth();
    const MTPedP1& n = d.names;

    Band& up = l.add(BandKind::Title, 126);
    up.box(QRectF(0, 0, w, 126)).growWithBand = true;
    heading(up, w);
    up.barcode(QRectF(w / 2 - dots(233) / 2, 22, dots(233), dots(41)), d.bcPedReg1).name = QStringLiteral("bcPedReg1");
    up.text(QRectF(0, 34, w, 5), d.QRLabelBC1, arial(9), Qt::AlignHCenter).name = QStringLiteral("QRLabelBC1");
    double y = 42;
    const double step = 6;
    item(up, 4, y, w - 4, QStringLiteral("Apellido(s):"), joinBlank({n.X_APE1, n.X_APE2}), true);
    y += step;
    item(up, 4, y, w - 4, QStringLiteral("Nombre(s):"), joinBlank({n.X_NOM1, n.X_NOM2, n.X_NOM3}), true);
    y += step;
    item(up, 4, y, 62, QStringLiteral("Sexo:"), d.xSexo);
    item(up, 64, y, 118, QStringLiteral("Nacionalidad"), d.xNac);
    item(up, 120, y, w - 4, QStringLiteral("Fecha de Nacimiento:"), d.fNac);
    y += step;
    item(up, 4, y, 66, QStringLiteral("Tipo de Documento:"), d.xTdoc);
    item(up, 68, y, 116, QStringLiteral("Número"), joinBlank({d.QRLb1, d.nDoc, d.QRLb39}).trimmed());
    item(up, 118, y, w - 4, QStringLiteral("Expedido Por:"), d.xExpp, false, QFont(), QStringLiteral("x_expp"));
    y += step;
    item(up, 4, y, w - 4, QStringLiteral("Nombres Padre:"), joinBlank({n.X_NOMPADR1, n.X_NOMPADR2, n.X_NOMPADR3}));
    y += step;
    item(up, 4, y, w - 4, QStringLiteral("Apellidos Madre:"), joinBlank({n.X_APEMADR1, n.X_APEMADR2}));
    y += step;
    item(up, 4, y, w - 4, QStringLiteral("Nombre Madre:"), joinBlank({n.X_NOMMADR1, n.X_NOMMADR2, n.X_NOMMADR3}));
    y += step;
    item(up, 4, y, w - 4, QStringLiteral("Tipo de Trámite:"), d.xTram);
    y += step;
    item(up, 4, y, w - 4, QStringLiteral("Fecha de inicio del Trámite:"), d.fPed);
    y += step + 12;
    up.line(QPointF(w - 80, y), QPointF(w - 10, y));
    up.text(QRectF(w - 80, y + 1, 70, 5), QStringLiteral("Firma del Solicitante"), arial(9), Qt::AlignHCenter);
    y += 10;
    item(up, 4, y, w - 4, QStringLiteral("Comprobante de pago:"), d.cPago, false, courier(11, true),
         QStringLiteral("c_pago"));

    Band& sep = l.add(BandKind::Title, 4);
    sep.line(QPointF(0, 2), QPointF(w, 2), 0.4);

    Band& low = l.add(BandKind::Title, 110);
    low.box(QRectF(0, 0, w, 110)).growWithBand = true;
    heading(low, w);
    low.text(QRectF(0, 20, w, 6), QStringLiteral("Información para la obtención del Certificado"), arial(11, true),
             Qt::AlignHCenter);
    low.text(QRectF(0, 26, w, 6), QStringLiteral("de Antecedentes Penales Digital"), arial(11, true), Qt::AlignHCenter);
    low.text(QRectF(4, 36, 50, 6), QStringLiteral("Código de Seguridad:"), arial(10));
    low.barcode(QRectF(56, 34, dots(177), dots(33)), d.bcCodSegur).name = QStringLiteral("bcCodSegur");
    low.text(QRectF(56, 43.5, dots(177), 6), d.qrlCodSegur, courier(11, false, true), Qt::AlignHCenter).name =
        QStringLiteral("qrlCodSegur");
    item(low, 4, 52, w - 4, QStringLiteral("Código de Solicitud:"), d.cPago, false, courier(16, true));
    item(low, 4, 60, w - 4, QStringLiteral("Tipo de Trámite:"), d.xTram);
    item(low, 4, 66, w - 4, QStringLiteral("Fecha de Ingreso de datos QEV:"), d.fPed, true);
    const QString notice =
        QStringLiteral("Estimado/a, le informamos que su Solicitud de Trámite se encuentra en proceso de validación. "
                       "Una vez aprobada la Solicitud de Trámite, recibirá los datos necesarios para la descarga de "
                       "su Certificado de Antecedentes Penales por medio de un correo electrónico a la cuenta "
                       "suministrada.\n\nPara consultas, sugerencias y reclamos acerca del Comprobante del Trámite "
                       "de Antecedentes Penales, acceda a nuestro Sistema de Gestión e Información al Usuario "
                       "ingresando a nuestra pagina web ") +
        Institution::webAddress() + QStringLiteral(" o comuníquese al ") + Institution::freePhone() +
        QStringLiteral(".");
    low.memo(QRectF(4, 73, w - 8, 34), notice, arial(16)).name = QStringLiteral("notice");
    return l;
}

} // namespace qev::reports
