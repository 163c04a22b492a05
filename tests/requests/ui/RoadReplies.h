#pragma once
// The central office's reply to request `cPed` of regional 7, mailed by the simulator to the office's loopback
// mailbox "user" and received by POP3: exactly one message arrives and is processed.
#include "CentralSim.h"
#include "LoopbackMail.h"
#include "dm/Tdm.h"
#include "exchange/MailReception.h"

#include <gtest/gtest.h>

namespace qev::test {

inline void replyAndReceive(const CentralSim& sim, Tdm& dm, const char* kind, int cPed, QStringList args) {
    args << QStringLiteral("--pedido") << QString::number(cPed) << QStringLiteral("--regional") << QStringLiteral("7");
    const auto r = sim.sendReply(QString::fromLatin1(kind), args);
    ASSERT_EQ(r.exitCode, 0) << r.output.toStdString();
    ASSERT_EQ(waitForMail(QStringLiteral("user"), 1, 15000).size(), 1);
    dm.mailReception().RecibirPop3();
    ASSERT_EQ(dm.mailReception().last().processed, 1);
}

} // namespace qev::test
