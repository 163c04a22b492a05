#pragma once
// A Clock stopped at a given moment; tests move it by hand.

#include "util/Clock.h"

namespace qev::test {

class FixedClock final : public Clock {
public:
    explicit FixedClock(QDateTime now) : m_now(std::move(now)) {}
    QDate today() const override { return m_now.date(); }
    QDateTime now() const override { return m_now; }
    qint64 milliseconds() const override { return m_ms; }
    void set(const QDateTime& now) { m_now = now; }
    void advanceMs(qint64 ms) {
        m_ms += ms;
        m_now = m_now.addMSecs(ms);
    }

private:
    QDateTime m_now;
    qint64 m_ms = 0;
};

} // namespace qev::test
