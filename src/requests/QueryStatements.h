#pragma once
// The statements and searches of the request query windows, kept apart from the windows so that the exact text a
// window runs can be checked and timed: the official request lists by sending state, the request search by code,
// name or document over the official, personal or alias table, the search that moves a request window, and the
// default period of a report.
#include "dbf/Value.h"

#include <QDate>
#include <QString>

#include <utility>

namespace qev {

class Dataset;

// ---- Official request lists ----

// Official requests with their organisation (those whose organisation is missing are left out), by number;
// `byState` adds the :m_enviado and :m_contesta conditions.
QString officialListStatement(bool byState);

enum class OfficialListOption { Unsent, SentUnanswered, Answered, All };

struct OfficialListChoice {
    bool byState = false;
    bool enviado = false;  // :m_enviado when byState
    bool contesta = false; // :m_contesta when byState
    QString title;         // the list's title
};
OfficialListChoice officialListChoice(OfficialListOption option);

// ---- Request search ----

enum class ConsultaTable { Official, Personal, Alias };
enum class ConsultaPage { Code, Name, Document };

struct ConsultaCriteria {
    ConsultaPage page = ConsultaPage::Code;
    QString code;                         // request number typed, digits only
    QString ape1, ape2, nom1, nom2, nom3; // names typed (upper case)
    QString document;                     // document number typed
};

// "Ped.dbf", "Pedp.dbf" or "Sup.dbf".
QString consultaFile(ConsultaTable table);
// The statement the search runs; empty when there is nothing to run (a blank code or one that is not above 0).
// A name search with every field empty, or a document search without a number, gives a statement the SQL layer
// refuses, which the window reports like any refused statement.
QString consultaStatement(ConsultaTable table, const ConsultaCriteria& criteria);

// ---- Moving a request window ----

enum class RequestCriterion { Number, CaseNumber, Surname };

// The first visible row of `ds` that matches: `C_PED` equal to the number typed, `N_CAUSA` or `X_APE1` equal to the
// text ignoring case (and surrounding blanks). -1 when none does, when the number is not a number, or when the table
// has no such field (personal requests have no case number).
int findRequestRow(const Dataset& ds, RequestCriterion criterion, const QString& typed);

// ---- Report period ----

// The first and the last day of `today`'s month.
std::pair<QDate, QDate> monthOf(const QDate& today);

} // namespace qev
