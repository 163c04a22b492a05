#pragma once
// The livescan set-up kept in "LiveScan.INI" of the office folder, the external capture programs described by the
// "*.INI" files of the livescan folder, and running them: started directly (never through a shell, arguments
// passed as data), in their own folder, while the caller's windows keep painting and user input waits.
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <vector>

namespace qev::platform {

inline constexpr char kLiveScanIniFile[] = "LiveScan.INI";

// Section "Config" of "LiveScan.INI": the livescan folder and the chosen program's description; section
// "Simulador": the folder of finger images the simulated device delivers from and its interval (0: on demand),
// and the longest time a capture program may run.
// The longest time a capture program may be given: a day.
inline constexpr int kMaxProgramTimeoutSeconds = 24 * 60 * 60;

struct LiveScanIni {
    QString pathLiveScan;
    QString liveScanIni;
    QString simulatorFolder;
    int simulatorIntervalMs = 0;
    int programTimeoutSeconds = 300;
};

// Reads "LiveScan.INI" of `folder`; the defaults for a missing file or key. Values are taken as written (no
// escapes), so Windows paths survive.
LiveScanIni readLiveScanIni(const QString& folder);
// Writes the file through a temporary file; keys of other sections are kept. False with the reason on failure.
bool writeLiveScanIni(const QString& folder, const LiveScanIni& ini, QString* error);

// One "*.INI" of the livescan folder, section "Config"; the three program names are relative to that folder.
struct LiveScanProgram {
    QString iniFile; // the description's file name
    QString titulo;
    QString exeLiveScan;
    QString exeCaptura;
    QString exeConfig;
};

// Reads a description; none when the file cannot be read or has no "Titulo".
std::optional<LiveScanProgram> readLiveScanProgram(const QString& liveScanFolder, const QString& iniFile);
// Every description of the folder that has a "Titulo", by file name.
std::vector<LiveScanProgram> listLiveScanPrograms(const QString& liveScanFolder);

// A program name of a description as a path of the livescan folder; empty for a blank name. Absolute names and
// names that leave the folder ("..") are kept as given: the description is the office's own configuration.
QString programPath(const QString& liveScanFolder, const QString& name);

// "Error: no existe el programa "PATH"".
QString missingProgramText(const QString& path);

struct ProgramRun {
    enum class Outcome { Finished, Missing, NotStarted, Crashed, TimedOut, ErrorExit };
    Outcome outcome = Outcome::NotStarted;
    int exitCode = -1;
    QString message; // the operator's text for anything but Finished

    bool ok() const { return outcome == Outcome::Finished; }
};

// Starts `program` with `arguments` in its own folder and waits for it to end, at most `timeout` (then it is
// killed). Repaints and timers run meanwhile; user input waits.
ProgramRun runProgramAndWait(const QString& program, const QStringList& arguments, std::chrono::milliseconds timeout);
// Starts `program` without waiting; the message on failure.
ProgramRun startProgramDetached(const QString& program, const QStringList& arguments);

} // namespace qev::platform
