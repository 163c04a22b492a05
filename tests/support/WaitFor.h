#pragma once
// Keeps the event loop running until `done` holds or `ms` have passed; answers whether it holds.
#include <QDeadlineTimer>
#include <QTest>

#include <functional>

namespace qev::test {

inline bool waitFor(const std::function<bool()>& done, int ms = 20000) {
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QTest::qWait(10);
    return done();
}

} // namespace qev::test
