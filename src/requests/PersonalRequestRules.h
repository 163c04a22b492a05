#pragma once
// The record rules of personal requests (`pedp`): defaults, the save checks and filing, the validation before a
// request is sent, the comparison with its payment slip and the application of a slip's payment code.
#include "requests/RequestHost.h"

#include <QObject>
#include <QString>

#include <functional>

namespace qev {

class Dataset;
class SlipLookups;

class PersonalRequestRules : public QObject {
    Q_OBJECT
public:
    PersonalRequestRules(RequestHost& host, SlipLookups& slips, QObject* parent = nullptr);

    void install();

    // True while the personal request window is on screen (the slip kind is checked only then).
    std::function<bool()> personalWindowVisible;
    // The request–slip comparison window, shown with the payment code, the office code and the request number;
    // true to go on sending. Without a window a differing request is not sent.
    std::function<bool(const QString& cPago, const QString& cReg, const QString& cPed)> compareWindow;

    void pedpNewRecord(Dataset& pedp);
    void pedpAfterEdit(Dataset& pedp);
    void pedpC_TRAMChange(Dataset& pedp);
    void pedpCalcFields(Dataset& pedp);
    bool pedpBeforePost(Dataset& pedp);
    bool pedpBeforeDelete(Dataset& pedp);

    // The checks before the current personal request is sent; shows the first failing check's message.
    bool ValidarPedidoPersonal();
    // Whether the current request matches the fetched slip data; `differences` lists what does not.
    bool CompararConBoleta(const QString& cPago, QString& differences) const;
    // Takes the procedure kind (second character), priority, bank and payment date from a payment code.
    bool AplicarCodigoBoleta(const QString& code);

private:
    Dataset& pedp() const;
    bool fileWorkFiles(Dataset& pedp);
    bool checkAgainstSlip(Dataset& pedp);

    RequestHost& m_host;
    SlipLookups& m_slips;
};

// A new security code of `length` upper-case hexadecimal digits taken from a fresh GUID at a random position.
QString GenerarCodigoSeguridad(int length);

} // namespace qev
