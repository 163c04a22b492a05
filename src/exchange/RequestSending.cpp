#include "exchange/RequestSending.h"

#include "core/Dataset.h"
#include "core/Settings.h"
#include "exchange/HostIdentity.h"
#include "exchange/PedDat.h"
#include "exchange/TSMime.h"
#include "util/Prompter.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <unistd.h>

namespace qev {

namespace {

const QString kPedDat = QStringLiteral("ped.dat");
const QString kHuellaTif = QStringLiteral("huella.tif");
const QString kHuellaZip = QStringLiteral("huella.zip");
const QString kDocuTif = QStringLiteral("docu.tif");

QString notBrowsing() {
    return QStringLiteral("Antes de poder enviar el pedido\rdebe terminar de ingresar la información del mismo");
}

// A code of the settings as a number; anything else counts as 0.
int regional(const Settings& s, const QString& key) {
    int n = 0;
    return parseWholeNumber(s.read(key), n) ? n : 0;
}

int requestNumber(const Dataset& ds) {
    const dbf::Value v = ds.value(QStringLiteral("C_PED"));
    return v.isNull() ? 0 : static_cast<int>(v.isDouble() ? v.number() : static_cast<double>(v.integer()));
}

} // namespace

// The request files are named relative to the office folder.
QString RequestSending::inFolder(const QString& file) const {
    if (file.isEmpty() || QFileInfo(file).isAbsolute()) return file;
    return m_host.appDir().existingFile(file);
}

bool RequestSending::exists(const QString& path) const {
    return !path.isEmpty() && QFileInfo(path).isFile();
}

// The package files live only until the message is handed over: written whole under a temporary name and renamed,
// so a failed write never leaves half a file under the package name, but not forced to the disk.
bool RequestSending::writeFile(const QString& name, const QByteArray& bytes) {
    const QString to = m_host.appDir().file(name);
    const QString tmp = to + QStringLiteral(".tmp");
    QFile f(tmp);
    const bool ok = f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() &&
                    (f.close(), f.error() == QFileDevice::NoError) && (QFile::remove(to) || !QFile::exists(to)) &&
                    QFile::rename(tmp, to);
    if (ok) return true;
    m_host.prompter().error(QStringLiteral("No se pudo escribir el archivo ") + name + QStringLiteral(": ") +
                            f.errorString());
    QFile::remove(tmp);
    return false;
}

// A package copy of a request file is a second name of the same file where the folder allows it (nothing ever
// writes into a package file, and removing it leaves the request's own file), else a copy made through a temporary
// file.
bool RequestSending::copyFile(const QString& from, const QString& name) {
    const QString to = m_host.appDir().file(name);
    QFile::remove(to);
    if (::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0) return true;
    const QString tmp = to + QStringLiteral(".tmp");
    QFile::remove(tmp);
    if (QFile::copy(from, tmp) && QFile::rename(tmp, to)) return true;
    QFile::remove(tmp);
    return false;
}

void RequestSending::removeFile(const QString& name) {
    QFile::remove(m_host.appDir().file(name));
}

// The first two checks of every send: the row is not being edited and it has its number.
bool RequestSending::sendable(Dataset& ds) {
    if (ds.state() != Dataset::State::Browse) {
        m_host.prompter().inform(notBrowsing());
        return false;
    }
    if (ds.isNull(QStringLiteral("C_PED"))) {
        m_host.prompter().inform(QStringLiteral("Pedido inválido"));
        return false;
    }
    return true;
}

// Hands the package to the sender and marks the row as sent; the card copies go in every case.
bool RequestSending::deliver(Dataset& ds, bool official, const QString& subject, const QStringList& files) {
    Settings& s = m_host.settings();
    const bool sent = m_sender.EnviarMensaje(
        s.read(official ? QStringLiteral("x_toreg") : QStringLiteral("x_toregp")), subject, requestNumber(ds),
        regional(s, official ? QStringLiteral("c_reg") : QStringLiteral("c_regp")), files, QString());
    bool marked = false;
    if (sent)
        marked = markSent(ds, official);
    else
        m_host.prompter().error(QStringLiteral("No se pudo enviar el pedido"));
    removeFile(kHuellaZip);
    removeFile(kHuellaTif);
    return marked;
}

bool RequestSending::markSent(Dataset& ds, bool official) {
    if (!ds.edit()) return false;
    m_host.setSavePermission(true);
    if (official) ds.setValue(QStringLiteral("M_ENVIADO"), dbf::Value(true));
    ds.setValue(QStringLiteral("C_EST"), dbf::Value(std::string("E")));
    if (ds.post()) return true;
    // The message went out; the row could not be written. Say so instead of leaving it half-edited.
    if (ds.editing()) ds.cancel();
    m_host.setSavePermission(false);
    m_host.prompter().error(QStringLiteral("El pedido se envió, pero no se pudo registrar como enviado: ") +
                            ds.lastError());
    return false;
}

bool RequestSending::EnviarPedidoOficial() {
    Dataset& ped = *m_host.table(QStringLiteral("ped"));
    Prompter& p = m_host.prompter();
    if (!sendable(ped)) return false;
    const QString h = inFolder(m_host.requestFile(ped, QLatin1Char('h')));
    const QString z = inFolder(m_host.requestFile(ped, QLatin1Char('z')));
    const QString d = inFolder(m_host.requestFile(ped, QLatin1Char('d')));
    auto flag = [&ped](const char* f) {
        const dbf::Value v = ped.value(QString::fromLatin1(f));
        return v.isBool() && v.boolean();
    };
    if (flag("M_EXCART51") && !exists(d)) {
        p.inform(QStringLiteral("Si el pedido de informes se realiza con \rexcepción al art.51, debe escanear el "
                                "\roficio en la sección Documentación"));
        return false;
    }
    if (flag("M_ESPECIAL") && !exists(d)) {
        p.inform(QStringLiteral("Si el pedido de informes es especial, debe \rescanear el oficio en la sección "
                                "Documentación"));
        return false;
    }
    const bool withCard = ped.text(QStringLiteral("C_CARPED")) == QLatin1String("C");
    const dbf::Value blob = ped.value(QStringLiteral("B_HUELLA"));
    const bool hasBlob = !blob.isNull() && !(blob.isBytes() && blob.bytes().data.empty());
    if (withCard) {
        if (!exists(h) && !exists(z) && !hasBlob) {
            p.inform(QStringLiteral("Debe ingresar las impresiones dactilares"));
            return false;
        }
        if (exists(h) && !m_host.ValidarImagenHuella(h)) return false;
    }
    if (flag("M_ENVIADO") &&
        !p.confirm(QStringLiteral("Este pedido ya fue enviado\r¿Está seguro que desea volver a enviarlo?"),
                   QStringLiteral("Advertencia")))
        return false;
    if (flag("M_CONTESTA")) {
        p.error(QStringLiteral("¡Este pedido ya fue contestado!\rNo puede volver a enviarlo"), QStringLiteral("Error"));
        return false;
    }

    Dataset& sup = *m_host.table(QStringLiteral("sup"));
    Dataset& org = *m_host.table(QStringLiteral("org"));
    if (!writeFile(kPedDat, pedDatBytes(pedDatOficialLines(ped, sup, org)))) return false;
    removeFile(kHuellaTif);
    removeFile(kHuellaZip);
    if (exists(z)) {
        copyFile(z, kHuellaZip);
    } else if (exists(h)) {
        copyFile(h, kHuellaTif);
    } else if (hasBlob && blob.isBytes()) {
        const std::string& b = blob.bytes().data;
        (void)writeFile(kHuellaTif, QByteArray(b.data(), static_cast<qsizetype>(b.size())));
    }
    QStringList files{kPedDat};
    if (withCard) files << (QFileInfo::exists(m_host.appDir().file(kHuellaZip)) ? kHuellaZip : kHuellaTif);
    removeFile(kDocuTif);
    if (exists(d) && copyFile(d, kDocuTif)) files << kDocuTif;

    return deliver(ped, true, m_host.settings().read(QStringLiteral("x_msgreg")), files);
}

bool RequestSending::EnviarPedidoPersonal() {
    Dataset& pedp = *m_host.table(QStringLiteral("pedp"));
    Prompter& p = m_host.prompter();
    if (!sendable(pedp)) return false;
    const QString h = inFolder(m_host.requestFile(pedp, QLatin1Char('h')));
    const QString z = inFolder(m_host.requestFile(pedp, QLatin1Char('z')));
    const QString d = inFolder(m_host.requestFile(pedp, QLatin1Char('d')));
    if (!exists(h) && !exists(z)) {
        p.inform(QStringLiteral("Debe ingresar las impresiones dactilares"));
        return false;
    }
    if (exists(h) && !m_host.ValidarImagenHuella(h)) return false;
    if (m_host.documentsMandatory()) {
        if (!exists(d)) {
            p.inform(QStringLiteral("Debe digitalizar la documentación del pedido"));
            return false;
        }
        if (!m_host.ValidarImagenDocumento(d)) {
            p.inform(QStringLiteral("La documentación no está escaneada en el formato correcto"));
            return false;
        }
    }
    const QString state = pedp.text(QStringLiteral("C_EST"));
    const QString warn = QStringLiteral("Advertencia");
    if (state == QLatin1String("E") &&
        !p.confirm(QStringLiteral("Este pedido ya fue enviado\r¿Está seguro que desea volver a enviarlo?"), warn))
        return false;
    if (state == QLatin1String("T") &&
        !p.confirm(QStringLiteral("Este pedido fue recibido por QEV Regional\ry se encuentra en trámite.\r¿Está "
                                  "seguro que desea volver a enviarlo?"),
                   warn))
        return false;
    if (state == QLatin1String("C")) {
        p.error(QStringLiteral("Este pedido ya fue contestado por QEV Central\rNo se puede volver a enviarlo"),
                QStringLiteral("Error"));
        return false;
    }
    if (state == QLatin1String("R") &&
        !p.confirm(QStringLiteral("Este pedido fue rechazado\r¿Está seguro que desea volver a enviarlo?"), warn))
        return false;

    if (!writeFile(kPedDat, pedDatBytes(pedDatPersonalLines(pedp, m_identity.identity())))) return false;
    removeFile(kHuellaTif);
    if (exists(h)) copyFile(h, kHuellaTif);
    removeFile(kHuellaZip);
    if (exists(z)) copyFile(z, kHuellaZip);
    QStringList files;
    removeFile(kDocuTif);
    if (exists(d) && copyFile(d, kDocuTif)) files << kDocuTif;
    files << kPedDat << (QFileInfo::exists(m_host.appDir().file(kHuellaZip)) ? kHuellaZip : kHuellaTif);

    return deliver(pedp, false, m_host.settings().read(QStringLiteral("x_msgregp")), files);
}

bool RequestSending::EnviarCorreccionPersonal() {
    Dataset& pedp = *m_host.table(QStringLiteral("pedp"));
    if (!sendable(pedp)) return false;
    if (!writeFile(kPedDat, pedDatBytes(pedDatPersonalLines(pedp, m_identity.identity())))) return false;
    return deliver(pedp, false, QStringLiteral("CORRECCIONP"), {kPedDat});
}

} // namespace qev
