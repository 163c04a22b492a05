#include "reports/TrpOficio.h"

#include "reports/Institution.h"

#include <algorithm>

namespace qev::reports {

using dbf::Value;

namespace {

// The request's number as an integer; 0 for a null or non-numeric number.
int requestNumber(const Dataset& ds) {
    const Value v = ds.value(QStringLiteral("C_PED"));
    return v.isNumber() ? static_cast<int>(v.number()) : 0;
}

// A label and its value on one line; the value wraps up to `right` and grows the band.
void labelled(Band& band, double x, double y, double right, const QString& label, const QString& value,
              const QString& name = QString()) {
    band.text(QRectF(x, y, 60, 5), label, arial(9));
    const int labelIndex = band.lastIndex();
    Element& v = band.memo(QRectF(x, y, right - x, 5), value, arial(10, true));
    v.follow = labelIndex;
    v.followGap = 1.5;
    v.name = name;
}

QString joined(const dbf::Table& t, const dbf::Record& row, std::initializer_list<const char*> fields) {
    QStringList parts;
    for (const char* f : fields) {
        const int i = t.fieldIndex(f);
        parts << (i < 0 ? QString() : toQString(row[static_cast<size_t>(i)]));
    }
    return parts.join(QLatin1Char(' '));
}

std::unique_ptr<dbf::Table> openTable(const QString& folder, const QString& component, bool keyed) {
    const TableSpec* layout = findOfficeTable(component);
    if (!layout) return nullptr;
    if (keyed) {
        auto t = openOfficeTable(folder, *layout, dbf::OpenMode::ReadOnly);
        return t ? std::move(*t) : nullptr;
    }
    const std::string found = dbf::findFileNoCase(folder.toStdString(), layout->fileName.toStdString());
    auto t = dbf::Table::open(found.empty() ? (folder + QLatin1Char('/') + layout->fileName).toStdString() : found,
                              dbf::OpenMode::ReadOnly);
    return t ? std::move(*t) : nullptr;
}

Band& row(Layout& l, double height) {
    Band& b = l.add(BandKind::Title, height);
    b.box(QRectF(0, 0, l.contentWidth(), height)).growWithBand = true;
    return b;
}

} // namespace

TrpOficio::Data TrpOficio::read(const ReportSource& source, Reader* reader) {
    Data d;
    Dataset* ped = source.get(QStringLiteral("ped"));
    if (!ped) return d;
    const Dataset& cur = *ped;
    d.cPed = requestNumber(cur);

    const Value fPed = cur.value(QStringLiteral("F_PED"));
    const QString fecha = fPed.isDate() ? fechaEnPalabras(toQDate(fPed)) : QString();
    d.lugarYFecha = fieldText(cur, QStringLiteral("X_LOC"));
    if (!fecha.isEmpty()) d.lugarYFecha += QStringLiteral(", ") + fecha;

    const Value org = cur.value(QStringLiteral("C_ORG"));
    d.xOrg = source.lookup(QStringLiteral("org"), QStringLiteral("C_ORG"), org, QStringLiteral("X_ORG"));
    if (Dataset* orgs = source.get(QStringLiteral("org")); orgs && orgs->active() && !org.isNull()) {
        const Value prov = orgs->lookupValue(QStringLiteral("C_ORG"), org, QStringLiteral("C_PROV"));
        d.xProv = source.lookup(QStringLiteral("prov"), QStringLiteral("C_PROV"), prov, QStringLiteral("X_PROV"));
    }
    d.xSec = fieldText(cur, QStringLiteral("X_SEC"));
    d.xDom = fieldText(cur, QStringLiteral("X_DOM"));
    d.xLoc = fieldText(cur, QStringLiteral("X_LOC"));
    d.xTdel = source.lookup(QStringLiteral("tdel"), QStringLiteral("C_TDEL"), cur.value(QStringLiteral("C_TDEL")),
                            QStringLiteral("X_TDEL"));
    d.nCausa = fieldText(cur, QStringLiteral("N_CAUSA"));
    d.xSexo = source.lookup(QStringLiteral("sexo"), QStringLiteral("C_SEXO"), cur.value(QStringLiteral("C_SEXO")),
                            QStringLiteral("X_SEXO"));
    d.xNac = source.lookup(QStringLiteral("nac"), QStringLiteral("C_NAC"), cur.value(QStringLiteral("C_NAC")),
                           QStringLiteral("X_NAC"));
    d.fNac = fieldText(cur, QStringLiteral("F_NAC"));
    d.nEdad = fieldText(cur, QStringLiteral("N_EDAD"));
    d.nDoc = fieldText(cur, QStringLiteral("N_DOC"));
    const Value provCi = cur.value(QStringLiteral("C_PROVCI"));
    if (!provCi.isNull())
        d.xExpp = source.lookup(QStringLiteral("prov"), QStringLiteral("C_PROV"), provCi, QStringLiteral("X_PROV"));

    if (d.cPed <= 0 || source.folder.isEmpty()) return d;
    if (reader) {
        reader->readNames(d);
    } else {
        Reader once(source.folder);
        once.readNames(d);
    }
    return d;
}

TrpOficio::Reader::Reader(QString folder) : m_folder(std::move(folder)) {}

TrpOficio::Reader::~Reader() = default;

// The names as stored, read again by number from the request table, and the aliases in table order. A request
// missing from the file (not stored yet, or removed by another workstation) prints without them.
void TrpOficio::Reader::readNames(Data& d) {
    if (!m_opened) {
        m_ped = openTable(m_folder, QStringLiteral("ped"), true);
        m_sup = openTable(m_folder, QStringLiteral("sup"), false);
        m_opened = true;
    } else {
        // Rows other workstations appended since the last letter.
        if (m_ped) m_ped->flush();
        if (m_sup) m_sup->flush();
    }
    if (m_ped) {
        dbf::Table& t = *m_ped;
        auto hit = t.find(Value(d.cPed));
        if (hit && hit->has_value()) {
            if (auto row = t.read(**hit); row && !row->deleted) {
                const dbf::Record& r = row->values;
                d.qrlbApe = joined(t, r, {"X_APE1", "X_APE2"});
                d.qrlbNom = joined(t, r, {"X_NOM1", "X_NOM2", "X_NOM3"});
                d.qrlbNomPadr = joined(t, r, {"X_NOMPADR1", "X_NOMPADR2", "X_NOMPADR3"});
                d.qrlbApeMadr = joined(t, r, {"X_APEMADR1", "X_APEMADR2"});
                d.qrlbNomMadr = joined(t, r, {"X_NOMMADR1", "X_NOMMADR2", "X_NOMMADR3"});
            }
        }
    }
    if (!m_sup) return;
    dbf::Table& t = *m_sup;
    const int key = t.fieldIndex("C_PED");
    if (key < 0) return;
    const uint32_t count = t.recordCount();
    constexpr uint32_t kChunk = 512;
    std::string raw;
    const Value wanted(d.cPed);
    for (uint32_t first = 1; first <= count; first += kChunk) {
        const uint32_t n = std::min(kChunk, count - first + 1);
        if (!t.readRaw(first, n, raw)) return;
        for (uint32_t i = 0; i < n; ++i) {
            const char* rec = raw.data() + static_cast<size_t>(i) * static_cast<size_t>(t.recordLength());
            if (rec[0] == '*') continue;
            auto v = t.decodeField(rec, key, first + i);
            if (!v || dbf::compareValues(*v, wanted) != 0) continue;
            dbf::Record values;
            for (int f = 0; f < static_cast<int>(t.fields().size()); ++f) {
                auto fv = t.decodeField(rec, f, first + i);
                values.push_back(fv ? *fv : Value());
            }
            d.qrlbApeSup += QStringLiteral(" o  ") + joined(t, values, {"X_APE1", "X_APE2"});
            d.qrlbNomSup += QStringLiteral(" o  ") + joined(t, values, {"X_NOM1", "X_NOM2", "X_NOM3"});
        }
    }
}

Layout TrpOficio::layout(const Data& d) {
    Layout l;
    l.title = QStringLiteral("Pedido de informes %1").arg(d.cPed);
    const double w = l.contentWidth();

    Band& header = l.add(BandKind::PageHeader, 40);
    header.picture(QRectF(0, 0, 24, 24), Institution::logo(), true);
    header.text(QRectF(26, 2, w - 52, 6), Institution::ministry(), arial(11, true), Qt::AlignHCenter | Qt::AlignTop);
    header.text(QRectF(26, 8, w - 52, 6), Institution::ministryLine2(), arial(11, true),
                Qt::AlignHCenter | Qt::AlignTop);
    header.text(QRectF(26, 14, w - 52, 6), Institution::agency(), arial(10), Qt::AlignHCenter | Qt::AlignTop);
    Element& lugar = header.memo(QRectF(40, 27, w - 40, 9), d.lugarYFecha, times(16));
    lugar.align = Qt::AlignRight | Qt::AlignTop;
    lugar.name = QStringLiteral("LugarYFecha");

    row(l, 10).text(QRectF(0, 0, w, 10), QStringLiteral("PEDIDO DE INFORMES SOBRE CONDENAS  Y PROCESOS PENDIENTES"),
                    arial(13, true), Qt::AlignCenter);
    row(l, 7).text(QRectF(0, 0, w, 7), QStringLiteral("ORGANISMO REQUIRENTE"), arial(10, true), Qt::AlignCenter);
    {
        Band& b = row(l, 8);
        labelled(b, 2, 1.5, 124, QStringLiteral("Fuero de Competencia - Nro."), d.xOrg, QStringLiteral("X_ORG"));
        labelled(b, 126, 1.5, w - 2, QStringLiteral("Secretaria:"), d.xSec, QStringLiteral("X_SEC"));
    }
    {
        Band& b = row(l, 8);
        labelled(b, 2, 1.5, 88, QStringLiteral("Calle - Nº:"), d.xDom, QStringLiteral("X_DOM"));
        labelled(b, 90, 1.5, 142, QStringLiteral("Localidad:"), d.xLoc, QStringLiteral("X_LOC"));
        labelled(b, 144, 1.5, w - 2, QStringLiteral("Provincia:"), d.xProv, QStringLiteral("x_prov"));
    }
    row(l, 7).text(QRectF(0, 0, w, 7), QStringLiteral("DATOS DEL CAUSANTE"), arial(10, true), Qt::AlignCenter);
    {
        Band& b = row(l, 8);
        labelled(b, 2, 1.5, 138, QStringLiteral("Motivo de la Solicitud / Delito Imputado: "), d.xTdel,
                 QStringLiteral("X_TDEL"));
        labelled(b, 140, 1.5, w - 2, QStringLiteral("Causa Nº."), d.nCausa, QStringLiteral("N_CAUSA"));
    }
    // The aliases continue the person's line, 3 dots after the end of the name.
    for (const auto& [label, main, aliases, mainName, aliasName] :
         {std::tuple{QStringLiteral("Apellido(s):"), d.qrlbApe, d.qrlbApeSup, QStringLiteral("qrlbApe"),
                     QStringLiteral("qrlbApeSup")},
          std::tuple{QStringLiteral("Nombre(s):"), d.qrlbNom, d.qrlbNomSup, QStringLiteral("qrlbNom"),
                     QStringLiteral("qrlbNomSup")}}) {
        Band& b = row(l, 8);
        labelled(b, 2, 1.5, w - 2, label, main, mainName);
        Element& sup = b.memo(QRectF(2, 1.5, w - 4, 5), aliases, arial(10, true));
        sup.follow = b.lastIndex() - 1;
        sup.followGap = dots(3);
        sup.name = aliasName;
    }
    {
        Band& b = row(l, 8);
        labelled(b, 2, 1.5, 58, QStringLiteral("Sexo:"), d.xSexo, QStringLiteral("X_SEXO"));
        labelled(b, 60, 1.5, 128, QStringLiteral("Fecha de Nacimiento:"), d.fNac, QStringLiteral("F_NAC"));
        labelled(b, 130, 1.5, w - 2, QStringLiteral("o Edad Presunta:"), d.nEdad, QStringLiteral("N_EDAD"));
    }
    {
        Band& b = row(l, 8);
        labelled(b, 2, 1.5, 70, QStringLiteral("Nacionalidad:"), d.xNac, QStringLiteral("X_NAC"));
        labelled(b, 72, 1.5, 120, QStringLiteral("D.N.I:"), d.nDoc, QStringLiteral("N_DOC"));
        labelled(b, 122, 1.5, w - 2, QStringLiteral("Exp. Por:"), d.xExpp, QStringLiteral("X_EXPP"));
    }
    labelled(row(l, 8), 2, 1.5, w - 2, QStringLiteral("Nombres del Padre:"), d.qrlbNomPadr,
             QStringLiteral("qrlbNomPadr"));
    labelled(row(l, 8), 2, 1.5, w - 2, QStringLiteral("Apellidos de la Madre:"), d.qrlbApeMadr,
             QStringLiteral("qrlbApeMadr"));
    labelled(row(l, 8), 2, 1.5, w - 2, QStringLiteral("Nombres de la Madre:"), d.qrlbNomMadr,
             QStringLiteral("qrlbNomMadr"));
    {
        Band& b = l.add(BandKind::Title, 55);
        const double half = w / 2;
        b.box(QRectF(0, 4, half - 2, 50));
        b.box(QRectF(half + 2, 4, half - 2, 50));
        b.text(QRectF(0, 47, half - 2, 6), QStringLiteral("Sello del Organismo"), arial(9), Qt::AlignHCenter);
        b.text(QRectF(half + 2, 47, half - 2, 6), QStringLiteral("Firma del Oficiante"), arial(9), Qt::AlignHCenter);
    }
    return l;
}

} // namespace qev::reports
