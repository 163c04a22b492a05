#include "QevDb.h"
#include "DemoImages.h"
#include "SendCommand.h"

#include "Informe.h"
#include "TableCheck.h"
#include "core/OfficeSchema.h"
#include "dbf/Table.h"
#include "dbf/sql/SqlRunner.h"
#include "dbf/sql/SqlValues.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <functional>

namespace qev::tools {

namespace {

const char kUsage[] = R"(Uso: qevdb COMANDO [ARGUMENTOS]

Administración de las tablas dBase de la carpeta de la oficina.

Comandos:
  schema ARCHIVO           Muestra la cabecera de la tabla (versión y nivel, controlador de idioma,
                           cantidad de registros, largos de cabecera y de registro, marca de índice MDX)
                           y cada campo con su nombre, tipo, largo y decimales.
  dump ARCHIVO [--csv]     Lista todos los registros, también los borrados (columna _BORRADO con "*").
                           Sin --csv: columnas separadas por tabulador (\t, \n, \r y \\ escapados).
                           Con --csv: CSV con fila de encabezado, comillas donde hacen falta; los campos
                           binarios van en Base64.
  sql CARPETA "SENTENCIA" [--csv] [--param NOMBRE[:TIPO]=VALOR ...]
                           Ejecuta una sentencia SQL sobre las tablas de la carpeta (SELECT, INSERT,
                           UPDATE, DELETE, ALTER TABLE ... ADD). Un SELECT lista sus filas como dump
                           (con --csv, en CSV); las demás informan cuántas filas cambiaron. Una sentencia
                           rechazada no cambia nada. Cada parámetro :NOMBRE de la sentencia toma su
                           valor de un --param; el tipo es opcional:
                             NOMBRE=VALOR              texto (por omisión)
                             NOMBRE:text=VALOR         texto
                             NOMBRE:num=5              número (entero, o decimal con punto: 12.5)
                             NOMBRE:date=2024-01-05    fecha AAAA-MM-DD
                             NOMBRE:datetime=2024-01-05T10:30:00
                                                       fecha y hora (también con espacio en lugar de T)
                             NOMBRE:bool=true          lógico: true/false, t/f, s/n, si/no, 1/0
                             NOMBRE:null               nulo
  check ARCHIVO            Revisa la cabecera, el tamaño del archivo contra la cantidad de registros,
                           cada puntero de memo contra el .DBT y que cada campo de cada registro se
                           pueda leer, y cada etiqueta del índice de producción (.MDX) contra la
                           tabla: páginas, orden, cantidad de claves, claves sobrantes y faltantes.
                           Lista cada problema con archivo, registro y campo, o etiqueta y página.
                           Estado de salida: 0 sin problemas, 1 con problemas, 2 tabla ilegible.
  pack ARCHIVO             Elimina para siempre los registros borrados y regenera el índice de
                           producción. Abre la tabla en forma exclusiva: falla si otro proceso la tiene
                           abierta.
  reindex ARCHIVO          Regenera el índice de producción (.MDX) de la tabla desde sus registros, con
                           sus etiquetas (las de una tabla de la oficina que aún no lo tiene, si hace
                           falta). Abre la tabla en forma exclusiva.
  init CARPETA [--demo]    Crea todas las tablas de la oficina (nivel 7, DBWINUS0) con las tablas de
                           consulta, la configuración inicial y el usuario "admin". Con --demo agrega
                           organismos y pedidos de ejemplo con sus fichas y documentos. Rechaza una
                           carpeta que ya tenga alguna tabla de la oficina y entonces no modifica nada.
  enviar CARPETA --oficial|--personal C_PED [--si]
                           Envía el pedido a QEV Central como el botón "Enviar" de su ventana (servicio
                           web o correo, según la configuración de la oficina). Los mensajes van a la
                           salida de errores; cada pregunta se contesta No, o Sí con --si. Estado de
                           salida: 0 enviado, 1 rechazado o no enviado.
  recibir CARPETA          Recibe por POP3 las respuestas de QEV Central de la oficina y las aplica a
                           las tablas, como "Procesar Correo"; reenvía los mensajes ajenos. Los mensajes
                           van a la salida de errores y a logp.txt / EstCent.log; las contestaciones se
                           imprimen en PDF en la carpeta impresos. Escribe los contadores. Estado de
                           salida: 0 recibido, 1 si no se pudo conectar o contar los mensajes.
  informe CARPETA NOMBRE --oficial|--personal C_PED --pdf ARCHIVO
                           Escribe en ARCHIVO (PDF) el informe NOMBRE del pedido C_PED: TrpOficio
                           (carta oficial), TrpFicha (ficha), TrpCompr (comprobante), TrpContesPriv
                           (contestación) o TrpRechPriv (rechazo). No necesita pantalla.
  help                     Muestra esta ayuda.

Estado de salida: 0 correcto, 1 error, 2 uso incorrecto. Los errores van a la salida de errores.
)";

QString fromStd(const std::string& s) {
    return QString::fromStdString(s);
}

int usageError(QTextStream& err, const QString& why) {
    err << "qevdb: " << why << "\n"
        << "Use \"qevdb help\" para ver los comandos.\n";
    return kExitUsage;
}

int failed(QTextStream& err, const QString& why) {
    err << "qevdb: " << why << "\n";
    return kExitFailed;
}

QString levelName(const dbf::Table& t) {
    switch (t.level()) {
    case dbf::Level::DBase3:
        return QStringLiteral("dBase III");
    case dbf::Level::DBase4:
        return QStringLiteral("dBase IV/5");
    case dbf::Level::DBase7:
        return QStringLiteral("dBase nivel 7");
    }
    return QString();
}

// ---- schema --------------------------------------------------------------------------------------------------

int schemaCommand(const QString& file, QTextStream& out, QTextStream& err) {
    auto opened = dbf::Table::open(file.toStdString(), dbf::OpenMode::ReadOnly);
    if (!opened) return failed(err, fromStd(opened.error()));
    dbf::Table& t = **opened;
    out << "Archivo: " << fromStd(t.fileName()) << "\n";
    out << "Versión: 0x" << QString::number(t.versionByte(), 16).rightJustified(2, QLatin1Char('0')).toUpper() << " ("
        << levelName(t) << ")\n";
    const QString driver = t.languageDriver().empty() ? QStringLiteral("(sin nombre)") : fromStd(t.languageDriver());
    out << "Controlador de idioma: " << driver << " (" << fromStd(t.codepageName()) << ")\n";
    out << "Registros: " << t.recordCount() << "\n";
    out << "Largo de cabecera: " << t.headerLength() << "\n";
    out << "Largo de registro: " << t.recordLength() << "\n";
    out << "Índice de producción (MDX): " << (t.hasMdxFlag() ? "sí" : "no") << "\n";
    out << "Campos: " << t.fields().size() << "\n";
    int nameWidth = 6;
    for (const auto& f : t.fields())
        nameWidth = std::max(nameWidth, static_cast<int>(f.name.size()));
    out << "  " << QStringLiteral("Nro").rightJustified(3) << "  " << QStringLiteral("Nombre").leftJustified(nameWidth)
        << "  Tipo  Largo  Dec\n";
    int n = 0;
    for (const auto& f : t.fields()) {
        out << "  " << QString::number(++n).rightJustified(3) << "  " << fromStd(f.name).leftJustified(nameWidth)
            << "  " << QString(QLatin1Char(f.type)).leftJustified(4) << "  "
            << QString::number(f.length).rightJustified(5) << "  " << QString::number(f.decimals).rightJustified(3)
            << "\n";
    }
    return kExitOk;
}

// ---- dump ----------------------------------------------------------------------------------------------------

QString csvCell(const QString& s) {
    const bool quote = s.contains(QLatin1Char(',')) || s.contains(QLatin1Char('"')) || s.contains(QLatin1Char('\n')) ||
                       s.contains(QLatin1Char('\r')) || s.startsWith(QLatin1Char(' ')) || s.endsWith(QLatin1Char(' '));
    if (!quote) return s;
    QString q = s;
    q.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

QString tsvCell(const QString& s) {
    QString e;
    e.reserve(s.size());
    for (const QChar c : s) {
        if (c == QLatin1Char('\\'))
            e += QLatin1String("\\\\");
        else if (c == QLatin1Char('\t'))
            e += QLatin1String("\\t");
        else if (c == QLatin1Char('\n'))
            e += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            e += QLatin1String("\\r");
        else
            e += c;
    }
    return e;
}

// One value as a dump or SELECT cell: Base64 for binary values in CSV, the engine's display text otherwise.
QString valueCell(const dbf::Value& v, bool csv) {
    if (csv && v.isBytes()) return QString::fromLatin1(QByteArray::fromStdString(v.bytes().data).toBase64());
    const QString text = fromStd(v.toString());
    return csv ? csvCell(text) : tsvCell(text);
}

int dumpCommand(const QString& file, bool csv, QTextStream& out, QTextStream& err) {
    auto opened = dbf::Table::open(file.toStdString(), dbf::OpenMode::ReadOnly);
    if (!opened) return failed(err, fromStd(opened.error()));
    dbf::Table& t = **opened;
    const QChar sep = csv ? QLatin1Char(',') : QLatin1Char('\t');
    const auto cell = [csv](const QString& s) { return csv ? csvCell(s) : tsvCell(s); };

    QStringList header{QStringLiteral("_NRO"), QStringLiteral("_BORRADO")};
    for (const auto& f : t.fields())
        header << fromStd(f.name);
    QStringList cells;
    for (const QString& h : header)
        cells << cell(h);
    out << cells.join(sep) << "\n";

    int status = kExitOk;
    const uint32_t count = t.recordCount();
    constexpr uint32_t kChunk = 256;
    std::string raw;
    for (uint32_t first = 1; first <= count; first += kChunk) {
        const uint32_t n = std::min(kChunk, count - first + 1);
        if (auto r = t.readRaw(first, n, raw); !r) {
            err << "qevdb: " << fromStd(r.error()) << "\n";
            return kExitFailed;
        }
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t recno = first + i;
            const char* rec = raw.data() + static_cast<size_t>(i) * static_cast<size_t>(t.recordLength());
            cells.clear();
            cells << QString::number(recno) << (rec[0] == '*' ? QStringLiteral("*") : QString());
            for (int fi = 0; fi < static_cast<int>(t.fields().size()); ++fi) {
                auto v = t.decodeField(rec, fi, recno);
                if (!v) {
                    // The cell stays empty; the rest of the table is still listed.
                    err << "qevdb: " << fromStd(v.error()) << "\n";
                    status = kExitFailed;
                    cells << QString();
                    continue;
                }
                cells << valueCell(*v, csv);
            }
            out << cells.join(sep) << "\n";
        }
    }
    return status;
}

// ---- sql -----------------------------------------------------------------------------------------------------

// Reads one --param: NAME=VALUE (text), NAME:TYPE=VALUE or NAME:null.
bool parseParam(const QString& arg, dbf::sql::Params& params, QString& error) {
    const qsizetype eq = arg.indexOf(QLatin1Char('='));
    QString name = eq < 0 ? arg : arg.left(eq);
    const QString value = eq < 0 ? QString() : arg.mid(eq + 1);
    QString type = QStringLiteral("text");
    if (const qsizetype colon = name.indexOf(QLatin1Char(':'), 1); colon > 0) {
        type = name.mid(colon + 1).toLower();
        name = name.left(colon);
    }
    if (name.startsWith(QLatin1Char(':'))) name.remove(0, 1);
    if (name.isEmpty()) {
        error = QStringLiteral("parámetro sin nombre: %1").arg(arg);
        return false;
    }
    if (eq < 0 && type != QLatin1String("null")) {
        error = QStringLiteral("al parámetro %1 le falta \"=VALOR\"").arg(arg);
        return false;
    }
    const auto invalid = [&](const QString& what) {
        error = QStringLiteral("el parámetro %1 no es %2: %3").arg(name, what, value);
        return false;
    };
    dbf::Value v;
    if (type == QLatin1String("text")) {
        v = dbf::Value(value.toStdString());
    } else if (type == QLatin1String("num")) {
        bool ok = false;
        const qlonglong whole = value.toLongLong(&ok);
        if (ok) {
            v = dbf::Value(static_cast<int64_t>(whole));
        } else {
            const double d = value.toDouble(&ok);
            if (!ok) return invalid(QStringLiteral("un número"));
            v = dbf::Value(d);
        }
    } else if (type == QLatin1String("date")) {
        const QDate d = QDate::fromString(value, Qt::ISODate);
        if (!d.isValid() || value.size() != 10) return invalid(QStringLiteral("una fecha AAAA-MM-DD"));
        v = dbf::Value(dbf::Date{d.year(), d.month(), d.day()});
    } else if (type == QLatin1String("datetime")) {
        const auto t = dbf::sql::parseDateTimeText(value.toStdString());
        if (!t || !t->date.valid()) return invalid(QStringLiteral("una fecha y hora AAAA-MM-DDTHH:MM[:SS]"));
        v = dbf::Value(*t);
    } else if (type == QLatin1String("bool")) {
        const QString b = value.toLower();
        if (b == QLatin1String("true") || b == QLatin1String("t") || b == QLatin1String("s") ||
            b == QLatin1String("si") || b == QStringLiteral("sí") || b == QLatin1String("1")) {
            v = dbf::Value(true);
        } else if (b == QLatin1String("false") || b == QLatin1String("f") || b == QLatin1String("n") ||
                   b == QLatin1String("no") || b == QLatin1String("0")) {
            v = dbf::Value(false);
        } else {
            return invalid(QStringLiteral("un lógico (true/false, s/n, 1/0)"));
        }
    } else if (type == QLatin1String("null")) {
        v = dbf::Value();
    } else {
        error = QStringLiteral("tipo de parámetro desconocido: %1 (text, num, date, datetime, bool, null)").arg(type);
        return false;
    }
    params[name.toStdString()] = std::move(v);
    return true;
}

int sqlCommand(const QString& dir, const QString& statement, bool csv, const dbf::sql::Params& params, QTextStream& out,
               QTextStream& err) {
    if (!QFileInfo(dir).isDir()) return failed(err, QStringLiteral("la carpeta %1 no existe").arg(dir));
    dbf::sql::SqlRunner runner(QDir(dir).absolutePath().toStdString());
    auto result = runner.run(statement.toStdString(), params);
    if (!result) return failed(err, fromStd(result.error()));
    const dbf::sql::SqlResult& r = *result;
    if (r.columns.empty()) {
        out << r.rowsAffected << (r.rowsAffected == 1 ? " fila modificada\n" : " filas modificadas\n");
        return kExitOk;
    }
    const QChar sep = csv ? QLatin1Char(',') : QLatin1Char('\t');
    QStringList cells;
    for (const auto& c : r.columns)
        cells << (csv ? csvCell(fromStd(c.name)) : tsvCell(fromStd(c.name)));
    out << cells.join(sep) << "\n";
    for (const auto& row : r.rows) {
        cells.clear();
        for (const auto& v : row)
            cells << valueCell(v, csv);
        out << cells.join(sep) << "\n";
    }
    if (!csv) out << "(" << r.rows.size() << (r.rows.size() == 1 ? " fila)\n" : " filas)\n");
    return kExitOk;
}

// ---- check ---------------------------------------------------------------------------------------------------

int checkCommand(const QString& file, QTextStream& out, QTextStream& err) {
    const CheckReport report = checkTable(file);
    const QString name = QFileInfo(file).fileName();
    if (report.status == CheckReport::Status::Unreadable) {
        for (const QString& p : report.problems)
            err << "qevdb: " << p << "\n";
        err << "qevdb: " << name << ": la tabla no se puede leer\n";
        return kExitUnreadable;
    }
    for (const QString& p : report.problems)
        out << p << "\n";
    if (report.unlisted > 0) out << name << ": " << report.unlisted << " problemas más sin listar\n";
    const int total = static_cast<int>(report.problems.size()) + report.unlisted;
    if (report.status == CheckReport::Status::Ok) {
        out << name << ": sin problemas (" << report.checkedRecords << " registros revisados)\n";
        return kExitOk;
    }
    out << name << ": " << total << (total == 1 ? " problema" : " problemas") << " (" << report.checkedRecords << " de "
        << report.declaredRecords << " registros revisados)\n";
    return kExitFailed;
}

// ---- pack ----------------------------------------------------------------------------------------------------

int packCommand(const QString& file, QTextStream& out, QTextStream& err) {
    auto opened = dbf::Table::open(file.toStdString(), dbf::OpenMode::Exclusive);
    if (!opened) return failed(err, fromStd(opened.error()));
    dbf::Table& t = **opened;
    const uint32_t before = t.recordCount();
    auto packed = t.pack();
    if (!packed) return failed(err, fromStd(packed.error()));
    const uint32_t after = t.recordCount();
    out << fromStd(t.fileName()) << ": empaquetada; " << after << " registros, " << (before - after)
        << " borrados eliminados\n";
    return kExitOk;
}

// ---- reindex -------------------------------------------------------------------------------------------------

int reindexCommand(const QString& file, QTextStream& out, QTextStream& err) {
    auto opened = dbf::Table::open(file.toStdString(), dbf::OpenMode::Exclusive);
    if (!opened) return failed(err, fromStd(opened.error()));
    dbf::Table& t = **opened;
    const TableSpec* layout = findOfficeTable(QFileInfo(file).fileName());
    if (layout && layout->productionIndex) t.setDefaultIndexTags({layout->keyField.toStdString()});
    auto done = t.regenerateIndexFile(true);
    if (!done) return failed(err, fromStd(done.error()));
    const std::vector<std::string> tags = t.indexTags();
    if (tags.empty()) {
        out << fromStd(t.fileName()) << ": la tabla no tiene índice de producción\n";
        return kExitOk;
    }
    QStringList names;
    for (const std::string& n : tags)
        names << fromStd(n);
    out << fromStd(t.fileName()) << ": índice regenerado; " << t.recordCount() << " registros, etiquetas "
        << names.join(QStringLiteral(", ")) << "\n";
    return kExitOk;
}

// ---- init ----------------------------------------------------------------------------------------------------

int initCommand(const QString& dir, bool demo, QTextStream& out, QTextStream& err) {
    QString error;
    if (!createOfficeFolder(dir, demo, &error)) return failed(err, error);
    if (demo && !writeDemoImages(dir, &error)) return failed(err, error);
    out << "Carpeta de la oficina creada en " << QDir(dir).absolutePath() << (demo ? " (con datos de ejemplo)" : "")
        << ":\n";
    for (const TableSpec& t : officeTables())
        out << "  " << t.fileName << "\n";
    return kExitOk;
}

} // namespace

int runQevDb(const QStringList& args, QTextStream& out, QTextStream& err) {
    if (args.isEmpty()) {
        err << kUsage;
        return kExitUsage;
    }
    const QString command = args.first();
    const QStringList rest = args.mid(1);
    if (command == QLatin1String("help") || command == QLatin1String("--help") || command == QLatin1String("-h")) {
        out << kUsage;
        return kExitOk;
    }

    // Commands of the form `COMMAND FILE` with optional flags.
    const auto oneFile = [&](const QStringList& allowedFlags, QString& file, QStringList& flags) -> bool {
        for (const QString& a : rest) {
            if (a.startsWith(QLatin1String("--"))) {
                if (!allowedFlags.contains(a)) return false;
                flags << a;
            } else if (file.isEmpty()) {
                file = a;
            } else {
                return false;
            }
        }
        return !file.isEmpty();
    };

    QString target;
    QStringList flags;
    if (command == QLatin1String("schema")) {
        if (!oneFile({}, target, flags)) return usageError(err, QStringLiteral("uso: qevdb schema ARCHIVO"));
        return schemaCommand(target, out, err);
    }
    if (command == QLatin1String("dump")) {
        if (!oneFile({QStringLiteral("--csv")}, target, flags))
            return usageError(err, QStringLiteral("uso: qevdb dump ARCHIVO [--csv]"));
        return dumpCommand(target, flags.contains(QLatin1String("--csv")), out, err);
    }
    if (command == QLatin1String("sql")) {
        const QString usage =
            QStringLiteral("uso: qevdb sql CARPETA \"SENTENCIA\" [--csv] [--param NOMBRE[:TIPO]=VALOR ...]");
        QStringList positional;
        dbf::sql::Params params;
        bool csv = false;
        for (qsizetype i = 0; i < rest.size(); ++i) {
            const QString& a = rest[i];
            if (a == QLatin1String("--csv")) {
                csv = true;
            } else if (a == QLatin1String("--param")) {
                if (++i >= rest.size()) return usageError(err, usage);
                QString error;
                if (!parseParam(rest[i], params, error)) return usageError(err, error);
            } else if (a.startsWith(QLatin1String("--"))) {
                return usageError(err, usage);
            } else {
                positional << a;
            }
        }
        if (positional.size() != 2) return usageError(err, usage);
        return sqlCommand(positional[0], positional[1], csv, params, out, err);
    }
    if (command == QLatin1String("check")) {
        if (!oneFile({}, target, flags)) return usageError(err, QStringLiteral("uso: qevdb check ARCHIVO"));
        return checkCommand(target, out, err);
    }
    if (command == QLatin1String("pack")) {
        if (!oneFile({}, target, flags)) return usageError(err, QStringLiteral("uso: qevdb pack ARCHIVO"));
        return packCommand(target, out, err);
    }
    if (command == QLatin1String("reindex")) {
        if (!oneFile({}, target, flags)) return usageError(err, QStringLiteral("uso: qevdb reindex ARCHIVO"));
        return reindexCommand(target, out, err);
    }
    if (command == QLatin1String("informe")) return informeCommand(rest, out, err);
    if (command == QLatin1String("init")) {
        if (!oneFile({QStringLiteral("--demo")}, target, flags))
            return usageError(err, QStringLiteral("uso: qevdb init CARPETA [--demo]"));
        return initCommand(target, flags.contains(QLatin1String("--demo")), out, err);
    }
    if (command == QLatin1String("enviar")) return sendCommand(rest, out, err);
    if (command == QLatin1String("recibir")) return receiveCommand(rest, out, err);
    return usageError(err, QStringLiteral("comando desconocido: %1").arg(command));
}

} // namespace qev::tools
