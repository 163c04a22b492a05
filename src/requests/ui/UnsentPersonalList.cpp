#include "requests/ui/UnsentPersonalList.h"

#include "core/Dataset.h"
#include "core/ui/TFListado.h"

namespace qev {

void listUnsentPersonal(Dataset& pedp, TFListado& list) {
    const QString title = QStringLiteral("Pedidos personales sin enviar");
    list.begin(title, 1, pedp.rowCount());
    list.addLine(title);
    list.addLine(QString(29, QLatin1Char('=')));
    const bool moveCursor = !pedp.editing();
    const QString state = QStringLiteral("C_EST");
    const QString number = QStringLiteral("C_PED");
    for (int row = 0; row < pedp.rowCount(); ++row) {
        if (moveCursor) pedp.moveTo(row);
        if (pedp.textAt(row, state).trimmed() == QStringLiteral("I")) list.addLine(pedp.textAt(row, number).trimmed());
        list.step();
    }
}

} // namespace qev
