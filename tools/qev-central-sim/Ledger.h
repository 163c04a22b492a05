#pragma once
// What the central office knows of each request in this run: the requests its message service received (in
// process, state "T"), the replies it sent (each changes the state, file number, result or rejection reason it
// lists) and the security codes it holds. Replies sent by a separate `reply` command reach a running server through
// the store folder's "replies.log", one JSON object a line, which the server reads again at every question.
#include <QString>

#include <mutex>
#include <optional>
#include <vector>

namespace qev::sim {

struct CentralEvent {
    qint64 ms = 0; // when it happened, to merge the server's own events with those of the replies file
    bool personal = false;
    int pedido = 0;
    int regional = 0;
    QString estado;     // the state the request now has; empty leaves it
    int expediente = 0; // 0 leaves the file number
    QString res;        // result code; empty leaves it
    QString motivo;     // rejection reason; empty leaves it
    QString segur;      // the security code now held; empty leaves it
};

// The latest of everything known of one request.
struct RequestState {
    bool personal = false;
    int pedido = 0;
    int regional = 0;
    QString estado;
    int expediente = 0;
    QString res;
    QString motivo;
    QString segur;
};

class Ledger {
public:
    // `repliesFile` may be empty: then only the server's own events count.
    explicit Ledger(QString repliesFile = QString()) : m_repliesFile(std::move(repliesFile)) {}

    void record(CentralEvent event);
    // Every request known, in the order it was first heard of, with its latest state.
    std::vector<RequestState> requests() const;
    std::optional<RequestState> request(bool personal, int pedido, int regional) const;

    // Appends an event to a replies file (the `reply` command's way to tell a running server). False on failure.
    static bool appendToFile(const QString& file, const CentralEvent& event, QString& error);

private:
    std::vector<CentralEvent> events() const;

    QString m_repliesFile;
    mutable std::mutex m_mutex;
    std::vector<CentralEvent> m_events;
};

qint64 nowMs();

} // namespace qev::sim
