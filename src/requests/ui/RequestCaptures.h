#pragma once
// The actions both request windows share, on the current row of their request table: the ten-print card, the
// livescan archive and the documents, worked on as copies in the office folder and handed to the record rules as the
// pending work files; the viewing of an answer image and of a rejection's reason; the central office's case state;
// the guards of the navigator and of closing. The reception timer rests while a capture window is open.
#include <QByteArray>
#include <QString>

#include <functional>

class QDialog;
class QMenu;
class QPushButton;

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

    // The livescan window for the current row (read-only when asked), with both classifications in and out; it
    // answers the archive it saved, empty when nothing was taken.
    using LiveScanWindow =
        std::function<QString(int pedido, int regional, bool soloLectura, QString& clasIzq, QString& clasDer)>;
    // Takes the fingers through `take` (only the flat livescan window captures): the archive becomes "edit.zip" with
    // the row in edit and the classifications stored. True when the fingers were taken.
    bool liveScan(const LiveScanWindow& take, bool viewOnly);
    // "&Imp.Dactilares": the card at once without livescan, else the menu of both captures over the button.
    void fingerprints(QMenu& menu, const QPushButton& button, const std::function<void()>& card);
    // The reason of a rejection, stored or else asked of the central office, shown under "Motivo del Rechazo".
    // False (the error said) when it could not be had.
    bool showRejectionReason(bool official);
    // "Estado &Vorlund" with the request kind's prefix ("U" official, "W" personal).
    void estadoVorlund(const QString& prefijo);

    // The navigator refuses a new row or a save while mail is being received (with the warning).
    bool receptionAllows(bool insertOrSave);
    // Closing with the row unsaved asks; Yes saves through `save`, No cancels. False when the window must stay.
    bool closeUnsaved(const std::function<bool()>& save);
    // A number field of the current row (0 when empty).
    int number(const char* field) const;
    // Centres a window on its screen the first time it shows.
    static void centre(QDialog& window);

private:
    QString workCopy(int n) const;

    Tdm& m_dm;
    Prompter& m_prompter;
    Dataset& m_requests;
    Windows m_windows;
    int m_contador = 0;
};

} // namespace qev
