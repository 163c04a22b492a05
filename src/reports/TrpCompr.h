#pragma once
// The receipt of a personal request ("ComprobanteQEV"): the applicant's data with the request's barcode above, and
// the information for obtaining the digital certificate with the security code's barcode below.
#include "reports/Layout.h"
#include "reports/ReportSource.h"

namespace qev::reports {

class TrpCompr {
public:
    // The one-row name table filled just before printing.
    struct MTPedP1 {
        QString X_APE1, X_APE2, X_NOM1, X_NOM2, X_NOM3, X_NOMPADR1, X_NOMPADR2, X_NOMPADR3, X_APEMADR1, X_APEMADR2,
            X_NOMMADR1, X_NOMMADR2, X_NOMMADR3;
    };
    struct Data {
        MTPedP1 names;
        QString cPed, cReg;
        QString bcPedReg1, QRLabelBC1;
        QString xSexo, xNac, fNac, xTdoc, QRLb1, nDoc, QRLb39, xExpp;
        QString xTram, fPed, cPago;
        QString bcCodSegur, qrlCodSegur;
    };

    // Fills the receipt from the current row of the personal request table and its lookups.
    static Data read(const ReportSource& source);
    static Layout layout(const Data& data);
    // The texts the receipt cannot print as they are (a barcode value outside the Code 39 set); empty when sound.
    static QStringList problems(const Data& data);
};

} // namespace qev::reports
