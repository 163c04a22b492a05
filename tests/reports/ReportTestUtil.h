#pragma once
// Running the programs that check printed pages: pdftotext, pdftoppm, zbarimg, pdfinfo.
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace qev::test {

struct ProgramRun {
    int status = -1;
    QString out;
    QString err;
};

inline ProgramRun run(const QString& program, const QStringList& args, int timeoutMs = 60000) {
    QProcess p;
    p.start(program, args);
    ProgramRun r;
    if (!p.waitForFinished(timeoutMs)) return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// The page text with the layout kept (one printed line per text line).
inline QString pdfText(const QString& pdf) {
    return run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")}).out;
}

inline int pdfPages(const QString& pdf) {
    const QString info = run(QStringLiteral("pdfinfo"), {pdf}).out;
    const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Every Code 39 symbol zbarimg decodes on the pages rendered at 300 dpi, sorted.
inline QStringList decodeBarcodes(const QString& pdf) {
    QTemporaryDir dir;
    run(QStringLiteral("pdftoppm"),
        {QStringLiteral("-r"), QStringLiteral("300"), QStringLiteral("-png"), pdf, dir.filePath(QStringLiteral("p"))});
    QStringList found;
    const QStringList pngs = QDir(dir.path()).entryList({QStringLiteral("*.png")});
    for (const QString& png : pngs) {
        const ProgramRun r = run(QStringLiteral("zbarimg"), {QStringLiteral("-q"), dir.filePath(png)});
        for (const QString& line : r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (line.startsWith(QLatin1String("CODE-39:"))) found << line.mid(8);
        }
    }
    found.sort();
    return found;
}

// The position after the last of `parts`, each found after the one before; -1 when one is missing or out of order
// (`missing` names it).
inline qsizetype findInOrder(const QString& text, const QStringList& parts, QString* missing) {
    qsizetype pos = 0;
    for (const QString& p : parts) {
        const qsizetype at = text.indexOf(p, pos);
        if (at < 0) {
            if (missing) *missing = p;
            return -1;
        }
        pos = at + p.size();
    }
    return pos;
}

// The first line of `text` that contains `marker`.
inline QString lineWith(const QString& text, const QString& marker) {
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.contains(marker)) return line;
    }
    return QString();
}

} // namespace qev::test
