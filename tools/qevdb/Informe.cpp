#include "Informe.h"

#include "QevDb.h"
#include "reports/Renderer.h"
#include "reports/ReportSource.h"
#include "reports/TrpCompr.h"
#include "reports/TrpContesPriv.h"
#include "reports/TrpFicha.h"
#include "reports/TrpOficio.h"
#include "reports/TrpRechPriv.h"

#include <QDir>
#include <QFileInfo>

namespace qev::tools {

namespace {

const char kUsage[] = "uso: qevdb informe CARPETA NOMBRE --oficial|--personal C_PED --pdf ARCHIVO";

int fail(QTextStream& err, const QString& why) {
    err << "qevdb: " << why << "\n";
    return kExitFailed;
}

} // namespace

int informeCommand(const QStringList& args, QTextStream& out, QTextStream& err) {
    QString folder, name, number, pdf;
    bool oficial = false, personal = false;
    QStringList positional;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--oficial") || a == QLatin1String("--personal")) {
            (a == QLatin1String("--oficial") ? oficial : personal) = true;
            if (i + 1 >= args.size()) break;
            number = args[++i];
        } else if (a == QLatin1String("--pdf")) {
            if (i + 1 >= args.size()) break;
            pdf = args[++i];
        } else if (a.startsWith(QLatin1String("--"))) {
            err << "qevdb: " << kUsage << "\n";
            return kExitUsage;
        } else {
            positional << a;
        }
    }
    if (positional.size() != 2 || oficial == personal || number.isEmpty() || pdf.isEmpty()) {
        err << "qevdb: " << kUsage << "\n";
        return kExitUsage;
    }
    folder = QDir(positional[0]).absolutePath();
    name = positional[1];

    const QStringList officialReports{QStringLiteral("TrpOficio"), QStringLiteral("TrpFicha")};
    const QStringList personalReports{QStringLiteral("TrpCompr"), QStringLiteral("TrpContesPriv"),
                                      QStringLiteral("TrpRechPriv"), QStringLiteral("TrpFicha")};
    if (!officialReports.contains(name) && !personalReports.contains(name))
        return fail(err, QStringLiteral("Informe desconocido: %1. Informes: TrpOficio, TrpFicha, TrpCompr, "
                                        "TrpContesPriv, TrpRechPriv.")
                             .arg(name));
    if (oficial && !officialReports.contains(name))
        return fail(err, QStringLiteral("El informe %1 es de pedidos personales: use --personal.").arg(name));
    if (personal && !personalReports.contains(name))
        return fail(err, QStringLiteral("El informe %1 es de pedidos oficiales: use --oficial.").arg(name));
    bool numeric = false;
    const int cPed = number.toInt(&numeric);
    const QString kind = oficial ? QStringLiteral("oficial") : QStringLiteral("personal");
    if (!numeric || cPed <= 0) return fail(err, QStringLiteral("Número de pedido incorrecto: %1").arg(number));

    reports::OfficeTables tables(folder);
    QString error;
    if (!tables.open(&error)) return fail(err, error);
    Dataset* requests = tables.table(oficial ? QStringLiteral("ped") : QStringLiteral("pedp"));
    if (!requests->locate(QStringLiteral("C_PED"), dbf::Value(cPed)))
        return fail(err, QStringLiteral("No existe el pedido %1 %2 en la carpeta %3.").arg(kind, number, folder));
    const reports::ReportSource source = tables.source(QDate::currentDate());

    reports::Layout layout;
    if (name == QLatin1String("TrpOficio")) {
        if (requests->isNull(QStringLiteral("X_APE1")))
            return fail(err, QStringLiteral("El pedido oficial %1 no tiene apellido: no se imprime la carta.")
                                 .arg(number));
        layout = reports::TrpOficio::layout(reports::TrpOficio::read(source));
    } else if (name == QLatin1String("TrpFicha")) {
        // The composed card of the livescan window, else the request's stored card image.
        const QString cReg = requests->text(QStringLiteral("C_REG"));
        QString file = QDir(folder).filePath(number + QLatin1Char('_') + cReg + QStringLiteral(".bmp"));
        const QString stored = QDir(folder).filePath((oficial ? QStringLiteral("h") : QStringLiteral("hp")) + number +
                                                     QLatin1Char('.') + cReg);
        if (!QFileInfo::exists(file) && QFileInfo::exists(stored)) file = stored;
        reports::TrpFicha ficha;
        if (!ficha.setImageFile(file, &error)) return fail(err, error);
        ficha.setCaption(reports::TrpFicha::caption(number, cReg));
        layout = ficha.layout();
    } else if (name == QLatin1String("TrpCompr")) {
        const auto data = reports::TrpCompr::read(source);
        for (const QString& p : reports::TrpCompr::problems(data))
            err << "qevdb: aviso: " << p << "\n";
        layout = reports::TrpCompr::layout(data);
    } else if (name == QLatin1String("TrpContesPriv")) {
        layout = reports::TrpContesPriv::layout(reports::TrpContesPriv::read(source));
    } else {
        layout = reports::TrpRechPriv::layout(reports::TrpRechPriv::read(source));
    }
    const reports::RenderResult result = reports::renderPdf({layout}, pdf);
    if (!result.ok()) return fail(err, result.error);
    out << name << ": " << result.pages << (result.pages == 1 ? " página" : " páginas") << " en "
        << QDir::toNativeSeparators(pdf) << "\n";
    return kExitOk;
}

} // namespace qev::tools
