#include "requests/PedBol.h"

#include "core/Dataset.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace qev {

using dbf::Value;

const std::vector<PedBol::Field>& PedBol::fields() {
    using K = Kind;
    static const std::vector<Field> all{
        {"c_pedido", K::Integer, 0},
        {"c_tped", K::Text, 1},
        {"c_banco", K::SmallInteger, 0},
        {"c_tdoc", K::SmallInteger, 0},
        {"c_est", K::Text, 1},
        {"c_sexo", K::Text, 1},
        {"c_prior", K::Text, 1},
        {"c_tram", K::Text, 1},
        {"c_pais", K::SmallInteger, 0},
        {"f_ped", K::DateTime, 0},
        {"v_monto_e", K::Decimal, 0},
        {"v_monto_m", K::Decimal, 0},
        {"n_recibo_e", K::Integer, 0},
        {"x_ape1", K::Text, 15},
        {"x_ape2", K::Text, 15},
        {"x_oape", K::Text, 15},
        {"x_nom1", K::Text, 15},
        {"x_nom2", K::Text, 15},
        {"x_nom3", K::Text, 15},
        {"n_doc", K::Integer, 0},
        {"f_nac", K::DateTime, 0},
        {"x_nom1p", K::Text, 15},
        {"x_nom2p", K::Text, 15},
        {"x_nom3p", K::Text, 15},
        {"x_ape1m", K::Text, 15},
        {"x_ape2m", K::Text, 15},
        {"x_nom1m", K::Text, 15},
        {"x_nom2m", K::Text, 15},
        {"x_nom3m", K::Text, 15},
        {"m_exc_art51", K::Boolean, 0},
        {"n_ident", K::Integer, 0},
        {"c_modaltram", K::Text, 2},
        {"x_presentar_ante", K::Text, 80},
        {"x_direc_solic", K::Text, 80},
        {"c_prov_solic", K::SmallInteger, 0},
        {"x_tel_postal", K::Text, 20},
        {"c_pais_solic", K::SmallInteger, 0},
        {"c_segur", K::Text, 10},
        {"f_entrega", K::DateTime, 0},
        {"n_expe", K::Integer, 0},
        {"c_expp", K::Text, 2},
        {"c_res", K::Text, 1},
        {"n_pront", K::Integer, 0},
        {"n_recibo_m", K::Integer, 0},
        {"c_ofi", K::Text, 2},
        {"c_rechazo", K::Text, 18},
        {"c_pedqev", K::Integer, 0},
        {"c_regqev", K::SmallInteger, 0},
        {"c_clasder", K::Text, 18},
        {"c_clasizq", K::Text, 18},
        {"c_carped", K::Text, 1},
        {"c_resnom", K::Text, 1},
        {"f_fin", K::DateTime, 0},
        {"n_equipo", K::SmallInteger, 0},
        {"c_prefijo", K::Text, 20},
        {"c_sufijo", K::Text, 20},
        {"m_tramvirtual", K::Boolean, 0},
        {"username", K::Text, 255},
        {"c_pedido_pedpen", K::Integer, 0},
        {"c_tped_pedpen", K::Text, 1},
        {"x_apenom_ident", K::Text, 80},
        {"x_lugar", K::Text, 80},
        {"x_nomape_postal", K::Text, 80},
        {"c_loc_solic", K::SmallInteger, 0},
        {"c_codpos_solic", K::SmallInteger, 0},
        {"x_email_postal", K::Text, 80},
        {"c_boleta_web", K::Text, 11},
    };
    return all;
}

const PedBol::Field* PedBol::field(const QString& name) {
    for (const Field& f : fields())
        if (name.compare(QLatin1String(f.name), Qt::CaseInsensitive) == 0) return &f;
    return nullptr;
}

namespace {

int indexOf(const QString& name) {
    const auto& all = PedBol::fields();
    for (size_t i = 0; i < all.size(); ++i)
        if (name.compare(QLatin1String(all[i].name), Qt::CaseInsensitive) == 0) return static_cast<int>(i);
    return -1;
}

std::optional<Value> convert(const PedBol::Field& f, const QString& raw) {
    const QString t = raw.trimmed();
    switch (f.kind) {
    case PedBol::Kind::Text:
        // A text field keeps as many characters as it holds, like any fixed-width text field.
        return Value(raw.left(f.size).toStdString());
    case PedBol::Kind::Integer:
    case PedBol::Kind::SmallInteger: {
        bool ok = false;
        const qlonglong n = t.toLongLong(&ok);
        const qlonglong lo = f.kind == PedBol::Kind::SmallInteger ? std::numeric_limits<qint16>::min()
                                                                  : std::numeric_limits<qint32>::min();
        const qlonglong hi = f.kind == PedBol::Kind::SmallInteger ? std::numeric_limits<qint16>::max()
                                                                  : std::numeric_limits<qint32>::max();
        if (!ok || n < lo || n > hi) return std::nullopt;
        return Value(static_cast<int64_t>(n));
    }
    case PedBol::Kind::Decimal: {
        bool ok = false;
        const double d = QString(t).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
        if (!ok || !std::isfinite(d) || std::fabs(d) >= 1e19) return std::nullopt;
        return Value(d);
    }
    case PedBol::Kind::DateTime: {
        auto dt = parseCentralDateTime(t);
        if (!dt) return std::nullopt;
        return Value(*dt);
    }
    case PedBol::Kind::Boolean: {
        const QString l = t.toLower();
        if (l == QStringLiteral("true") || l == QStringLiteral("t") || l == QStringLiteral("1") ||
            l == QStringLiteral("s") || l == QStringLiteral("si"))
            return Value(true);
        if (l == QStringLiteral("false") || l == QStringLiteral("f") || l == QStringLiteral("0") ||
            l == QStringLiteral("n") || l == QStringLiteral("no"))
            return Value(false);
        return std::nullopt;
    }
    }
    return std::nullopt;
}

} // namespace

std::optional<dbf::DateTime> parseCentralDateTime(const QString& text) {
    static const QRegularExpression local(
        QStringLiteral("^\\s*(\\d{1,2})/(\\d{1,2})/(\\d{4})(?:[ T]+(\\d{1,2}):(\\d{2})(?::(\\d{2})(?:\\.\\d+)?)?"
                       "(?:\\s*([aApP])\\.?\\s*[mM]\\.?)?)?\\s*$"));
    static const QRegularExpression iso(
        QStringLiteral("^\\s*(\\d{4})-(\\d{2})-(\\d{2})(?:[ "
                       "T](\\d{2}):(\\d{2})(?::(\\d{2})(?:\\.\\d+)?)?(?:Z|[+-]\\d{2}:?\\d{2})?)?\\s*$"));
    int y = 0, m = 0, d = 0, hh = 0, mm = 0, ss = 0;
    if (auto l = local.match(text); l.hasMatch()) {
        d = l.captured(1).toInt();
        m = l.captured(2).toInt();
        y = l.captured(3).toInt();
        hh = l.captured(4).toInt();
        mm = l.captured(5).toInt();
        ss = l.captured(6).toInt();
        const QString half = l.captured(7).toLower();
        if (!half.isEmpty()) {
            if (hh < 1 || hh > 12) return std::nullopt;
            if (half == QStringLiteral("p") && hh < 12) hh += 12;
            if (half == QStringLiteral("a") && hh == 12) hh = 0;
        }
    } else if (auto i = iso.match(text); i.hasMatch()) {
        y = i.captured(1).toInt();
        m = i.captured(2).toInt();
        d = i.captured(3).toInt();
        hh = i.captured(4).toInt();
        mm = i.captured(5).toInt();
        ss = i.captured(6).toInt();
    } else {
        return std::nullopt;
    }
    const dbf::Date date{y, m, d};
    if (!date.valid() || hh > 23 || mm > 59 || ss > 59) return std::nullopt;
    return dbf::DateTime{date, ((hh * 60LL + mm) * 60LL + ss) * 1000LL};
}

void PedBol::insert() {
    m_pending = std::vector<Value>(fields().size());
}

bool PedBol::setText(const QString& name, const QString& text) {
    const int i = indexOf(name);
    if (i < 0 || !m_pending) return false;
    auto v = convert(fields()[static_cast<size_t>(i)], text);
    if (!v) return false;
    (*m_pending)[static_cast<size_t>(i)] = std::move(*v);
    return true;
}

void PedBol::post() {
    if (!m_pending) return;
    m_row = std::move(m_pending);
    m_pending.reset();
}

Value PedBol::value(const QString& name) const {
    const int i = indexOf(name);
    if (i < 0 || !m_row) return Value();
    return (*m_row)[static_cast<size_t>(i)];
}

QString PedBol::text(const QString& name) const {
    const Value v = value(name);
    if (v.isDateTime()) return formatDate(v.dateTime().date);
    return valueText(v);
}

} // namespace qev
