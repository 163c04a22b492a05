#include "requests/QueryStatements.h"

#include "core/Dataset.h"

namespace qev {

QString officialListStatement(bool byState) {
    QString s = QStringLiteral("SELECT ped.c_ped, ped.f_ped, ped.n_expe, ped.x_ape1, ped.x_nom1, ped.f_con, org.x_org\n"
                               "FROM \"ped.DBF\" ped, \"org.DBF\" org\n"
                               "WHERE ( ped.c_org = org.c_org )");
    if (byState) s += QStringLiteral("\nAND (ped.m_enviado = :m_enviado) and (ped.m_contesta = :m_contesta)");
    s += QStringLiteral("\nORDER BY ped.c_ped");
    return s;
}

OfficialListChoice officialListChoice(OfficialListOption option) {
    const QString title = QStringLiteral("Informe de Pedidos");
    switch (option) {
    case OfficialListOption::Unsent:
        return {true, false, false, title + QStringLiteral(" sin Enviar")};
    case OfficialListOption::SentUnanswered:
        return {true, true, false, title + QStringLiteral(" Enviados sin Contestar")};
    case OfficialListOption::Answered:
        return {true, true, true, title + QStringLiteral(" Contestados")};
    case OfficialListOption::All:
        break;
    }
    return {false, false, false, title};
}

QString consultaFile(ConsultaTable table) {
    switch (table) {
    case ConsultaTable::Personal:
        return QStringLiteral("Pedp.dbf");
    case ConsultaTable::Alias:
        return QStringLiteral("Sup.dbf");
    case ConsultaTable::Official:
        break;
    }
    return QStringLiteral("Ped.dbf");
}

QString consultaStatement(ConsultaTable table, const ConsultaCriteria& c) {
    const QString select = QStringLiteral("SELECT * FROM ") + consultaFile(table) + QStringLiteral(" WHERE ");
    switch (c.page) {
    case ConsultaPage::Code: {
        bool ok = false;
        const qlonglong number = c.code.trimmed().toLongLong(&ok);
        if (!ok || number <= 0) return {};
        return select + QStringLiteral("c_ped=") + QString::number(number);
    }
    case ConsultaPage::Name: {
        // One line per name typed; values go between double quotation marks as typed (whole-value match), a quotation
        // mark inside doubled so that it stays part of the value.
        const std::pair<const char*, const QString*> fields[] = {
            {"x_ape1", &c.ape1}, {"x_ape2", &c.ape2}, {"x_nom1", &c.nom1}, {"x_nom2", &c.nom2}, {"x_nom3", &c.nom3}};
        QStringList lines;
        for (const auto& [field, typed] : fields) {
            if (typed->isEmpty()) continue;
            lines << (lines.isEmpty() ? QStringLiteral(" ") : QStringLiteral(" AND ")) + QString::fromLatin1(field) +
                         QStringLiteral(" = \"") + QString(*typed).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                         QLatin1Char('"');
        }
        return select + lines.join(QLatin1Char('\n'));
    }
    case ConsultaPage::Document:
        // The field takes digits only; anything else would not be a number to compare with.
        for (const QChar ch : c.document)
            if (!ch.isDigit()) return {};
        return select + QStringLiteral("n_doc=") + c.document;
    }
    return {};
}

int findRequestRow(const Dataset& ds, RequestCriterion criterion, const QString& typed) {
    if (criterion == RequestCriterion::Number) {
        bool ok = false;
        const double number = typed.trimmed().toDouble(&ok);
        if (!ok) return -1;
        for (int i = 0; i < ds.rowCount(); ++i) {
            const dbf::Value v = ds.valueAt(i, QStringLiteral("C_PED"));
            if (v.isNumber() && v.number() == number) return i;
        }
        return -1;
    }
    const QString field =
        criterion == RequestCriterion::CaseNumber ? QStringLiteral("N_CAUSA") : QStringLiteral("X_APE1");
    if (!ds.hasField(field)) return -1;
    const QString wanted = typed.trimmed();
    if (wanted.isEmpty()) return -1;
    for (int i = 0; i < ds.rowCount(); ++i) {
        if (ds.textAt(i, field).trimmed().compare(wanted, Qt::CaseInsensitive) == 0) return i;
    }
    return -1;
}

std::pair<QDate, QDate> monthOf(const QDate& today) {
    const QDate first(today.year(), today.month(), 1);
    return {first, first.addMonths(1).addDays(-1)};
}

} // namespace qev
