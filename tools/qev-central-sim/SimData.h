#pragma once
// The simulator's data file (JSON):
//   {"slips": [{"boleta": "ABC12345678", "n_doc": 30111222, "pedido": 123, "fecha": "15/03/2026"}],
//    "requests": [{"c_tped": "P", "c_pedido": 123, "n_doc": 30111222, "items": ["x_ape1=GOMEZ", "c_tram=6"],
//                  "errorDesc": ""}]}
// A slip's "fecha" may be null or absent (no payment date). A request gives its data as "items" (each written with
// a "|" after it) or as a raw "text"; with neither its result is null. Any slip or request may also carry
// "fault" (a soap:Server fault with that text), "http_status" (an HTTP error instead of an answer) and "delay_ms"
// (a wait before answering), which apply to every call that names it. "messages" sets the answer of the message
// service's SendMessage and how it misbehaves (see MessageServiceData). Unknown keys are refused.
//
// The central office's pages and its two small services:
//   "states":   [{"regional": 7, "official": ["1234;T|5678"], "personal": ["88;C|900"]}]
//   "results":  [{"regional": 7, "lines": ["88;C|900,R"]}]
//   "vorlund":  [{"tram": "U5678", "estado": "EN TRAMITE", "oficina": "MESA DE ENTRADAS"}] or with raw "lines"
//   "rejections": [{"kind": "oficial" | "privado", "c_ped": 1234, "c_reg": 7, "motivo": "..."}]
//   "security": [{"c_ped": 88, "c_reg": 7, "c_segur": "AB12CD34EF"}]
// A states or results entry may carry "http_status" (that regional's page answers the error) or "text" (its page
// answers exactly this text instead of the lines). Entries of "rejections" and "security" may misbehave like slips.
//
// The biometric service BioQEV (VerificarHuella answers the score as xs:long, VerificarHuellaPuntaje as xs:int, its
// low 32 bits):
//   "biometric": [{"app_id": "admin", "wsq_sha256": "<64 hex digits>", "score": 5}]
// A call is answered by the first entry whose "app_id" equals AppId (letter case ignored) and whose "wsq_sha256" is
// the SHA-256 of the decoded WSQBase64 bytes; without "wsq_sha256" any finger matches. A user with no matching finger
// or no entry scores 0. "score" is a whole number of up to 53 bits. Entries may misbehave like slips: the entry that
// answers a call, else the user's first entry. WSQBase64 must be Base64 (blanks and line breaks ignored) of bytes
// that begin with the WSQ start-of-image marker FF A0, else the call answers a soap:Server fault.
#include "util/Result.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace qev::sim {

struct Misbehaviour {
    std::optional<QString> fault;
    int httpStatus = 0;
    int delayMs = 0;
};

struct Slip {
    QString boleta;
    int nDoc = 0;
    int pedido = 0;
    std::optional<QString> fecha;
    Misbehaviour misbehaviour;
};

struct InternetRequest {
    std::optional<QString> cTped; // any kind when absent
    int cPedido = 0;
    int nDoc = 0;
    std::optional<QString> text;
    QString errorDesc;
    Misbehaviour misbehaviour;
};

// How the message service answers: "messages": {"reply": "...", "fault": ..., "http_status": ..., "delay_ms": ...}.
struct MessageServiceData {
    QString reply = QStringLiteral("Recibido");
    Misbehaviour misbehaviour;
};

// The lines one regional's page lists (or the raw text or error it answers instead).
struct PageLines {
    int regional = 0;
    QStringList lines;
    std::optional<QString> text;
    int httpStatus = 0;
};

struct StateLists {
    int regional = 0;
    QStringList official;
    QStringList personal;
    std::optional<QString> text;
    int httpStatus = 0;
};

struct VorlundEntry {
    QString tram;
    QStringList lines; // "ESTADO=..." and "OFICINA=..." unless given raw
};

struct Rejection {
    bool personal = false;
    int cPed = 0;
    int cReg = 0;
    QString motivo;
    Misbehaviour misbehaviour;
};

struct SecurityCode {
    int cPed = 0;
    int cReg = 0;
    QString code;
    Misbehaviour misbehaviour;
};

struct BiometricEntry {
    QString appId;
    std::optional<QByteArray> wsqSha256; // 32 bytes; any finger when absent
    qint64 score = 0;
    Misbehaviour misbehaviour;
};

struct SimData {
    std::vector<Slip> slips;
    std::vector<InternetRequest> requests;
    MessageServiceData messages;
    std::vector<StateLists> states;
    std::vector<PageLines> results;
    std::vector<VorlundEntry> vorlund;
    std::vector<Rejection> rejections;
    std::vector<SecurityCode> security;
    std::vector<BiometricEntry> biometric;

    const Slip* slip(const QString& boleta) const;
    const InternetRequest* request(const QString& cTped, int cPedido, int nDoc) const;
};

Result<SimData> parseSimData(const QByteArray& json);
Result<SimData> loadSimData(const QString& path);

} // namespace qev::sim
