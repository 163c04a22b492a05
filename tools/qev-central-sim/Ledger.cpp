#include "Ledger.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace qev::sim {

qint64 nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

namespace {

QJsonObject toJson(const CentralEvent& e) {
    return QJsonObject{{QStringLiteral("ms"), static_cast<double>(e.ms)},
                       {QStringLiteral("personal"), e.personal},
                       {QStringLiteral("pedido"), e.pedido},
                       {QStringLiteral("regional"), e.regional},
                       {QStringLiteral("estado"), e.estado},
                       {QStringLiteral("expediente"), e.expediente},
                       {QStringLiteral("res"), e.res},
                       {QStringLiteral("motivo"), e.motivo},
                       {QStringLiteral("segur"), e.segur}};
}

// A line of the replies file; nothing for a line that is not one of ours (a torn last line, say).
std::optional<CentralEvent> fromJson(const QByteArray& line) {
    const QJsonDocument doc = QJsonDocument::fromJson(line);
    if (!doc.isObject()) return std::nullopt;
    const QJsonObject o = doc.object();
    CentralEvent e;
    e.ms = static_cast<qint64>(o.value(QStringLiteral("ms")).toDouble());
    e.personal = o.value(QStringLiteral("personal")).toBool();
    e.pedido = o.value(QStringLiteral("pedido")).toInt();
    e.regional = o.value(QStringLiteral("regional")).toInt();
    e.estado = o.value(QStringLiteral("estado")).toString();
    e.expediente = o.value(QStringLiteral("expediente")).toInt();
    e.res = o.value(QStringLiteral("res")).toString();
    e.motivo = o.value(QStringLiteral("motivo")).toString();
    e.segur = o.value(QStringLiteral("segur")).toString();
    if (e.pedido <= 0) return std::nullopt;
    return e;
}

} // namespace

void Ledger::record(CentralEvent event) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(std::move(event));
}

std::vector<CentralEvent> Ledger::events() const {
    std::vector<CentralEvent> all;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        all = m_events;
    }
    if (!m_repliesFile.isEmpty()) {
        QFile f(m_repliesFile);
        if (f.open(QIODevice::ReadOnly))
            while (!f.atEnd())
                if (auto e = fromJson(f.readLine())) all.push_back(std::move(*e));
    }
    std::stable_sort(all.begin(), all.end(), [](const CentralEvent& a, const CentralEvent& b) { return a.ms < b.ms; });
    return all;
}

std::vector<RequestState> Ledger::requests() const {
    std::vector<RequestState> out;
    for (const CentralEvent& e : events()) {
        auto it = std::find_if(out.begin(), out.end(), [&](const RequestState& r) {
            return r.personal == e.personal && r.pedido == e.pedido && r.regional == e.regional;
        });
        if (it == out.end()) {
            out.push_back(RequestState{e.personal, e.pedido, e.regional, {}, 0, {}, {}, {}});
            it = out.end() - 1;
        }
        if (!e.estado.isEmpty()) it->estado = e.estado;
        if (e.expediente > 0) it->expediente = e.expediente;
        if (!e.res.isEmpty()) it->res = e.res;
        if (!e.motivo.isEmpty()) it->motivo = e.motivo;
        if (!e.segur.isEmpty()) it->segur = e.segur;
    }
    return out;
}

std::optional<RequestState> Ledger::request(bool personal, int pedido, int regional) const {
    for (const RequestState& r : requests())
        if (r.personal == personal && r.pedido == pedido && r.regional == regional) return r;
    return std::nullopt;
}

bool Ledger::appendToFile(const QString& file, const CentralEvent& event, QString& error) {
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) {
        error = QStringLiteral("cannot write %1: %2").arg(file, f.errorString());
        return false;
    }
    // One write of a whole line, so a server reading at the same time sees it whole or not at all.
    const QByteArray line = QJsonDocument(toJson(event)).toJson(QJsonDocument::Compact) + '\n';
    if (f.write(line) != line.size() || !f.flush()) {
        error = QStringLiteral("cannot write %1: %2").arg(file, f.errorString());
        return false;
    }
    return true;
}

} // namespace qev::sim
