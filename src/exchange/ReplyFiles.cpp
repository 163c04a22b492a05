#include "exchange/ReplyFiles.h"

#include "dbf/Codepage.h"

#include <QStringDecoder>

namespace qev {

namespace {

constexpr int kMaxProfileValue = 2047;

bool isWholeNumber(const QString& text) {
    if (text.isEmpty()) return false;
    qsizetype i = (text.front() == QLatin1Char('-') || text.front() == QLatin1Char('+')) ? 1 : 0;
    if (i == text.size()) return false;
    for (; i < text.size(); ++i)
        if (!text.at(i).isDigit() || text.at(i).unicode() > 127) return false;
    return true;
}

std::optional<int> numberKey(const std::map<QString, QString>& keys, const char* name) {
    auto it = keys.find(QString::fromLatin1(name));
    if (it == keys.end() || it->second.isEmpty()) return 0;
    if (!isWholeNumber(it->second)) return std::nullopt;
    bool ok = false;
    const int n = it->second.toInt(&ok);
    if (!ok) return std::nullopt;
    return n;
}

QString textKey(const std::map<QString, QString>& keys, const char* name) {
    auto it = keys.find(QString::fromLatin1(name));
    return it == keys.end() ? QString() : it->second;
}

// The request number of a list line: the text before the first ";", which must not be the first character.
std::optional<StateLine> lineNumber(const QString& line, qsizetype& semi) {
    semi = line.indexOf(QLatin1Char(';'));
    if (semi <= 0) return std::nullopt;
    const QString number = line.left(semi).trimmed();
    if (!isWholeNumber(number)) return std::nullopt;
    bool ok = false;
    const int n = number.toInt(&ok);
    if (!ok || n <= 0) return std::nullopt;
    StateLine out;
    out.pedido = n;
    return out;
}

} // namespace

QString officeText(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError()) return text;
    return QString::fromStdString(dbf::Codepage::byName("cp1252").toUtf8(bytes.toStdString()));
}

std::map<QString, QString> readProfileSection(const QByteArray& bytes, const QString& section) {
    std::map<QString, QString> keys;
    const QString wanted = section.trimmed().toLower();
    bool inside = false;
    bool seen = false;
    qsizetype from = 0;
    const qsizetype size = bytes.size();
    while (from < size) {
        qsizetype end = from;
        while (end < size && bytes[end] != '\n' && bytes[end] != '\r')
            ++end;
        // A line longer than a value can be is cut: only its start can matter.
        const QByteArray raw = bytes.mid(from, std::min<qsizetype>(end - from, 4 * kMaxProfileValue));
        from = end + 1;
        const QString line = officeText(raw).trimmed();
        if (line.isEmpty() || line.front() == QLatin1Char(';')) continue;
        if (line.front() == QLatin1Char('[')) {
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            const QString name = (close > 0 ? line.mid(1, close - 1) : line.mid(1)).trimmed().toLower();
            // Windows reads the first section of a name only.
            inside = !seen && name == wanted;
            if (inside) seen = true;
            continue;
        }
        if (!inside) continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) continue;
        const QString key = line.left(eq).trimmed().toLower();
        if (key.isEmpty() || keys.count(key)) continue;
        QString value = line.mid(eq + 1).trimmed();
        if (value.size() >= 2 && ((value.front() == QLatin1Char('"') && value.back() == QLatin1Char('"')) ||
                                  (value.front() == QLatin1Char('\'') && value.back() == QLatin1Char('\''))))
            value = value.mid(1, value.size() - 2);
        keys.emplace(key, value.left(kMaxProfileValue));
    }
    return keys;
}

RespDat readRespDat(const QByteArray& text) {
    const auto keys = readProfileSection(text, QStringLiteral("DATA"));
    RespDat r;
    r.c_ped = numberKey(keys, "c_ped");
    r.c_reg = numberKey(keys, "c_reg");
    r.n_expe = numberKey(keys, "n_expe");
    r.c_est = textKey(keys, "c_est");
    r.x_obs = textKey(keys, "x_obs");
    r.n_cert = textKey(keys, "n_cert");
    r.c_rechazo = textKey(keys, "c_rechazo");
    r.c_res = textKey(keys, "c_res");
    return r;
}

std::optional<StateLine> parseStateLine(const QString& raw) {
    const QString line = raw.trimmed();
    qsizetype semi = 0;
    auto out = lineNumber(line, semi);
    if (!out) return out;
    // Positions counted from 1: "|" at position 4 or later is index 3 or later.
    const qsizetype bar = line.indexOf(QLatin1Char('|'));
    if (bar >= 3) {
        if (bar > semi) out->estado = line.mid(semi + 1, bar - semi - 1);
        if (bar < line.size() - 1) out->expediente = line.mid(bar + 1);
    }
    return out;
}

std::optional<StateLine> parseResultLine(const QString& raw) {
    const QString line = raw.trimmed();
    qsizetype semi = 0;
    auto out = lineNumber(line, semi);
    if (!out) return out;
    const qsizetype bar = line.indexOf(QLatin1Char('|'));
    if (bar >= 3 && bar > semi) out->estado = line.mid(semi + 1, bar - semi - 1);
    const qsizetype comma = line.indexOf(QLatin1Char(','));
    if (comma >= 5) {
        if (bar >= 0 && comma > bar) out->expediente = line.mid(bar + 1, comma - bar - 1);
        if (comma < line.size() - 1) out->resultado = line.mid(comma + 1);
    }
    return out;
}

ListKind classifyList(const QStringList& lines) {
    if (lines.isEmpty()) return ListKind::NoRequests;
    for (const QString& l : lines)
        if (l.contains(QLatin1String("NO_HAY_PEDIDOS"))) return ListKind::NoRequests;
    for (const QString& l : lines)
        if (l.contains(QLatin1String("Error 404"))) return ListKind::Unavailable;
    return ListKind::Lines;
}

QStringList DividirLineas(const QByteArray& bytes) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n') continue;
        lines << officeText(bytes.mid(start, i - start));
        if (c == '\r' && i + 1 < size && bytes[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < size) lines << officeText(bytes.mid(start));
    return lines;
}

} // namespace qev
