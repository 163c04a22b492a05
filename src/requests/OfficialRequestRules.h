#pragma once
// The record rules of official requests (`ped`), their aliases (`sup`), the organisations (`org`) and the offence
// search (`tdel`). They hang on the tables' events, so no window can store an official request that breaks them.
// A refused operation shows its message and leaves the row in its state with the operator's input.
#include "requests/RequestHost.h"

#include <QDate>
#include <QObject>
#include <QString>

#include <functional>

namespace qev {

class Dataset;

class OfficialRequestRules : public QObject {
    Q_OBJECT
public:
    explicit OfficialRequestRules(RequestHost& host, QObject* parent = nullptr);

    // Hangs the rules on the events of ped, sup, org and tdel (the tables must exist, open or not).
    void install();

    // Set by the official request window while it exists: enables its offence button.
    std::function<void(bool enabled)> offenceButtonEnabled;
    // The offence search: the code, law, article and subsection typed (blank ones take no part) must equal the
    // offence's, and the description typed must be part of its description (in any case). All blank accepts every
    // offence. Applied while the offence table is filtered.
    struct OffenceSearch {
        QString code, law, article, subsection, description;
    };
    void setOffenceSearch(const OffenceSearch& search);
    const OffenceSearch& offenceSearch() const { return m_offenceSearch; }

    // The events, public so that a window or a test can run one directly.
    void pedNewRecord(Dataset& ped);
    bool clearWorkFiles();
    void pedAfterEdit(Dataset& ped);
    void pedC_ORGChange(Dataset& ped);
    bool pedBeforePost(Dataset& ped);
    bool pedBeforeDelete(Dataset& ped);
    bool supBeforeInsert();
    bool supBeforePost(Dataset& sup);
    bool orgBeforePost(Dataset& org);
    bool orgBeforeDelete();
    void dsPedStateChange();
    bool tdelFilterRecord(const Dataset& tdel) const;

private:
    Dataset& ped() const;
    bool checkAges(Dataset& ped);
    bool fileWorkFiles(Dataset& ped, bool withCard);

    RequestHost& m_host;
    OffenceSearch m_offenceSearch;
};

// "¿Está seguro que desea eliminar este registro?" asked with Yes/No; true only for Yes.
bool confirmDeletion(Prompter& prompter);
// A null classification of either hand becomes "_____" (not yet classified).
void setClassificationDefaults(Dataset& ds);
// The birth-date checks of both request kinds: not before 1900 and an age of 16 to 99 (under 16 allowed when
// `minorAllowed`); the failing check's message is shown. An unknown date passes.
bool birthDateAccepted(Prompter& prompter, const QDate& birth, const QDate& today, bool minorAllowed);
// The deletion of a request: the confirmation, then its card, livescan and answer files (documents stay).
bool confirmRequestDeletion(RequestHost& host, const Dataset& ds);
// The thirteen name fields of a request, in the order the checks run.
const QStringList& requestNameFields();

} // namespace qev
