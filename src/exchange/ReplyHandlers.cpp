#include "exchange/ReplyHandlers.h"

#include "core/Dataset.h"
#include "core/Records.h"
#include "core/Settings.h"
#include "util/Clock.h"
#include "util/DiskSync.h"
#include "util/Prompter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace qev {

namespace {

constexpr qint64 kMaxReplyFile = qint64(16) << 20;

const QString kRespDat = QStringLiteral("resp.dat");
const QString kRespTif = QStringLiteral("resp.tif");
const QString kEstOfi = QStringLiteral("EstOfi.DAT");
const QString kEstPriv = QStringLiteral("EstPriv.DAT");
const QString kNoEspecificado = QStringLiteral("No especificado");

QByteArray readAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.read(kMaxReplyFile);
}

// A text for a fixed-width field: cut to what the field holds rather than refused at the post.
void setFitted(Dataset& ds, const QString& field, const QString& text) {
    const dbf::FieldDef* def = ds.fieldDef(field);
    QString t = text;
    if (def && def->type == 'C' && t.size() > def->length) t.truncate(def->length);
    ds.setText(field, t);
}

bool positiveNumber(const QString& text, int& out) {
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok || n <= 0) return false;
    out = n;
    return true;
}

QString padded(const QString& a, const QString& b, const QString& c) {
    return QStringLiteral("%1 %2 %3").arg(a, -10).arg(b, -30).arg(c, -10);
}

QString padded(const QString& a, const QString& b, const QString& c, const QString& d) {
    return padded(a, b, c) + QStringLiteral(" %1").arg(d, -20);
}

QString dashes(int n) {
    return QString(n, QLatin1Char('-'));
}

// The description of a code in a lookup table; empty when the code is not there.
QString lookupText(Dataset* table, const char* keyField, const char* textField, const QString& code) {
    if (!table || !table->active()) return QString();
    const dbf::Value v = table->lookupValue(QString::fromLatin1(keyField), dbf::Value(code.toStdString()),
                                            QString::fromLatin1(textField));
    return v.isText() ? QString::fromStdString(v.text()).trimmed() : QString();
}

QStringList nonEmptyLines(const QStringList& lines) {
    QStringList out;
    for (const QString& l : lines)
        if (!l.trimmed().isEmpty()) out << l.trimmed();
    return out;
}

} // namespace

ReplyHandlers::ReplyHandlers(ReplyHost& host, ReceptionViews& views) : m_host(host), m_views(&views) {}

QString ReplyHandlers::path(const QString& name) const {
    return AppDir(m_receptionFolder.isEmpty() ? m_host.appDir().folder() : m_receptionFolder)
        .existingFile(m_prefix + name);
}

QString ReplyHandlers::stamp() const {
    const QDateTime now = m_host.clock().now();
    return now.toString(QStringLiteral("dd/MM/yyyy")) + QLatin1Char(' ') + now.toString(QStringLiteral("HH:mm:ss"));
}

bool ReplyHandlers::refuse(const QString& why) {
    m_reason = why;
    return false;
}

void ReplyHandlers::activity(const QString& text) {
    m_views->activityLine(stamp() + text);
}

bool ReplyHandlers::readReply(RespDat& out) {
    const QString file = path(kRespDat);
    if (!QFileInfo::exists(file)) return refuse(QStringLiteral("falta el archivo resp.dat"));
    out = readRespDat(readAll(file));
    return true;
}

Dataset* ReplyHandlers::findRequest(const QString& component, const RespDat& reply) {
    if (!reply.c_ped || !reply.c_reg || !reply.n_expe) {
        refuse(QStringLiteral("resp.dat tiene un número que no se puede leer"));
        return nullptr;
    }
    if (!reply.namesRequest()) {
        refuse(QStringLiteral("resp.dat no indica pedido y regional"));
        return nullptr;
    }
    Dataset* ds = m_host.table(component);
    if (!ds || !ds->active()) {
        refuse(QStringLiteral("la tabla de pedidos no está abierta"));
        return nullptr;
    }
    bool refreshed = false;
    if (!locateRequest(*ds, *reply.c_ped, refreshed)) {
        refuse(QStringLiteral("el pedido %1 no existe").arg(*reply.c_ped));
        return nullptr;
    }
    const dbf::Value reg = ds->value(QStringLiteral("C_REG"));
    if (!reg.isNumber() || reg.number() != static_cast<double>(*reply.c_reg)) {
        refuse(QStringLiteral("el pedido %1 es de otra regional (%2, no %3)")
                   .arg(*reply.c_ped)
                   .arg(ds->text(QStringLiteral("C_REG")))
                   .arg(*reply.c_reg));
        return nullptr;
    }
    return ds;
}

bool ReplyHandlers::post(Dataset& ds) {
    m_host.setSavePermission(true);
    if (ds.post()) return true;
    const QString why = ds.lastError();
    if (ds.editing()) ds.cancel();
    m_host.setSavePermission(false);
    return refuse(QStringLiteral("no se pudo grabar el pedido: ") + why);
}

bool ReplyHandlers::fileAnswerImage(const QString& target) {
    QFile in(path(kRespTif));
    if (!in.open(QIODevice::ReadOnly)) return refuse(QStringLiteral("no se pudo leer resp.tif: ") + in.errorString());
    // Written whole to a new file and then put in place, so a cut never leaves half an image under the name.
    QSaveFile out(m_host.appDir().file(target));
    if (!out.open(QIODevice::WriteOnly)) return refuse(QStringLiteral("no se pudo archivar ") + target);
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 20);
        if (chunk.isEmpty() || out.write(chunk) != chunk.size()) {
            out.cancelWriting();
            return refuse(QStringLiteral("no se pudo archivar ") + target + QStringLiteral(": ") + out.errorString());
        }
    }
    if (!out.commit())
        return refuse(QStringLiteral("no se pudo archivar ") + target + QStringLiteral(": ") + out.errorString());
    // The commit put the image on disk; its new name must be there too before the request says it was answered.
    if (!syncFolderOf(m_host.appDir().file(target)))
        return refuse(QStringLiteral("no se pudo archivar ") + target + QStringLiteral(": el disco no confirmó"));
    return true;
}

void ReplyHandlers::removeFiles(std::initializer_list<const char*> names) {
    for (const char* n : names) {
        const QString file = path(QString::fromLatin1(n));
        if (QFileInfo::exists(file)) QFile::remove(file);
    }
}

void ReplyHandlers::printImage(const QString& file) {
    if (!m_printer) return;
    QString why;
    if (!m_printer->printImage(m_host.appDir().file(file), why))
        (void)writeLogLine(m_host.appDir().folder(),
                           stamp() + QStringLiteral(" - No se pudo imprimir ") + file + QStringLiteral(": ") + why);
}

bool ReplyHandlers::AplicarContestacionOficial() {
    m_reason.clear();
    if (!QFileInfo::exists(path(kRespDat)) || !QFileInfo::exists(path(kRespTif)))
        return refuse(QStringLiteral("faltan resp.dat o resp.tif"));
    RespDat reply;
    bool applied = false;
    QString image;
    if (readReply(reply)) {
        if (Dataset* ped = findRequest(QStringLiteral("ped"), reply); ped && ped->edit()) {
            image = requestFileName(QStringLiteral("c"), ped->value(QStringLiteral("C_PED")),
                                    ped->value(QStringLiteral("C_REG")));
            ped->setValue(QStringLiteral("N_EXPE"), dbf::Value(static_cast<int64_t>(*reply.n_expe)));
            ped->setValue(QStringLiteral("F_CON"), today());
            if (!fileAnswerImage(image)) {
                ped->cancel();
            } else {
                ped->setValue(QStringLiteral("M_CONTESTA"), dbf::Value(true));
                ped->setValue(QStringLiteral("C_EST"), dbf::Value("C"));
                applied = post(*ped);
            }
        }
    }
    if (applied && m_host.settings().unlessN(QStringLiteral("m_impauto"))) printImage(image);
    removeFiles({"resp.dat", "resp.tif"});
    return applied;
}

bool ReplyHandlers::AplicarConfirmacionOficial() {
    m_reason.clear();
    RespDat reply;
    if (!readReply(reply)) return false;
    bool applied = false;
    if (reply.c_est != QLatin1String("T")) {
        refuse(QStringLiteral("la confirmación no trae el estado T"));
    } else if (Dataset* ped = findRequest(QStringLiteral("ped"), reply); ped && ped->edit()) {
        ped->setValue(QStringLiteral("N_EXPE"), dbf::Value(static_cast<int64_t>(*reply.n_expe)));
        ped->setValue(QStringLiteral("C_EST"), dbf::Value("T"));
        applied = post(*ped);
        if (applied) {
            activity(QStringLiteral("  Pedido Oficial %1 Recibido y en Trámite").arg(*reply.c_ped));
            m_views->showActivity();
        }
    }
    removeFiles({"resp.dat"});
    return applied;
}

bool ReplyHandlers::AplicarRespuestaPersonal() {
    m_reason.clear();
    RespDat reply;
    if (!readReply(reply)) return false;
    const bool hasImage = QFileInfo::exists(path(kRespTif));
    bool applied = false;
    Dataset* pedp = findRequest(QStringLiteral("pedp"), reply);
    if (pedp && pedp->edit()) {
        pedp->setText(QStringLiteral("C_EST"), reply.c_est.left(1));
        pedp->setValue(QStringLiteral("N_EXPE"), dbf::Value(static_cast<int64_t>(*reply.n_expe)));
        if (reply.c_est != QLatin1String("T")) {
            pedp->setValue(QStringLiteral("F_CON"), today());
            setFitted(*pedp, QStringLiteral("N_CERT"), reply.n_cert);
            setFitted(*pedp, QStringLiteral("X_OBS"), reply.x_obs);
            setFitted(*pedp, QStringLiteral("C_RECHAZO"), reply.c_rechazo);
            setFitted(*pedp, QStringLiteral("C_RES"), reply.c_res);
        }
        const QString image = requestFileName(QStringLiteral("cp"), pedp->value(QStringLiteral("C_PED")),
                                              pedp->value(QStringLiteral("C_REG")));
        bool filed = true;
        if (reply.c_res == QLatin1String("R")) QFile::remove(m_host.appDir().file(image));
        if (hasImage) filed = fileAnswerImage(image);
        if (!filed)
            pedp->cancel();
        else
            applied = post(*pedp);
        if (applied) {
            const int n = *reply.c_ped;
            if (reply.c_est == QLatin1String("R")) {
                activity(QStringLiteral("  Pedido Personal %1 Rechazado").arg(n));
            } else if (reply.c_est == QLatin1String("C")) {
                if (reply.c_res == QLatin1String("R") && !hasImage)
                    activity(QStringLiteral("  Pedido Personal %1 Contestado por vía postal, carta certificada número ")
                                 .arg(n) +
                             reply.n_cert);
                else
                    activity(QStringLiteral("  Pedido Personal %1 Contestado").arg(n));
                if (m_host.settings().onlyIfS(QStringLiteral("m_impconfp")) && m_printer) {
                    QString why;
                    if (!m_printer->printPersonalAnswer(why))
                        (void)writeLogLine(m_host.appDir().folder(),
                                           stamp() + QStringLiteral(" - No se pudo imprimir la contestación: ") + why);
                }
            } else if (reply.c_est == QLatin1String("T")) {
                activity(QStringLiteral("  Pedido Personal %1 Recibido y en Trámite").arg(n));
            }
            if (hasImage && m_host.settings().unlessN(QStringLiteral("m_impauto"))) printImage(image);
            m_views->showActivity();
        }
    }
    removeFiles({"resp.dat", "resp.tif"});
    return applied;
}

bool ReplyHandlers::AplicarRechazoOficial() {
    return applyRejection(QStringLiteral("ped"), QStringLiteral("  Pedido Oficial %1 Rechazado. Observaciones:"));
}

bool ReplyHandlers::AplicarRechazoPersonal() {
    return applyRejection(QStringLiteral("pedp"), QStringLiteral("  Pedido Privado %1 Rechazado. Observaciones:"));
}

bool ReplyHandlers::applyRejection(const QString& component, const QString& line) {
    m_reason.clear();
    RespDat reply;
    if (!readReply(reply)) return false;
    bool applied = false;
    if (reply.c_est != QLatin1String("R")) {
        refuse(QStringLiteral("el rechazo no trae el estado R"));
    } else if (Dataset* ds = findRequest(component, reply); ds && ds->edit()) {
        ds->setValue(QStringLiteral("N_EXPE"), dbf::Value(static_cast<int64_t>(*reply.n_expe)));
        ds->setValue(QStringLiteral("C_EST"), dbf::Value("R"));
        setFitted(*ds, QStringLiteral("X_RECHAZO"), reply.x_obs);
        applied = post(*ds);
        if (applied) {
            activity(line.arg(*reply.c_ped) + reply.x_obs);
            m_views->showActivity();
        }
    }
    removeFiles({"resp.dat"});
    return applied;
}

bool ReplyHandlers::AplicarListasEstado() {
    m_reason.clear();
    m_views->clearStates();
    bool found = false;
    for (const bool official : {true, false}) {
        const QString file = path(official ? kEstOfi : kEstPriv);
        if (!QFileInfo::exists(file)) continue;
        BusyScope busy(m_host.prompter());
        const QStringList lines = DividirLineas(readAll(file));
        if (official)
            MostrarEstadosOficiales(lines);
        else
            MostrarEstadosPersonales(lines);
        found = true;
        QFile::remove(file);
        m_views->showStates();
    }
    if (!found) refuse(QStringLiteral("el mensaje no trae EstOfi.DAT ni EstPriv.DAT"));
    return found;
}

void ReplyHandlers::MostrarEstadosOficiales(const QStringList& lines) {
    showStates(true, lines);
}

void ReplyHandlers::MostrarEstadosPersonales(const QStringList& lines) {
    showStates(false, lines);
}

void ReplyHandlers::showStates(bool official, const QStringList& raw) {
    ReceptionViews& v = *m_views;
    listHeader(official ? QStringLiteral("Estado de pedidos oficiales en QEV Central al ")
                        : QStringLiteral("Estado de pedidos personales en QEV Central al "));
    const QStringList lines = nonEmptyLines(raw);
    switch (classifyList(lines)) {
    case ListKind::NoRequests:
        v.stateLine(QStringLiteral("No existe ningún pedido en trámite de esta regional."));
        break;
    case ListKind::Unavailable:
        v.stateLine(QStringLiteral("Servicio no disponible."));
        break;
    case ListKind::Lines: {
        v.stateLine(padded(QStringLiteral("Pedido"), QStringLiteral("Estado"), QStringLiteral("Trámite")));
        v.stateLine(padded(dashes(10), dashes(30), dashes(10)));
        Dataset* ds = m_host.table(official ? QStringLiteral("ped") : QStringLiteral("pedp"));
        Dataset* estcent = m_host.table(QStringLiteral("estcent"));
        bool refreshed = false;
        for (const QString& line : lines) {
            const auto s = parseStateLine(line);
            if (!s) continue;
            QString description = kNoEspecificado;
            if (!s->estado.isEmpty()) description = lookupText(estcent, "C_ESTCENT", "X_ESTCENT", s->estado);
            const QString shown = s->expediente.isEmpty()
                                      ? QString()
                                      : (official ? QStringLiteral("U") : QStringLiteral("W")) + s->expediente;
            v.stateLine(padded(QString::number(s->pedido), description, shown));
            if (ds) applyListed(*ds, *s, false, QString(), refreshed);
        }
        break;
    }
    }
    if (official) v.stateLine(QString());
}

void ReplyHandlers::MostrarResultadosPersonales(const QStringList& raw) {
    ReceptionViews& v = *m_views;
    listHeader(QStringLiteral("Resultado de pedidos personales en QEV Central al "));
    const QStringList lines = nonEmptyLines(raw);
    switch (classifyList(lines)) {
    case ListKind::NoRequests:
        v.stateLine(QStringLiteral("No existe ningún pedido en trámite de esta regional."));
        return;
    case ListKind::Unavailable:
        v.stateLine(QStringLiteral("Servicio no disponible."));
        return;
    case ListKind::Lines:
        break;
    }
    v.stateLine(padded(QStringLiteral("Pedido"), QStringLiteral("Estado"), QStringLiteral("Trámite"),
                       QStringLiteral("Resultado")));
    v.stateLine(padded(dashes(10), dashes(30), dashes(10), dashes(20)));
    Dataset* pedp = m_host.table(QStringLiteral("pedp"));
    Dataset* estcent = m_host.table(QStringLiteral("estcent"));
    Dataset* res = m_host.table(QStringLiteral("res"));
    auto describe = [](Dataset* table, const char* key, const char* text, const QString& code) {
        if (code.isEmpty()) return kNoEspecificado;
        return lookupText(table, key, text, code);
    };
    bool refreshed = false;
    for (const QString& line : lines) {
        const auto r = parseResultLine(line);
        if (!r) continue;
        const QString state = describe(estcent, "C_ESTCENT", "X_ESTCENT", r->estado);
        const QString result = describe(res, "C_RES", "X_RES", r->resultado);
        const bool keepResult = !result.isEmpty() && result != kNoEspecificado;
        const QString shown = r->expediente.isEmpty() ? QString() : QStringLiteral("W") + r->expediente;
        v.stateLine(padded(QString::number(r->pedido), state, shown, result));
        if (pedp) applyListed(*pedp, *r, true, keepResult ? r->resultado : QString(), refreshed);
    }
}

bool ReplyHandlers::locateRequest(Dataset& ds, int cPed, bool& refreshed) {
    const dbf::Value key(static_cast<int64_t>(cPed));
    if (ds.locate(QStringLiteral("C_PED"), key)) return true;
    if (refreshed || ds.editing()) return false;
    // Another workstation may have added the request since the table was read.
    ds.refresh();
    refreshed = true;
    return ds.locate(QStringLiteral("C_PED"), key);
}

void ReplyHandlers::applyListed(Dataset& ds, const StateLine& line, bool answeredToo, const QString& result,
                                bool& refreshed) {
    if (!ds.active() || ds.editing() || !locateRequest(ds, line.pedido, refreshed)) return;
    const QString current = ds.text(QStringLiteral("C_EST"));
    const bool from = current == QLatin1String("E") || current == QLatin1String("T") ||
                      (answeredToo && current == QLatin1String("C"));
    const bool to =
        line.estado == QLatin1String("C") || line.estado == QLatin1String("R") || line.estado == QLatin1String("T");
    if (!from || !to || !ds.edit()) return;
    ds.setValue(QStringLiteral("C_EST"), dbf::Value(line.estado.toStdString()));
    if (!result.isEmpty()) setFitted(ds, QStringLiteral("C_RES"), result);
    int expe = 0;
    if (positiveNumber(line.expediente, expe))
        ds.setValue(QStringLiteral("N_EXPE"), dbf::Value(static_cast<int64_t>(expe)));
    (void)post(ds);
}

dbf::Value ReplyHandlers::today() const {
    const QDate d = m_host.clock().today();
    return dbf::Value(dbf::Date{d.year(), d.month(), d.day()});
}

void ReplyHandlers::listHeader(const QString& title) {
    m_views->stateLine(title + m_host.clock().now().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")));
    m_views->stateLine(QString(72, QLatin1Char('=')));
    m_views->stateLine(QString());
}

bool ReplyHandlers::ContestacionDisponibleOficial() {
    Dataset& ped = *m_host.table(QStringLiteral("ped"));
    const dbf::Value answered = ped.value(QStringLiteral("M_CONTESTA"));
    if (!answered.isBool() || !answered.boolean()) {
        m_host.prompter().error(QStringLiteral("El pedido no ha sido contestado"), QStringLiteral("Error"));
        return false;
    }
    const dbf::Value blob = ped.value(QStringLiteral("B_RESP"));
    if (blob.isBytes() && !blob.bytes().data.empty()) return true;
    const QString file =
        requestFileName(QStringLiteral("c"), ped.value(QStringLiteral("C_PED")), ped.value(QStringLiteral("C_REG")));
    if (!file.isEmpty() && QFileInfo::exists(m_host.appDir().existingFile(file))) return true;
    m_host.prompter().error(QStringLiteral("Este pedido no posee contestación"));
    return false;
}

bool ReplyHandlers::ContestacionDisponiblePersonal() {
    const QString state = m_host.table(QStringLiteral("pedp"))->text(QStringLiteral("C_EST"));
    if (state == QLatin1String("C") || state == QLatin1String("R")) return true;
    m_host.prompter().error(QStringLiteral("El pedido no ha sido contestado o rechazado"), QStringLiteral("Error"));
    return false;
}

} // namespace qev
