#pragma once

#include <vmime/net/socket.hpp>

#include <memory>

namespace qev::mail {

// The TCP connection under every SMTP and POP3 session. It sends each command as soon as it is written
// (no Nagle delay: a mail session is a dialogue of short lines, and a command held back until the previous
// segment is acknowledged costs the delayed-acknowledgement time, 40 ms, at every turn), waits in short slices so
// the session's timeout handler is asked often, and names the peer by the address it was given.
class MailSocketFactory final : public vmime::net::socketFactory {
public:
    std::shared_ptr<vmime::net::socket> create() override;
    std::shared_ptr<vmime::net::socket> create(std::shared_ptr<vmime::net::timeoutHandler> th) override;
};

} // namespace qev::mail
