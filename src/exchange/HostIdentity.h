#pragma once
// The workstation's identity as the central office records it with every package: the hardware address, the
// IPv4 address and the DNS host name of the first network adapter that is up, is not a loopback, has a hardware
// address and an IPv4 address. Each value is empty when no adapter qualifies.
#include <QString>

namespace qev {

struct NetworkIdentity {
    QString mac;  // "00:1A:2B:3C:4D:5E", upper case, as the adapter reports it
    QString ip;   // the adapter's first IPv4 address
    QString host; // the DNS host name of this computer
};

class HostIdentity {
public:
    virtual ~HostIdentity() = default;
    virtual NetworkIdentity identity() const = 0;

    // The three outputs, first set empty.
    void ObtenerDatosRed(QString& mac, QString& ip, QString& host) const;
};

// The adapters of this computer.
class SystemHostIdentity final : public HostIdentity {
public:
    NetworkIdentity identity() const override;
};

// Fixed values, for tests and for a workstation whose administrator pins them.
class FixedHostIdentity final : public HostIdentity {
public:
    explicit FixedHostIdentity(NetworkIdentity id) : m_id(std::move(id)) {}
    NetworkIdentity identity() const override { return m_id; }

private:
    NetworkIdentity m_id;
};

} // namespace qev
