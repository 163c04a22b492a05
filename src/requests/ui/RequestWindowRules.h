#pragma once
// What the request windows decide from the current request before an operator's action.
#include "core/Dataset.h"

namespace qev {

// Sent and not rejected: its data, fingerprints and aliases may no longer be changed.
inline bool sentAndNotRejected(const Dataset& request) {
    const dbf::Value sent = request.value(QStringLiteral("M_ENVIADO"));
    return sent.isBool() && sent.boolean() && request.text(QStringLiteral("C_EST")).trimmed() != QStringLiteral("R");
}

} // namespace qev
