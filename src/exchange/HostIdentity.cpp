#include "exchange/HostIdentity.h"

#include <QHostInfo>
#include <QNetworkInterface>

namespace qev {

void HostIdentity::ObtenerDatosRed(QString& mac, QString& ip, QString& host) const {
    mac.clear();
    ip.clear();
    host.clear();
    const NetworkIdentity id = identity();
    mac = id.mac;
    ip = id.ip;
    host = id.host;
}

NetworkIdentity SystemHostIdentity::identity() const {
    for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
        const auto flags = nic.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || flags.testFlag(QNetworkInterface::IsLoopBack)) continue;
        const QString hw = nic.hardwareAddress();
        if (hw.isEmpty() || hw == QLatin1String("00:00:00:00:00:00")) continue;
        for (const QNetworkAddressEntry& entry : nic.addressEntries()) {
            const QHostAddress a = entry.ip();
            if (a.protocol() != QAbstractSocket::IPv4Protocol || a.isLoopback()) continue;
            QString host = QHostInfo::localHostName();
            const QString domain = QHostInfo::localDomainName();
            if (!domain.isEmpty() && !host.contains(QLatin1Char('.'))) host += QLatin1Char('.') + domain;
            return {hw.toUpper(), a.toString(), host};
        }
    }
    return {};
}

} // namespace qev
