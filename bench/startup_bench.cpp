// Benchmark of the program's start on a large office folder, against reading the two request tables once end to
// end (`cat` of the files to /dev/null in the same run), the physical limit of any start that looks at every row.
// Usage: startup [rows] [folder] [program]   (100000 official and 100000 personal requests by default, a temporary
// folder, the program built beside this benchmark)
//
// The folder gets `rows` official and `rows` personal requests written through the dBase engine, 5 % of each
// deleted. The program is started twice with --exit-when-ready on the offscreen platform: the first start packs
// the deleted rows away, the second finds nothing deleted. For each start: the time to ready, the share of the
// data module's steps (it reports them on the standard error when QEV_STARTUP_TIMES is set) and the peak memory
// of the process.
#include "BenchRows.h"
#include "core/OfficeSchema.h"
#include "dbf/Table.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace qev;
using Stopwatch = std::chrono::steady_clock;

namespace {

double secondsSince(Stopwatch::time_point t0) {
    return std::chrono::duration<double>(Stopwatch::now() - t0).count();
}

// The benchmark times the start, not the log-in: access control goes off.
bool accessControlOff(const std::string& path) {
    auto t = dbf::Table::open(path, dbf::OpenMode::Shared);
    if (!t) return false;
    for (uint32_t rn = 1; rn <= (*t)->recordCount(); ++rn) {
        auto row = (*t)->read(rn);
        if (!row) return false;
        std::string key = row->values[0].isNull() ? std::string() : row->values[0].toString();
        while (!key.empty() && key.back() == ' ')
            key.pop_back();
        if (row->deleted || key != "m_segur") continue;
        row->values[1] = dbf::Value("N");
        return (*t)->update(rn, row->values).ok();
    }
    return (*t)->append({dbf::Value("m_segur"), dbf::Value("N")}).ok();
}

bool fillTable(const std::string& path, int rows, int everyDeleted) {
    auto t = dbf::Table::open(path, dbf::OpenMode::Exclusive);
    if (!t) {
        std::fprintf(stderr, "%s\n", t.error().c_str());
        return false;
    }
    // The office's own rows go first; numbers of the new ones follow them.
    for (uint32_t rn = (*t)->recordCount(); rn >= 1; --rn)
        if (auto d = (*t)->setDeleted(rn, true); !d) return false;
    if (!(*t)->pack()) return false;
    for (int i = 0; i < rows; ++i) {
        auto a = (*t)->append(bench::syntheticRow(**t, i));
        if (!a) {
            std::fprintf(stderr, "%s\n", a.error().c_str());
            return false;
        }
        if (i % everyDeleted == everyDeleted - 1 && !(*t)->setDeleted(*a, true)) return false;
    }
    return true;
}

struct Run {
    double seconds = 0;
    long peakKb = 0;
    int status = -1;
    std::map<std::string, double> steps;
    std::string errors;
};

// Runs the program once and collects its wall time, peak resident size and the step times it reports.
Run runProgram(const std::string& program, const std::string& folder, const std::string& log) {
    Run run;
    const auto t0 = Stopwatch::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            ::dup2(fd, 2);
            ::dup2(fd, 1);
        }
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("QEV_STARTUP_TIMES", "1", 1);
        ::setenv("QEV_INSTANCE_NAME", ("qev-startup-bench-" + std::to_string(::getppid())).c_str(), 1);
        ::execl(program.c_str(), program.c_str(), "--folder", folder.c_str(), "--exit-when-ready",
                static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return run;
    run.seconds = secondsSince(t0);
    run.peakKb = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string first, step;
        double secs = 0;
        if (words >> first >> step >> secs && first == "arranque")
            run.steps[step] = secs;
        else
            run.errors += line + "\n";
    }
    return run;
}

double catSeconds(const std::vector<std::string>& files) {
    const auto t0 = Stopwatch::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open("/dev/null", O_WRONLY);
        ::dup2(fd, 1);
        std::vector<const char*> args{"cat"};
        for (const auto& f : files)
            args.push_back(f.c_str());
        args.push_back(nullptr);
        ::execvp("cat", const_cast<char* const*>(args.data()));
        std::_Exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return secondsSince(t0);
}

void report(const char* title, const Run& run, double cat, double tablesMb) {
    std::printf("%s: exit %d, ready in %.3f s = %.1fx the read; peak memory %.1f MB = %.2f of the tables\n", title,
                run.status, run.seconds, run.seconds / cat, static_cast<double>(run.peakKb) / 1024.0,
                static_cast<double>(run.peakKb) / 1024.0 / tablesMb);
    double total = 0;
    for (const auto& [step, secs] : run.steps)
        if (step != "total") total += secs;
    for (const char* step : {"check", "schema", "pack", "reindex", "open", "settings", "other"}) {
        const auto it = run.steps.find(step);
        if (it == run.steps.end()) continue;
        std::printf("    %-9s %8.3f s  %5.1f %% of the data module\n", step, it->second,
                    total > 0 ? 100.0 * it->second / total : 0.0);
    }
    std::printf("    outside the data module (Qt, windows, process): %.3f s\n", run.seconds - total);
    if (run.status != 0 && !run.errors.empty()) std::printf("    program output:\n%s", run.errors.c_str());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir temp;
    const QString given = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const QString folder = given.isEmpty() ? temp.path() : QDir(given).absolutePath();
    QDir().mkpath(folder);
    QString error;
    if (!existingOfficeFiles(folder).isEmpty()) {
        std::fprintf(stderr, "the folder %s holds an office already\n", qPrintable(folder));
        return 1;
    }
    if (!createOfficeFolder(folder, false, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const std::string ped = dbf::findFileNoCase(folder.toStdString(), "PED.DBF");
    const std::string pedp = dbf::findFileNoCase(folder.toStdString(), "Pedp.DBF");
    auto t0 = Stopwatch::now();
    if (!fillTable(ped, rows, 20) || !fillTable(pedp, rows, 20)) return 1;
    const double fill = secondsSince(t0);
    const double tablesMb = static_cast<double>(QFileInfo(QString::fromStdString(ped)).size() +
                                                QFileInfo(QString::fromStdString(pedp)).size()) /
                            (1024.0 * 1024.0);
    std::printf(
        "office folder: %d official + %d personal requests, 5 %% deleted, %.1f MB of tables (written in %.1f s)\n",
        rows, rows, tablesMb, fill);

    if (!accessControlOff(dbf::findFileNoCase(folder.toStdString(), "amb.dbf"))) {
        std::fprintf(stderr, "cannot turn access control off\n");
        return 1;
    }
    const std::string program = argc > 3 ? argv[3] : QEV_PROGRAM;
    const std::string log = folder.toStdString() + "/startup-bench.log";
    catSeconds({ped, pedp}); // the same warm cache for the peer as for the program
    const double cat1 = catSeconds({ped, pedp});
    const Run first = runProgram(program, folder.toStdString(), log);
    const double cat2 = catSeconds({ped, pedp});
    const Run second = runProgram(program, folder.toStdString(), log);
    const double cat3 = catSeconds({ped, pedp});
    const double cat = std::min({cat1, cat2, cat3});
    std::printf("peer: cat of both tables to /dev/null %.3f s (best of 3)\n", cat);
    report("first start (deleted rows)", first, cat, tablesMb);
    report("second start (nothing deleted)", second, cat, tablesMb);
    std::printf("aims: second start within 10x of the read: %s; peak at most half the tables: %s\n",
                second.seconds <= 10 * cat ? "met" : "NOT met",
                static_cast<double>(std::max(first.peakKb, second.peakKb)) / 1024.0 <= tablesMb / 2 ? "met"
                                                                                                    : "NOT met");
    ::unlink(log.c_str());
    return first.status == 0 && second.status == 0 ? 0 : 1;
}
