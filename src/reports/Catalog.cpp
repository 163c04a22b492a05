#include "reports/Catalog.h"

#include "reports/TrpCompr.h"
#include "reports/TrpContesPriv.h"
#include "reports/TrpFicha.h"
#include "reports/TrpOficio.h"
#include "reports/TrpRechPriv.h"

#include <QDir>
#include <QFileInfo>

namespace qev::reports {

const QStringList& reportNames() {
    static const QStringList names{QStringLiteral("TrpOficio"), QStringLiteral("TrpFicha"), QStringLiteral("TrpCompr"),
                                   QStringLiteral("TrpContesPriv"), QStringLiteral("TrpRechPriv")};
    return names;
}

bool reportFits(const QString& name, RequestKind kind, QString* error) {
    QString why;
    if (!reportNames().contains(name))
        why = QStringLiteral("Informe desconocido: %1. Informes: %2.")
                  .arg(name, reportNames().join(QStringLiteral(", ")));
    else if (kind == RequestKind::Oficial && name != QLatin1String("TrpOficio") && name != QLatin1String("TrpFicha"))
        why = QStringLiteral("El informe %1 es de pedidos personales: use --personal.").arg(name);
    else if (kind == RequestKind::Personal && name == QLatin1String("TrpOficio"))
        why = QStringLiteral("El informe %1 es de pedidos oficiales: use --oficial.").arg(name);
    if (error) *error = why;
    return why.isEmpty();
}

QString cardImageFile(const QString& folder, RequestKind kind, const QString& cPed, const QString& cReg) {
    const QDir dir(folder);
    const QString composed = dir.filePath(cPed + QLatin1Char('_') + cReg + QStringLiteral(".bmp"));
    const QString stored = dir.filePath((kind == RequestKind::Oficial ? QStringLiteral("h") : QStringLiteral("hp")) +
                                        cPed + QLatin1Char('.') + cReg);
    return !QFileInfo::exists(composed) && QFileInfo::exists(stored) ? stored : composed;
}

bool buildReport(const QString& name, RequestKind kind, const ReportSource& source, Layout& out, QStringList* warnings,
                 QString* error) {
    if (!reportFits(name, kind, error)) return false;
    Dataset* requests = source.get(kind == RequestKind::Oficial ? QStringLiteral("ped") : QStringLiteral("pedp"));
    if (!requests || requests->position() < 0) {
        if (error) *error = QStringLiteral("No hay un pedido elegido para imprimir.");
        return false;
    }
    const QString cPed = requests->text(QStringLiteral("C_PED"));
    if (name == QLatin1String("TrpOficio")) {
        if (requests->isNull(QStringLiteral("X_APE1"))) {
            if (error)
                *error = QStringLiteral("El pedido oficial %1 no tiene apellido: no se imprime la carta.").arg(cPed);
            return false;
        }
        out = TrpOficio::layout(TrpOficio::read(source));
    } else if (name == QLatin1String("TrpFicha")) {
        const QString cReg = requests->text(QStringLiteral("C_REG"));
        TrpFicha ficha;
        if (!ficha.setImageFile(cardImageFile(source.folder, kind, cPed, cReg), error)) return false;
        ficha.setCaption(TrpFicha::caption(cPed, cReg));
        out = ficha.layout();
    } else if (name == QLatin1String("TrpCompr")) {
        if (requests->isNull(QStringLiteral("C_PED")) || requests->value(QStringLiteral("C_PED")).number() <= 0) {
            if (error) *error = QStringLiteral("El pedido no está grabado: no se imprime el comprobante.");
            return false;
        }
        const TrpCompr::Data data = TrpCompr::read(source);
        if (warnings) *warnings << TrpCompr::problems(data);
        out = TrpCompr::layout(data);
    } else if (name == QLatin1String("TrpContesPriv")) {
        out = TrpContesPriv::layout(TrpContesPriv::read(source));
    } else {
        out = TrpRechPriv::layout(TrpRechPriv::read(source));
    }
    return true;
}

} // namespace qev::reports
