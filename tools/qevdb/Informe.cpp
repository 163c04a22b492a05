#include "Informe.h"

#include "QevDb.h"
#include "reports/Catalog.h"
#include "reports/Renderer.h"
#include "reports/ReportSource.h"

#include <QDir>

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

    const reports::RequestKind kind = oficial ? reports::RequestKind::Oficial : reports::RequestKind::Personal;
    QString error;
    if (!reports::reportFits(name, kind, &error)) return fail(err, error);
    bool numeric = false;
    const int cPed = number.toInt(&numeric);
    const QString kindName = oficial ? QStringLiteral("oficial") : QStringLiteral("personal");
    if (!numeric || cPed <= 0) return fail(err, QStringLiteral("Número de pedido incorrecto: %1").arg(number));

    reports::OfficeTables tables(folder);
    if (!tables.open(&error)) return fail(err, error);
    Dataset* requests = tables.table(oficial ? QStringLiteral("ped") : QStringLiteral("pedp"));
    if (!requests->locate(QStringLiteral("C_PED"), dbf::Value(cPed)))
        return fail(err, QStringLiteral("No existe el pedido %1 %2 en la carpeta %3.").arg(kindName, number, folder));
    const reports::ReportSource source = tables.source(QDate::currentDate());

    reports::Layout layout;
    QStringList warnings;
    if (!reports::buildReport(name, kind, source, layout, &warnings, &error)) return fail(err, error);
    for (const QString& w : warnings)
        err << "qevdb: aviso: " << w << "\n";
    const reports::RenderResult result = reports::renderPdf({layout}, pdf);
    if (!result.ok()) return fail(err, result.error);
    out << name << ": " << result.pages << (result.pages == 1 ? " página" : " páginas") << " en "
        << QDir::toNativeSeparators(pdf) << "\n";
    return kExitOk;
}

} // namespace qev::tools
