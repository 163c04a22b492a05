#include "requests/SlipLookups.h"

#include "requests/RequestDataText.h"
#include "requests/SlipService.h"
#include "util/Prompter.h"

#include <optional>

namespace qev {

void SlipLookups::reportFailure(const char* operation, const std::string& reason) const {
    if (logFailure) logFailure(QString::fromLatin1(operation) + QStringLiteral(": ") + QString::fromStdString(reason));
}

int SlipLookups::ObtenerDatosBoleta(const QString& boleta, int nDoc, QString& message) {
    BusyScope busy(m_prompter);
    m_pedBol.clear();
    if (!m_service) {
        message = QStringLiteral("Error al intentar obtener el código de la boleta.");
        return -1;
    }
    auto number = m_service->pedidoByBoletaDoc(boleta, nDoc);
    if (!number) {
        reportFailure("GetPedidoByBoletaDoc", number.error());
        message = QStringLiteral("Error al intentar obtener el código de la boleta.");
        return -1;
    }
    if (*number <= 0) return 0;
    auto answer = m_service->pedidoByTram(QStringLiteral("I"), *number, nDoc, QString());
    if (!answer) {
        reportFailure("GetPedidoByTram", answer.error());
        m_prompter.error(QStringLiteral("Error al solicitar los datos de la boleta."), QStringLiteral("Error"));
        return -1;
    }
    if (answer->result.size() < 2) {
        m_prompter.error(QStringLiteral("Error: La respuesta a la solicitud de datos de la boleta esta vacia."),
                         QStringLiteral("Error"));
        return -1;
    }
    const RequestDataText items(answer->result);
    if (!items.hasData()) return -1;
    m_pedBol.insert();
    for (const PedBol::Field& f : PedBol::fields()) {
        const QString name = QString::fromLatin1(f.name);
        const std::optional<QString> v = items.value(name);
        if (!v || v->isEmpty()) continue;
        if (!m_pedBol.setText(name, *v)) {
            message = QStringLiteral("Error al decodificar datos de la boleta");
            m_pedBol.cancel();
            return -1;
        }
    }
    m_pedBol.post();
    return 1;
}

bool SlipLookups::ObtenerFechaPago(const QString& boleta, QDate& date) {
    BusyScope busy(m_prompter);
    if (!m_service) {
        m_prompter.error(QStringLiteral("ERROR al intentar obtener la fecha del pago."), QStringLiteral("Error"));
        return false;
    }
    auto answer = m_service->fechaByBoleta(boleta);
    if (answer && answer->isEmpty()) return false;
    if (!answer) reportFailure("GetFechaByBoleta", answer.error());
    if (answer) {
        // The service writes the date first; a time of day after it is not part of the payment date.
        const auto parsed = parseCentralDateTime(answer->left(10));
        if (parsed) {
            date = QDate(parsed->date.year, parsed->date.month, parsed->date.day);
            return true;
        }
    }
    m_prompter.error(QStringLiteral("ERROR al intentar obtener la fecha del pago."), QStringLiteral("Error"));
    return false;
}

} // namespace qev
