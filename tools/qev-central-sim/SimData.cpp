#include "SimData.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace qev::sim {

const Slip* SimData::slip(const QString& boleta) const {
    for (const Slip& s : slips)
        if (s.boleta == boleta) return &s;
    return nullptr;
}

const InternetRequest* SimData::request(const QString& cTped, int cPedido, int nDoc) const {
    for (const InternetRequest& r : requests)
        if (r.cPedido == cPedido && r.nDoc == nDoc && (!r.cTped || *r.cTped == cTped)) return &r;
    return nullptr;
}

namespace {

class EntryReader {
public:
    EntryReader(const QJsonObject& o, std::string where) : m_o(o), m_where(std::move(where)) {}

    Result<void> onlyKeys(std::initializer_list<const char*> allowed) const {
        for (const QString& key : m_o.keys()) {
            bool known = false;
            for (const char* a : allowed)
                known = known || key == QLatin1String(a);
            if (!known) return fail(m_where + ": unknown key '" + key.toStdString() + "'");
        }
        return {};
    }

    Result<int> integer(const char* key, std::optional<int> fallback = std::nullopt) const {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (v.isUndefined() && fallback) return *fallback;
        const double d = v.toDouble(std::nan(""));
        if (!v.isDouble() || std::floor(d) != d || d < std::numeric_limits<int>::min() ||
            d > std::numeric_limits<int>::max())
            return fail(m_where + ": '" + key + "' must be a 32-bit whole number");
        return static_cast<int>(d);
    }

    // A text that may be null or absent.
    Result<std::optional<QString>> optionalText(const char* key) const {
        const QJsonValue v = m_o.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull()) return std::optional<QString>();
        if (!v.isString()) return fail(m_where + ": '" + key + "' must be a text or null");
        return std::optional<QString>(v.toString());
    }

    Result<QString> text(const char* key) const {
        auto t = optionalText(key);
        if (!t) return fail(t.error());
        if (!*t) return fail(m_where + ": '" + key + "' is missing");
        return **t;
    }

    Result<Misbehaviour> misbehaviour() const {
        Misbehaviour m;
        auto fault = optionalText("fault");
        if (!fault) return fail(fault.error());
        m.fault = *fault;
        auto status = integer("http_status", 0);
        if (!status) return fail(status.error());
        if (*status != 0 && (*status < 400 || *status > 599))
            return fail(m_where + ": 'http_status' must be an error status from 400 to 599");
        m.httpStatus = *status;
        auto delay = integer("delay_ms", 0);
        if (!delay) return fail(delay.error());
        if (*delay < 0 || *delay > 600000) return fail(m_where + ": 'delay_ms' must be from 0 to 600000");
        m.delayMs = *delay;
        return m;
    }

    // A list of texts; empty when absent.
    Result<QStringList> texts(const char* key) const {
        const QJsonValue v = m_o.value(QLatin1String(key));
        QStringList out;
        if (v.isUndefined()) return out;
        if (!v.isArray()) return fail(m_where + ": '" + key + "' must be a list of texts");
        for (const QJsonValue item : v.toArray()) {
            if (!item.isString()) return fail(m_where + ": '" + key + "' must be a list of texts");
            out << item.toString();
        }
        return out;
    }

    // A page's raw text and error status, shared by the state and result lists.
    Result<void> pageOverride(std::optional<QString>& text, int& httpStatus) const {
        auto t = optionalText("text");
        if (!t) return fail(t.error());
        text = *t;
        auto status = integer("http_status", 0);
        if (!status) return fail(status.error());
        if (*status != 0 && (*status < 400 || *status > 599))
            return fail(m_where + ": 'http_status' must be an error status from 400 to 599");
        httpStatus = *status;
        return {};
    }

    const QJsonObject& object() const { return m_o; }
    const std::string& where() const { return m_where; }

private:
    QJsonObject m_o;
    std::string m_where;
};

Result<Slip> readSlip(const EntryReader& in) {
    if (auto r = in.onlyKeys({"boleta", "n_doc", "pedido", "fecha", "fault", "http_status", "delay_ms", "comment"}); !r)
        return fail(r.error());
    Slip s;
    auto boleta = in.text("boleta");
    if (!boleta) return fail(boleta.error());
    auto nDoc = in.integer("n_doc");
    if (!nDoc) return fail(nDoc.error());
    auto pedido = in.integer("pedido", 0);
    if (!pedido) return fail(pedido.error());
    auto fecha = in.optionalText("fecha");
    if (!fecha) return fail(fecha.error());
    auto m = in.misbehaviour();
    if (!m) return fail(m.error());
    return Slip{*boleta, *nDoc, *pedido, *fecha, *m};
}

Result<InternetRequest> readRequest(const EntryReader& in) {
    if (auto r = in.onlyKeys({"c_tped", "c_pedido", "n_doc", "items", "text", "errorDesc", "fault", "http_status",
                              "delay_ms", "comment"});
        !r)
        return fail(r.error());
    InternetRequest q;
    auto cTped = in.optionalText("c_tped");
    if (!cTped) return fail(cTped.error());
    auto cPedido = in.integer("c_pedido");
    if (!cPedido) return fail(cPedido.error());
    auto nDoc = in.integer("n_doc");
    if (!nDoc) return fail(nDoc.error());
    auto text = in.optionalText("text");
    if (!text) return fail(text.error());
    const QJsonValue items = in.object().value(QLatin1String("items"));
    if (!items.isUndefined()) {
        if (*text) return fail(in.where() + ": give either 'items' or 'text', not both");
        if (!items.isArray()) return fail(in.where() + ": 'items' must be a list of \"name=value\" texts");
        QString joined;
        for (const QJsonValue item : items.toArray()) {
            if (!item.isString()) return fail(in.where() + ": 'items' must be a list of \"name=value\" texts");
            joined += item.toString() + QLatin1Char('|');
        }
        *text = joined;
    }
    auto errorDesc = in.optionalText("errorDesc");
    if (!errorDesc) return fail(errorDesc.error());
    auto m = in.misbehaviour();
    if (!m) return fail(m.error());
    return InternetRequest{*cTped, *cPedido, *nDoc, *text, errorDesc->value_or(QString()), *m};
}

Result<StateLists> readStates(const EntryReader& in) {
    if (auto r = in.onlyKeys({"regional", "official", "personal", "text", "http_status", "comment"}); !r)
        return fail(r.error());
    StateLists s;
    auto regional = in.integer("regional");
    if (!regional) return fail(regional.error());
    s.regional = *regional;
    auto official = in.texts("official");
    if (!official) return fail(official.error());
    s.official = *official;
    auto personal = in.texts("personal");
    if (!personal) return fail(personal.error());
    s.personal = *personal;
    if (auto r = in.pageOverride(s.text, s.httpStatus); !r) return fail(r.error());
    return s;
}

Result<PageLines> readResults(const EntryReader& in) {
    if (auto r = in.onlyKeys({"regional", "lines", "text", "http_status", "comment"}); !r) return fail(r.error());
    PageLines p;
    auto regional = in.integer("regional");
    if (!regional) return fail(regional.error());
    p.regional = *regional;
    auto lines = in.texts("lines");
    if (!lines) return fail(lines.error());
    p.lines = *lines;
    if (auto r = in.pageOverride(p.text, p.httpStatus); !r) return fail(r.error());
    return p;
}

Result<VorlundEntry> readVorlund(const EntryReader& in) {
    if (auto r = in.onlyKeys({"tram", "estado", "oficina", "lines", "comment"}); !r) return fail(r.error());
    VorlundEntry v;
    auto tram = in.text("tram");
    if (!tram) return fail(tram.error());
    v.tram = *tram;
    auto lines = in.texts("lines");
    if (!lines) return fail(lines.error());
    auto estado = in.optionalText("estado");
    if (!estado) return fail(estado.error());
    auto oficina = in.optionalText("oficina");
    if (!oficina) return fail(oficina.error());
    if (!lines->isEmpty() && (*estado || *oficina))
        return fail(in.where() + ": give either 'lines' or 'estado' and 'oficina', not both");
    v.lines = *lines;
    if (*estado) v.lines << QStringLiteral("ESTADO=") + **estado;
    if (*oficina) v.lines << QStringLiteral("OFICINA=") + **oficina;
    return v;
}

Result<Rejection> readRejection(const EntryReader& in) {
    if (auto r = in.onlyKeys({"kind", "c_ped", "c_reg", "motivo", "fault", "http_status", "delay_ms", "comment"}); !r)
        return fail(r.error());
    Rejection j;
    auto kind = in.text("kind");
    if (!kind) return fail(kind.error());
    if (*kind != QLatin1String("oficial") && *kind != QLatin1String("privado"))
        return fail(in.where() + ": 'kind' must be \"oficial\" or \"privado\"");
    j.personal = *kind == QLatin1String("privado");
    auto cPed = in.integer("c_ped");
    if (!cPed) return fail(cPed.error());
    auto cReg = in.integer("c_reg");
    if (!cReg) return fail(cReg.error());
    auto motivo = in.text("motivo");
    if (!motivo) return fail(motivo.error());
    auto m = in.misbehaviour();
    if (!m) return fail(m.error());
    j.cPed = *cPed;
    j.cReg = *cReg;
    j.motivo = *motivo;
    j.misbehaviour = *m;
    return j;
}

Result<SecurityCode> readSecurity(const EntryReader& in) {
    if (auto r = in.onlyKeys({"c_ped", "c_reg", "c_segur", "fault", "http_status", "delay_ms", "comment"}); !r)
        return fail(r.error());
    SecurityCode c;
    auto cPed = in.integer("c_ped");
    if (!cPed) return fail(cPed.error());
    auto cReg = in.integer("c_reg");
    if (!cReg) return fail(cReg.error());
    auto code = in.text("c_segur");
    if (!code) return fail(code.error());
    auto m = in.misbehaviour();
    if (!m) return fail(m.error());
    c.cPed = *cPed;
    c.cReg = *cReg;
    c.code = *code;
    c.misbehaviour = *m;
    return c;
}

Result<BiometricEntry> readBiometric(const EntryReader& in) {
    if (auto r = in.onlyKeys({"app_id", "wsq_sha256", "score", "fault", "http_status", "delay_ms", "comment"}); !r)
        return fail(r.error());
    BiometricEntry b;
    auto appId = in.text("app_id");
    if (!appId) return fail(appId.error());
    b.appId = *appId;
    auto sha = in.optionalText("wsq_sha256");
    if (!sha) return fail(sha.error());
    if (*sha) {
        const QByteArray digest = QByteArray::fromHex(sha->value().toLatin1());
        static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{64}$"));
        if (!hex.match(**sha).hasMatch() || digest.size() != 32)
            return fail(in.where() + ": 'wsq_sha256' must be 64 hexadecimal digits");
        b.wsqSha256 = digest;
    }
    // Whole numbers a JSON reader keeps exactly: up to 2^53 either way.
    const QJsonValue score = in.object().value(QLatin1String("score"));
    const double d = score.toDouble(std::nan(""));
    constexpr double kExact = 9007199254740992.0;
    if (!score.isDouble() || std::floor(d) != d || d < -kExact || d > kExact)
        return fail(in.where() + ": 'score' must be a whole number of up to 53 bits");
    b.score = static_cast<qint64>(d);
    auto m = in.misbehaviour();
    if (!m) return fail(m.error());
    b.misbehaviour = *m;
    return b;
}

// Reads every object of the list `key` with `read` into `out`.
template <typename T, typename F>
Result<void> readList(const QJsonObject& root, const char* key, F read, std::vector<T>& out) {
    const QJsonValue v = root.value(QLatin1String(key));
    if (v.isUndefined()) return {};
    if (!v.isArray()) return fail(std::string("'") + key + "' must be a list");
    const QJsonArray entries = v.toArray();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const std::string where = std::string(key) + "[" + std::to_string(i) + "]";
        if (!entries.at(i).isObject()) return fail(where + " must be an object");
        auto entry = read(EntryReader(entries.at(i).toObject(), where));
        if (!entry) return fail(entry.error());
        out.push_back(std::move(*entry));
    }
    return {};
}

} // namespace

Result<SimData> parseSimData(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (doc.isNull())
        return fail("not JSON at offset " + std::to_string(error.offset) + ": " + error.errorString().toStdString());
    if (!doc.isObject()) return fail("the data must be a JSON object");
    const QJsonObject root = doc.object();
    if (auto r = EntryReader(root, "the data")
                     .onlyKeys({"slips", "requests", "messages", "states", "results", "vorlund", "rejections",
                                "security", "biometric", "comment"});
        !r)
        return fail(r.error());
    SimData data;
    if (const QJsonValue m = root.value(QLatin1String("messages")); !m.isUndefined()) {
        if (!m.isObject()) return fail("'messages' must be an object");
        const EntryReader in(m.toObject(), "messages");
        if (auto r = in.onlyKeys({"reply", "fault", "http_status", "delay_ms", "comment"}); !r) return fail(r.error());
        auto reply = in.optionalText("reply");
        if (!reply) return fail(reply.error());
        if (*reply) data.messages.reply = **reply;
        auto mb = in.misbehaviour();
        if (!mb) return fail(mb.error());
        data.messages.misbehaviour = *mb;
    }
    for (const char* list : {"slips", "requests"}) {
        const QJsonValue v = root.value(QLatin1String(list));
        if (v.isUndefined()) continue;
        if (!v.isArray()) return fail(std::string("'") + list + "' must be a list");
        const QJsonArray entries = v.toArray();
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const std::string where = std::string(list) + "[" + std::to_string(i) + "]";
            if (!entries.at(i).isObject()) return fail(where + " must be an object");
            const EntryReader in(entries.at(i).toObject(), where);
            if (list[0] == 's') {
                auto s = readSlip(in);
                if (!s) return fail(s.error());
                data.slips.push_back(std::move(*s));
            } else {
                auto q = readRequest(in);
                if (!q) return fail(q.error());
                data.requests.push_back(std::move(*q));
            }
        }
    }
    if (auto r = readList(root, "states", readStates, data.states); !r) return fail(r.error());
    if (auto r = readList(root, "results", readResults, data.results); !r) return fail(r.error());
    if (auto r = readList(root, "vorlund", readVorlund, data.vorlund); !r) return fail(r.error());
    if (auto r = readList(root, "rejections", readRejection, data.rejections); !r) return fail(r.error());
    if (auto r = readList(root, "security", readSecurity, data.security); !r) return fail(r.error());
    if (auto r = readList(root, "biometric", readBiometric, data.biometric); !r) return fail(r.error());
    return data;
}

Result<SimData> loadSimData(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return fail("cannot read " + path.toStdString() + ": " + f.errorString().toStdString());
    auto data = parseSimData(f.readAll());
    if (!data) return fail(path.toStdString() + ": " + data.error());
    return data;
}

} // namespace qev::sim
