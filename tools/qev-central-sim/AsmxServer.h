#pragma once
// Web services the way ASP.NET "asmx" serves them: SOAP 1.1 document/literal, wrapped parameters in the service
// namespace, the operation chosen by the SOAPAction header, soap:Client faults for requests it cannot read,
// soap:Server faults for failures of the operation. A service is a path with a table of operations; adding a
// service is adding a table.
#include <QString>

#include <QHash>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include <cstdio>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace qev::sim {

enum class ParamType { String, Int, Long, Structure };

struct AsmxParam {
    QString name;
    ParamType type = ParamType::String;
};

// The arguments of a call as the service read them: strings may be null, numbers default to 0 when absent.
class AsmxArgs {
public:
    std::optional<QString> string(const QString& name) const;
    qint64 number(const QString& name) const;
    void set(const QString& name, std::optional<QString> text) { m_values[name] = std::move(text); }
    // The whole request envelope, for operations whose parameters are structures.
    const QByteArray& body() const { return m_body; }
    void setBody(QByteArray body) { m_body = std::move(body); }

private:
    QHash<QString, std::optional<QString>> m_values;
    QByteArray m_body;
};

struct AsmxOutput {
    QString name;
    std::optional<QString> text; // no element when null
};

struct AsmxOutcome {
    std::vector<AsmxOutput> outputs; // the Result element first, then the output parameters
    std::optional<QString> fault;    // a soap:Server fault with this text instead of the outputs
    int httpStatus = 0;              // an HTTP error page instead of any SOAP answer
    int delayMs = 0;                 // a wait before answering
};

struct AsmxOperation {
    QString name;
    std::vector<AsmxParam> params;
    std::function<AsmxOutcome(const AsmxArgs&)> run;
};

struct AsmxService {
    QString name;
    QString path; // "/boletasvc/service.asmx"
    std::vector<AsmxOperation> operations;
};

// One line per call: time, path, operation, arguments, outcome. Lines are whole even with concurrent calls.
class CallLog {
public:
    explicit CallLog(std::FILE* out) : m_out(out) {}
    void write(const QString& line);

private:
    std::FILE* m_out;
    std::mutex m_mutex;
};

class AsmxServer {
public:
    AsmxServer(QString ns, CallLog& log) : m_ns(std::move(ns)), m_log(log) {}
    const QString& ns() const { return m_ns; }
    void add(AsmxService service) { m_services.push_back(std::move(service)); }
    // Routes the services' paths of `http` here; call before it listens and keep this object alive as long.
    void mount(httplib::Server& http) const;

private:
    void handlePost(const AsmxService& service, const httplib::Request& req, httplib::Response& res) const;
    void handleGet(const AsmxService& service, const httplib::Request& req, httplib::Response& res) const;

    QString m_ns;
    CallLog& m_log;
    std::vector<AsmxService> m_services;
};

} // namespace qev::sim
