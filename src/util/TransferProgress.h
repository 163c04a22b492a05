#pragma once
// The progress of one mail transfer, shown by the progress window while a message is sent or received.
#include <QtGlobal>

namespace qev {

class TransferProgress {
public:
    enum class Direction { Sending, Receiving };
    virtual ~TransferProgress() = default;
    // `size` is the message's size when known (> 0), else 0.
    virtual void transferBegins(Direction d, qint64 size) = 0;
    virtual void transferProgress(Direction d, qint64 done, qint64 size) = 0;
    virtual void transferEnds() = 0;
};

} // namespace qev
