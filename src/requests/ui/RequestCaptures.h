#pragma once
// The capture actions both request windows share, on the current row of their request table: the ten-print card
// and the documents, worked on as numbered copies in the office folder and handed to the record rules as the
// pending work files, and the viewing of an answer image. The reception timer rests while a capture window is open.
#include <QByteArray>
#include <QString>

namespace qev {

class Dataset;
class Prompter;
class TFDigFich;
class TFImgDig;
class TFVerImg;
class Tdm;

class RequestCaptures {
public:
    struct Windows {
        TFDigFich& card;
        TFImgDig& documents;
        TFVerImg& viewer;
    };
    RequestCaptures(Tdm& dm, Prompter& prompter, Dataset& requests, Windows windows);

    // Saves a row being edited first (the save rules may refuse: false, and nothing opens).
    bool saveIfEditing();
    // The card window on the stored card ("h"/"hp"); a changed card is left pending as "edit.tif" with the row in
    // edit, and changed classifications are stored.
    void card(bool soloLectura);
    // The document window on the stored documents ("d"/"dp"); pages saved there are left pending as "docu.tif".
    void documents();
    // Shows a copy of the answer image (the file, else `bytes`); the copy of the earlier viewing goes. False (and
    // said) when there is nothing to show.
    bool showAnswer(const QString& file, const QByteArray& bytes = {});
    // Stores both classifications when they differ from the row's, putting the row in edit.
    void storeClassifications(const QString& der, const QString& izq);
    int counter() const { return m_contador; }

private:
    QString workCopy(int n) const;

    Tdm& m_dm;
    Prompter& m_prompter;
    Dataset& m_requests;
    Windows m_windows;
    int m_contador = 0;
};

} // namespace qev
