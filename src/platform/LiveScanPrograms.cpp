#include "platform/LiveScanPrograms.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTimer>

#include <algorithm>

namespace qev::platform {

namespace {

constexpr qint64 kMaxIniBytes = 256 * 1024;

// An INI file as lines, so that a rewrite keeps everything it does not set.
struct IniText {
    QStringList lines;
    bool latin1 = false; // written back as it was read, for the older programs that read the file too

    static IniText read(const QString& path) {
        IniText ini;
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return ini;
        const QByteArray bytes = f.read(kMaxIniBytes);
        QStringDecoder utf8(QStringDecoder::Utf8);
        QString text = utf8(bytes);
        ini.latin1 = utf8.hasError(); // files written by the old programs are ANSI
        if (ini.latin1) text = QString::fromLatin1(bytes);
        text.remove(QLatin1Char('\r'));
        ini.lines = text.split(QLatin1Char('\n'));
        while (!ini.lines.isEmpty() && ini.lines.back().trimmed().isEmpty())
            ini.lines.removeLast();
        return ini;
    }

    static bool isSection(const QString& line, QString* name) {
        const QString t = line.trimmed();
        if (!t.startsWith(QLatin1Char('[')) || !t.endsWith(QLatin1Char(']'))) return false;
        if (name) *name = t.mid(1, t.size() - 2).trimmed();
        return true;
    }

    // Index of the key's line within the section, -1 when absent; `end` receives the index after the section.
    int find(const QString& section, const QString& key, int* sectionEnd = nullptr) const {
        int found = -1;
        int end = -1;
        bool inside = false;
        for (int i = 0; i < lines.size(); ++i) {
            QString name;
            if (isSection(lines[i], &name)) {
                if (inside) break;
                inside = name.compare(section, Qt::CaseInsensitive) == 0;
                if (inside) end = i + 1;
                continue;
            }
            if (!inside) continue;
            if (!lines[i].trimmed().isEmpty()) end = i + 1;
            const qsizetype eq = lines[i].indexOf(QLatin1Char('='));
            if (eq > 0 && found < 0 && lines[i].left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0) found = i;
        }
        if (sectionEnd) *sectionEnd = end;
        return found;
    }

    std::optional<QString> value(const QString& section, const QString& key) const {
        const int i = find(section, key);
        if (i < 0) return std::nullopt;
        return lines[i].mid(lines[i].indexOf(QLatin1Char('=')) + 1).trimmed();
    }

    void set(const QString& section, const QString& key, const QString& value) {
        int end = -1;
        const int i = find(section, key, &end);
        const QString line = key + QLatin1Char('=') + value;
        if (i >= 0) {
            lines[i] = line;
        } else if (end >= 0) {
            lines.insert(end, line);
        } else {
            if (!lines.isEmpty()) lines << QString();
            lines << QLatin1Char('[') + section + QLatin1Char(']') << line;
        }
    }
};

const QString kConfig = QStringLiteral("Config");
const QString kSimulator = QStringLiteral("Simulador");

QString quoted(const QString& path) {
    return QLatin1Char('"') + QDir::toNativeSeparators(path) + QLatin1Char('"');
}

} // namespace

LiveScanIni readLiveScanIni(const QString& folder) {
    const IniText ini = IniText::read(folder + QLatin1Char('/') + QLatin1String(kLiveScanIniFile));
    LiveScanIni out;
    // A blank folder would be the program's current folder: it counts as not set.
    out.pathLiveScan = ini.value(kConfig, QStringLiteral("PathLiveScan")).value_or(QString()).trimmed();
    if (out.pathLiveScan.isEmpty()) out.pathLiveScan = folder + QStringLiteral("/LiveScanIB/");
    out.liveScanIni = ini.value(kConfig, QStringLiteral("LiveScanIni")).value_or(QString());
    out.simulatorFolder = ini.value(kSimulator, QStringLiteral("Carpeta")).value_or(QString());
    bool ok = false;
    const int interval = ini.value(kSimulator, QStringLiteral("Intervalo")).value_or(QString()).toInt(&ok);
    if (ok && interval >= 0) out.simulatorIntervalMs = interval;
    const int timeout = ini.value(kConfig, QStringLiteral("TiempoMaximo")).value_or(QString()).toInt(&ok);
    if (ok && timeout > 0) out.programTimeoutSeconds = std::min(timeout, kMaxProgramTimeoutSeconds);
    return out;
}

bool writeLiveScanIni(const QString& folder, const LiveScanIni& values, QString* error) {
    const QString path = folder + QLatin1Char('/') + QLatin1String(kLiveScanIniFile);
    IniText ini = IniText::read(path);
    ini.set(kConfig, QStringLiteral("PathLiveScan"), values.pathLiveScan);
    ini.set(kConfig, QStringLiteral("LiveScanIni"), values.liveScanIni);
    const QString text = ini.lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
    const bool fitsLatin1 = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
    QSaveFile f(path);
    bool ok = f.open(QIODevice::WriteOnly);
    if (ok) {
        f.write(ini.latin1 && fitsLatin1 ? text.toLatin1() : text.toUtf8());
        ok = f.commit();
    }
    if (!ok) {
        if (error) *error = QStringLiteral("No se puede escribir \"%1\": %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

std::optional<LiveScanProgram> readLiveScanProgram(const QString& liveScanFolder, const QString& iniFile) {
    if (iniFile.trimmed().isEmpty()) return std::nullopt;
    const QString path = QDir(liveScanFolder).filePath(iniFile);
    if (!QFileInfo(path).isFile()) return std::nullopt;
    const IniText ini = IniText::read(path);
    LiveScanProgram p;
    p.iniFile = QFileInfo(iniFile).fileName();
    p.titulo = ini.value(kConfig, QStringLiteral("Titulo")).value_or(QString());
    if (p.titulo.isEmpty()) return std::nullopt;
    p.exeLiveScan = ini.value(kConfig, QStringLiteral("ExeLiveScan")).value_or(QString());
    p.exeCaptura = ini.value(kConfig, QStringLiteral("ExeCaptura")).value_or(QString());
    p.exeConfig = ini.value(kConfig, QStringLiteral("ExeConfig")).value_or(QString());
    return p;
}

std::vector<LiveScanProgram> listLiveScanPrograms(const QString& liveScanFolder) {
    std::vector<LiveScanProgram> out;
    const QDir dir(liveScanFolder);
    const QStringList names =
        dir.entryList({QStringLiteral("*.ini")}, QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : names)
        if (auto p = readLiveScanProgram(liveScanFolder, name)) out.push_back(*p);
    return out;
}

QString programPath(const QString& liveScanFolder, const QString& name) {
    QString n = name.trimmed();
    if (n.isEmpty()) return QString();
    n.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QDir::cleanPath(QDir(liveScanFolder).filePath(n));
}

QString missingProgramText(const QString& path) {
    return QStringLiteral("Error: no existe el programa ") + quoted(path);
}

namespace {

// The program by its full path, its arguments as data, its own folder as the working folder.
void prepareProcess(QProcess& process, const QString& program, const QStringList& arguments) {
    const QFileInfo fi(program);
    process.setProgram(fi.absoluteFilePath());
    process.setArguments(arguments);
    process.setWorkingDirectory(fi.absolutePath());
}

ProgramRun checkProgram(const QString& program) {
    ProgramRun run;
    const QFileInfo fi(program);
    if (program.isEmpty() || !fi.isFile()) {
        run.outcome = ProgramRun::Outcome::Missing;
        run.message = missingProgramText(program);
    } else if (!fi.isExecutable()) {
        run.outcome = ProgramRun::Outcome::NotStarted;
        run.message = QStringLiteral("Error: el programa %1 no se puede ejecutar").arg(quoted(program));
    } else {
        run.outcome = ProgramRun::Outcome::Finished;
    }
    return run;
}

} // namespace

ProgramRun runProgramAndWait(const QString& program, const QStringList& arguments, std::chrono::milliseconds timeout) {
    ProgramRun run = checkProgram(program);
    if (!run.ok()) return run;
    QProcess process;
    prepareProcess(process, program, arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());

    QEventLoop loop;
    bool timedOut = false;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    QObject::connect(&process, &QProcess::finished, &loop, [&] { loop.quit(); });
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) loop.quit();
    });
    process.start();
    if (!process.waitForStarted(10000)) {
        run.outcome = ProgramRun::Outcome::NotStarted;
        run.message =
            QStringLiteral("Error: no se pudo iniciar el programa %1: %2").arg(quoted(program), process.errorString());
        return run;
    }
    if (process.state() != QProcess::NotRunning) {
        // The timer takes an int of milliseconds: a longer time would wrap round.
        timer.start(std::clamp(timeout, std::chrono::milliseconds(1),
                               std::chrono::milliseconds(std::chrono::seconds(kMaxProgramTimeoutSeconds))));
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (timedOut && process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
        run.outcome = ProgramRun::Outcome::TimedOut;
        run.message = QStringLiteral("Error: el programa %1 no terminó en %2 segundos y se detuvo")
                          .arg(quoted(program))
                          .arg((timeout.count() + 999) / 1000);
        return run;
    }
    run.exitCode = process.exitCode();
    if (process.exitStatus() == QProcess::CrashExit) {
        run.outcome = ProgramRun::Outcome::Crashed;
        run.message = QStringLiteral("Error: el programa %1 terminó de forma anormal").arg(quoted(program));
    } else if (run.exitCode != 0) {
        run.outcome = ProgramRun::Outcome::ErrorExit;
        run.message =
            QStringLiteral("Error: el programa %1 terminó con el código %2").arg(quoted(program)).arg(run.exitCode);
    } else {
        run.outcome = ProgramRun::Outcome::Finished;
    }
    return run;
}

ProgramRun startProgramDetached(const QString& program, const QStringList& arguments) {
    ProgramRun run = checkProgram(program);
    if (!run.ok()) return run;
    QProcess process;
    prepareProcess(process, program, arguments);
    if (!process.startDetached()) {
        run.outcome = ProgramRun::Outcome::NotStarted;
        run.message =
            QStringLiteral("Error: no se pudo iniciar el programa %1: %2").arg(quoted(program), process.errorString());
    }
    return run;
}

} // namespace qev::platform
