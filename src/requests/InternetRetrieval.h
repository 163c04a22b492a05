#pragma once
// Turns a request that an applicant filed on the central office's web site into a new personal request of this
// office: the slip code and document are checked, the central office is asked for the request's data, and the
// data go through the personal request rules. Without data nothing is left behind.
#include <QString>

namespace qev {

class PersonalRequestRules;
class RequestHost;
class SlipLookups;

class InternetRetrieval {
public:
    enum class Outcome {
        Refused, // a message was shown; no request was made
        Saved,   // the new request is saved and current in pedp
        Unsaved, // the new request is current in pedp, still being inserted: its save was refused
    };

    // The central office's services are those of the slip lookups at the time of the call.
    InternetRetrieval(RequestHost& host, SlipLookups& slips, PersonalRequestRules& rules)
        : m_host(host), m_slips(slips), m_rules(rules) {}

    // The "Consultar" of the retrieval window, with the texts of its two edits.
    Outcome consultar(const QString& boletaText, const QString& documentText);

private:
    RequestHost& m_host;
    SlipLookups& m_slips;
    PersonalRequestRules& m_rules;
};

} // namespace qev
