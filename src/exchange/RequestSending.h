#pragma once
// Sending the current request to the central office: the checks in their order, the request data file "ped.dat",
// the request's images under the package names "huella.tif", "huella.zip" and "docu.tif", the message through the
// sender, and on success the request marked as sent through the save permission. Every refusal is a message to the
// operator and leaves tables and files as they were.
#include "util/AppDir.h"

#include <QString>
#include <QStringList>

namespace qev {

class Dataset;
class HostIdentity;
class Prompter;
class Settings;
class TSMime;

// What the send operations need from the data module that owns them.
class PackageHost {
public:
    virtual ~PackageHost() = default;
    virtual Dataset* table(const QString& component) const = 0;
    virtual Settings& settings() = 0;
    virtual Prompter& prompter() = 0;
    virtual const AppDir& appDir() const = 0;
    virtual void setSavePermission(bool allowed) = 0;
    // The request's own file of a kind ("h", "z", "d", "c") for the current row of "ped" or "pedp".
    virtual QString requestFile(const Dataset& ds, QChar kind) const = 0;
    virtual bool ValidarImagenHuella(const QString& file) = 0;
    virtual bool ValidarImagenDocumento(const QString& file) = 0;
    // Documentation mandatory for personal requests (read when the data module was created).
    virtual bool documentsMandatory() const = 0;
};

class RequestSending {
public:
    RequestSending(PackageHost& host, TSMime& sender, const HostIdentity& identity)
        : m_host(host), m_sender(sender), m_identity(identity) {}

    // Each answers true when the request was handed over and marked as sent.
    bool EnviarPedidoOficial();
    bool EnviarPedidoPersonal();
    bool EnviarCorreccionPersonal();

private:
    bool writeFile(const QString& name, const QByteArray& bytes);
    bool copyFile(const QString& from, const QString& name);
    void removeFile(const QString& name);
    bool exists(const QString& path) const;
    QString inFolder(const QString& file) const;
    bool markSent(Dataset& ds, bool official);
    bool sendable(Dataset& ds);
    bool deliver(Dataset& ds, bool official, const QString& subject, const QStringList& files);

    PackageHost& m_host;
    TSMime& m_sender;
    const HostIdentity& m_identity;
};

} // namespace qev
