#pragma once
// The two lookups the request rules make on the central office's slip services: the request behind a slip (into
// the slip data `PedBol`) and the payment date of a slip. Every service failure becomes a message and an answer.
#include "requests/PedBol.h"

#include <QDate>
#include <QString>

#include <functional>
#include <string>

namespace qev {

class Prompter;
class SlipService;

class SlipLookups {
public:
    explicit SlipLookups(Prompter& prompter) : m_prompter(prompter) {}

    // The central office's services; without them every lookup fails.
    void setService(SlipService* service) { m_service = service; }
    SlipService* service() const { return m_service; }

    // 1 when `pedBol` now holds the slip's request, 0 when the service knows none for this slip and document,
    // -1 on any failure (`message` may say why).
    int ObtenerDatosBoleta(const QString& boleta, int nDoc, QString& message);
    // True with the payment date when the service gives one.
    bool ObtenerFechaPago(const QString& boleta, QDate& date);

    // Told the technical reason of every failed service call ("operation: reason"), for the log file.
    std::function<void(const QString&)> logFailure;
    // Passes a failed call's reason to `logFailure`.
    void reportFailure(const char* operation, const std::string& reason) const;

    PedBol& pedBol() { return m_pedBol; }
    const PedBol& pedBol() const { return m_pedBol; }

private:
    SlipService* m_service = nullptr;
    Prompter& m_prompter;
    PedBol m_pedBol;
};

} // namespace qev
