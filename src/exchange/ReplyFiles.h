#pragma once
// The files the central office sends: the reply data file "resp.dat" (a profile file with a [DATA] section), the
// state lists "EstOfi.DAT" / "EstPriv.DAT" and the web pages' state and result lists. Pure readers over bytes that
// never throw, whatever the bytes.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>

namespace qev {

// The keys of one section of a profile file as Windows reads them: section and key names without regard to case,
// blanks around names and values dropped, one pair of enclosing quotes removed, the first occurrence of a key
// kept, at most 2047 characters of a value. Text is Windows-1252 unless it is valid UTF-8.
std::map<QString, QString> readProfileSection(const QByteArray& text, const QString& section);

struct RespDat {
    // The numbers as read: nullopt when the key is present but not a whole decimal number; 0 when missing.
    std::optional<int> c_ped, c_reg, n_expe;
    QString c_est, x_obs, n_cert, c_rechazo, c_res;

    // A reply names a request only with numbers that read and are greater than 0.
    bool namesRequest() const { return c_ped.value_or(0) > 0 && c_reg.value_or(0) > 0 && n_expe.has_value(); }
};
RespDat readRespDat(const QByteArray& text);

// One line of a state list ("1234;T|5678") or of a result list ("1234;T|5678,R").
struct StateLine {
    int pedido = 0;
    QString estado; // empty: no state code
    QString expediente;
    QString resultado; // result lists only
};
// Nullopt for a line that names no request (no number before ";", or not a whole number greater than 0).
std::optional<StateLine> parseStateLine(const QString& line);
std::optional<StateLine> parseResultLine(const QString& line);

enum class ListKind { Lines, NoRequests, Unavailable };
// "NO_HAY_PEDIDOS" anywhere (or no lines): nothing in process; "Error 404" anywhere: the service is unavailable.
ListKind classifyList(const QStringList& lines);

// A response split at CR, LF or CR LF; the last line is kept with or without its break.
QStringList DividirLineas(const QByteArray& bytes);

// Text of a file the central office wrote: UTF-8 when valid, else Windows-1252.
QString officeText(const QByteArray& bytes);

} // namespace qev
