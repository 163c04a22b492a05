#pragma once
// A millisecond stopwatch over a 32-bit millisecond counter that wraps about every 49.7 days, as the system's
// multimedia timer does: a run during which the counter wrapped measures 0 rather than a huge number.
#include <QtGlobal>

#include <functional>

namespace qev {

class TCrono {
public:
    using Counter = std::function<quint32()>;

    // The counter defaults to the milliseconds since the system started, truncated to 32 bits.
    TCrono();
    explicit TCrono(Counter counter) : m_counter(std::move(counter)) {}

    void start() { m_start = m_counter(); }
    void stop() { m_stop = m_counter(); }
    // Stop minus start when start is less than stop, else 0.
    quint32 elapsed() const { return m_start < m_stop ? m_stop - m_start : 0; }

private:
    Counter m_counter;
    quint32 m_start = 0;
    quint32 m_stop = 0;
};

} // namespace qev
