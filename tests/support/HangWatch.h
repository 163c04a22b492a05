#pragma once
// A test that may hang inside a library it drives (a scanner backend's reader thread, say) watches itself: past
// its limit, the stacks of all its threads are printed through gdb and the test ends with abort(), so that a stuck
// run names the place it is stuck in instead of only running out of time.
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace qev::test {

class HangWatch {
public:
    explicit HangWatch(std::chrono::seconds limit) {
        m_thread = std::thread([this, limit] {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_done.wait_for(lock, limit, [this] { return m_finished; })) return;
            std::fprintf(stderr, "the test is still running after %lld s; the stacks of its threads:\n",
                         static_cast<long long>(limit.count()));
            const std::string command =
                "gdb -q -batch -p " + std::to_string(::getpid()) + " -ex 'thread apply all bt' 1>&2 2>/dev/null";
            (void)std::system(command.c_str());
            std::abort();
        });
    }
    ~HangWatch() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }
    HangWatch(const HangWatch&) = delete;
    HangWatch& operator=(const HangWatch&) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

} // namespace qev::test
