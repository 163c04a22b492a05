#pragma once
// Today, now and a millisecond counter, injected so that tests run on a fixed date.

#include <QDate>
#include <QDateTime>

namespace qev {

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDate today() const = 0;
    virtual QDateTime now() const = 0;
    virtual qint64 milliseconds() const = 0;
};

class SystemClock final : public Clock {
public:
    QDate today() const override { return QDate::currentDate(); }
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    qint64 milliseconds() const override;
};

} // namespace qev
