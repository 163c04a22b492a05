#pragma once
// The official letter: "PEDIDO DE INFORMES SOBRE CONDENAS  Y PROCESOS PENDIENTES" for the current official request,
// with the organisation, the person, the aliases and the boxes for the organisation's stamp and signature.
#include "reports/Layout.h"
#include "reports/ReportSource.h"

#include <memory>

namespace qev::reports {

class TrpOficio {
public:
    struct Data {
        int cPed = 0;
        QString lugarYFecha;
        QString xOrg, xSec, xDom, xLoc, xProv;
        QString xTdel, nCausa;
        QString qrlbApe, qrlbApeSup, qrlbNom, qrlbNomSup;
        QString xSexo, fNac, nEdad;
        QString xNac, nDoc, xExpp;
        QString qrlbNomPadr, qrlbApeMadr, qrlbNomMadr;
    };

    // Reads the stored names of a request and its aliases from the office folder's files. One reader kept for a
    // run of letters opens the files once; each read still sees what other workstations wrote since.
    class Reader {
    public:
        explicit Reader(QString folder);
        ~Reader();
        void readNames(Data& d);

    private:
        QString m_folder;
        std::unique_ptr<dbf::Table> m_ped;
        std::unique_ptr<dbf::Table> m_sup;
        bool m_opened = false;
    };

    // Fills the letter from the current official request: the boxes from the current row and its lookups, the
    // names from the stored request and its aliases read again by its number (none for a request not stored).
    static Data read(const ReportSource& source, Reader* reader = nullptr);
    static Layout layout(const Data& data);
};

} // namespace qev::reports
