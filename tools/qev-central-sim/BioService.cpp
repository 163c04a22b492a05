#include "BioService.h"

#include <QCryptographicHash>

namespace qev::sim {

namespace {

const QString kUnprocessable = QStringLiteral("Server was unable to process request. ---> ");

struct Verdict {
    const BiometricEntry* entry = nullptr; // the matching finger, if any
    const BiometricEntry* user = nullptr;  // the user's first entry, which misbehaves when no finger matches
};

Verdict judge(const SimData& data, const QString& appId, const QByteArray& wsq) {
    Verdict v;
    const QByteArray digest = QCryptographicHash::hash(wsq, QCryptographicHash::Sha256);
    for (const BiometricEntry& b : data.biometric) {
        if (b.appId.compare(appId, Qt::CaseInsensitive) != 0) continue;
        if (!v.user) v.user = &b;
        if (!b.wsqSha256 || *b.wsqSha256 == digest) {
            v.entry = &b;
            break;
        }
    }
    return v;
}

// The WSQ bytes of the argument: Base64 as .NET reads it (blanks and line breaks ignored), starting with the WSQ
// start-of-image marker; otherwise the fault text.
Result<QByteArray> wsqArgument(const std::optional<QString>& text) {
    if (!text)
        return fail((kUnprocessable + QStringLiteral("Value cannot be null. (Parameter 'WSQBase64')")).toStdString());
    // Characters outside Latin-1 become '?', which no Base64 text holds.
    QByteArray compact = text->toLatin1();
    compact.removeIf([](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
    auto decoded = QByteArray::fromBase64Encoding(compact, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || compact.size() % 4 != 0)
        return fail((kUnprocessable + QStringLiteral("WSQBase64 is not a valid Base-64 string.")).toStdString());
    if (decoded.decoded.size() < 2 || static_cast<unsigned char>(decoded.decoded.at(0)) != 0xFF ||
        static_cast<unsigned char>(decoded.decoded.at(1)) != 0xA0)
        return fail((kUnprocessable + QStringLiteral("WSQBase64 does not hold a WSQ image (no start-of-image marker "
                                                     "FF A0)."))
                        .toStdString());
    return decoded.decoded;
}

AsmxOperation verification(const SimData& data, const QString& name, bool wide) {
    return {name,
            {{QStringLiteral("AppId"), ParamType::String}, {QStringLiteral("WSQBase64"), ParamType::String}},
            [&data, name, wide](const AsmxArgs& args) {
                AsmxOutcome o;
                auto wsq = wsqArgument(args.string(QStringLiteral("WSQBase64")));
                if (!wsq) {
                    o.fault = QString::fromStdString(wsq.error());
                    return o;
                }
                const Verdict v = judge(data, args.string(QStringLiteral("AppId")).value_or(QString()), *wsq);
                if (const BiometricEntry* m = v.entry ? v.entry : v.user) {
                    o.fault = m->misbehaviour.fault;
                    o.httpStatus = m->misbehaviour.httpStatus;
                    o.delayMs = m->misbehaviour.delayMs;
                }
                const qint64 score = v.entry ? v.entry->score : 0;
                const QString text = wide ? QString::number(score)
                                          : QString::number(static_cast<qint32>(
                                                static_cast<quint32>(static_cast<quint64>(score) & 0xFFFFFFFFu)));
                o.outputs.push_back({name + QStringLiteral("Result"), text});
                return o;
            }};
}

} // namespace

AsmxService bioQevService(const SimData& data) {
    AsmxService s{QStringLiteral("BioQEV"), QStringLiteral("/BioQEV/BioQEV.asmx"), {}};
    s.operations.push_back(verification(data, QStringLiteral("VerificarHuellaPuntaje"), false));
    s.operations.push_back(verification(data, QStringLiteral("VerificarHuella"), true));
    return s;
}

} // namespace qev::sim
