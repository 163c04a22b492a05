#pragma once
// Kill tests: a program started, left to work for a random moment and killed with SIGKILL, and the lines it wrote
// to its standard output (one per acknowledged step) before it died.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace qev::test {

struct KilledRun {
    std::vector<std::string> lines;
    int status = 0; // as waitpid gives it
    [[nodiscard]] bool killed() const { return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL; }
    // How a run that was not killed ended, for the failure message.
    [[nodiscard]] std::string ending() const {
        if (WIFEXITED(status))
            return WEXITSTATUS(status) == 127
                       ? std::string("it could not be started (see its standard error)")
                       : "it ended by itself with exit code " + std::to_string(WEXITSTATUS(status));
        if (WIFSIGNALED(status)) return "it died of signal " + std::to_string(WTERMSIG(status));
        return "status " + std::to_string(status);
    }
};

inline KilledRun runAndKill(const std::string& program, const std::vector<std::string>& args,
                            std::chrono::microseconds delay) {
    KilledRun run;
    int out[2];
    if (::pipe(out) != 0) return run;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        ::execv(program.c_str(), argv.data());
        // Said on the child's own standard error, so that a run that never started (a program being relinked while
        // the tests run, say) is not taken for one that ended by itself. Only async-signal-safe calls here: the
        // parent has threads, and a lock one of them held at the fork stays held in the child.
        char message[64] = "the program could not be started: errno ";
        std::size_t n = std::strlen(message);
        char digits[12];
        std::size_t d = 0;
        for (int e = errno; d == 0 || e > 0; e /= 10)
            digits[d++] = static_cast<char>('0' + e % 10);
        while (d > 0 && n + 2 < sizeof message)
            message[n++] = digits[--d];
        message[n++] = '\n';
        (void)!::write(2, message, n);
        ::_exit(127);
    }
    ::close(out[1]);
    std::this_thread::sleep_for(delay);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &run.status, 0);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<size_t>(n));
    ::close(out[0]);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        run.lines.push_back(line);
    return run;
}

// The random delay before each kill: at least a floor, plus up to a span. Both follow how fast the program starts and
// steps on this machine: they grow while kills come before the first acknowledged step and shrink while many steps
// get through, so that most kills fall among the steps.
class KillDelay {
public:
    KillDelay(unsigned seed, long startUs, long minUs, long maxUs, long floorUs)
        : m_rng(seed), m_spanUs(startUs), m_minUs(minUs), m_maxUs(maxUs), m_floorUs(floorUs),
          m_initialFloorUs(floorUs) {}
    std::chrono::microseconds next() {
        return std::chrono::microseconds(m_floorUs + static_cast<long>(m_rng() % static_cast<unsigned>(m_spanUs)));
    }
    // What the last run acknowledged before its kill.
    void after(size_t acknowledged, size_t many) {
        if (acknowledged == 0) {
            m_floorUs = std::min(m_floorUs + m_spanUs / 4, m_maxUs);
            m_spanUs = std::min(m_spanUs * 13 / 10, m_maxUs);
        }
        if (acknowledged > many) {
            m_floorUs = std::max(m_floorUs * 8 / 10, m_initialFloorUs);
            m_spanUs = std::max(m_spanUs * 8 / 10, m_minUs);
        }
        if (acknowledged > 0) ++m_midway;
    }
    // Kills that fell after at least one acknowledged step.
    [[nodiscard]] int midway() const { return m_midway; }

private:
    std::mt19937 m_rng;
    long m_spanUs, m_minUs, m_maxUs, m_floorUs, m_initialFloorUs;
    int m_midway = 0;
};

} // namespace qev::test
