#include "core/Records.h"

#include "core/Dataset.h"
#include "core/OfficeSchema.h"
#include "dbf/Table.h"
#include "util/AppDir.h"
#include "util/Prompter.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>
#include <cmath>

namespace qev {

using dbf::Value;

bool requiredFieldMissing(Prompter& prompter, const Value& value, const QString& label) {
    const bool missing = value.isNull() || (value.isText() && value.text().empty());
    if (missing)
        prompter.warn(QStringLiteral("Debe completar el campo \"%1\"").arg(label), QStringLiteral("Advertencia"));
    return missing;
}

bool validNameCharacters(Prompter& prompter, const Value& value) {
    if (value.isNull()) return true;
    const QString text = toQString(value);
    for (const QChar c : text) {
        const bool ok = c == QLatin1Char(' ') || c == QLatin1Char('\'') || c == QChar(0x00D1) ||
                        (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
        if (!ok) {
            prompter.warn(text + QStringLiteral(" contiene caracteres que no son válidos\rSólo se acepta A .. Z y el "
                                                "apostrofe"),
                          QStringLiteral("Advertencia"));
            return false;
        }
    }
    return true;
}

QString normaliseBlanks(const QString& text) {
    QString t = text.trimmed();
    while (t.contains(QStringLiteral("  ")))
        t.replace(QStringLiteral("  "), QStringLiteral(" "));
    return t;
}

Value normaliseBlanks(const Value& value) {
    if (!value.isText()) return value;
    return Value(normaliseBlanks(QString::fromStdString(value.text())).toStdString());
}

QString requestFileName(const QString& prefix, const Value& cPed, const Value& cReg) {
    if (cPed.isNull() || cReg.isNull() || !cPed.isNumber() || !cReg.isNumber()) return QString();
    return prefix + QString::number(static_cast<qint64>(std::llround(cPed.number()))) + QLatin1Char('.') +
           QString::number(static_cast<qint64>(std::llround(cReg.number())));
}

double nextSequenceNumber(const QString& folder, const QString& objectName, Prompter& prompter,
                          std::chrono::milliseconds patience) {
    BusyScope busy(prompter);
    const TableSpec* sec = findOfficeTable(QStringLiteral("sec"));
    const std::string path = AppDir(folder).existingFile(sec->fileName).toStdString();
    QElapsedTimer waited;
    waited.start();
    std::unique_ptr<dbf::Table> table;
    for (;;) {
        auto t = dbf::Table::open(path, dbf::OpenMode::Exclusive);
        if (t) {
            table = std::move(t).value();
            break;
        }
        if (waited.elapsed() >= patience.count()) {
            prompter.error(QString::fromStdString(t.error()), QStringLiteral("Error"));
            return 0;
        }
        // Another workstation is taking a number: try again shortly, at a random moment so that waiters spread.
        QThread::usleep(200 + QRandomGenerator::global()->bounded(1800));
    }
    const int nameField = table->fieldIndex("C_SEC");
    const int numberField = table->fieldIndex("N_SEC");
    double number = 0;
    if (nameField >= 0 && numberField >= 0) {
        const uint32_t n = table->recordCount();
        for (uint32_t rn = 1; rn <= n; ++rn) {
            auto row = table->read(rn);
            if (!row) {
                prompter.error(QString::fromStdString(row.error()), QStringLiteral("Error"));
                return 0;
            }
            const Value& name = row->values[static_cast<size_t>(nameField)];
            if (row->deleted || !name.isText() ||
                QString::fromStdString(name.text()).trimmed().compare(objectName, Qt::CaseInsensitive) != 0)
                continue;
            const Value& last = row->values[static_cast<size_t>(numberField)];
            number = (last.isNumber() ? last.number() : 0) + 1;
            row->values[static_cast<size_t>(numberField)] = Value(number);
            auto written = table->update(rn, row->values);
            if (!written) {
                prompter.error(QString::fromStdString(written.error()), QStringLiteral("Error"));
                return 0;
            }
            break;
        }
    }
    table.reset();
    if (number <= 0)
        prompter.error(QStringLiteral("No se puedo obtener el número de secuencia del objeto \"%1\"").arg(objectName),
                       QStringLiteral("Error"));
    return number;
}

} // namespace qev
