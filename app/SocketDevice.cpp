#include "SocketDevice.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bandrill_app {

namespace {

// How long a connection may take before the next address is tried.
const int kConnectMs = 10000;

} // namespace

CSocketLink::CSocketLink(const std::string& uri) : m_text(uri)
{
    ParseSocketUri(uri, m_uri, m_parseError);
}

std::string CSocketLink::Describe() const
{
    if (!m_parseError.empty())
        return m_text;
    const bool v6 = m_uri.host.find(':') != std::string::npos;
    return "the printer at " + (v6 ? "[" + m_uri.host + "]" : m_uri.host) + ":" +
           std::to_string(m_uri.port);
}

int CSocketLink::Open()
{
    if (!m_parseError.empty()) {
        Fail(kRefused, m_parseError);
        return -1;
    }
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const std::string port = std::to_string(m_uri.port);
    const int rc = getaddrinfo(m_uri.host.c_str(), port.c_str(), &hints, &list);
    if (rc != 0) {
        Fail(kUnreachable, "Cannot find the printer's host " + m_uri.host + ": " +
                               gai_strerror(rc) + ".");
        return -1;
    }
    int err = ETIMEDOUT;
    int fd = -1;
    for (addrinfo* a = list; a && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            err = errno;
            continue;
        }
        if (connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
            err = errno;
            close(fd);
            fd = -1;
            continue;
        }
        const int soerr = WaitConnected(fd, kConnectMs, [this] { return StopRequested(); });
        if (soerr != 0) {
            err = soerr;
            close(fd);
            fd = -1;
            continue;
        }
        // Small writes go at once: a status query after a page would
        // otherwise wait for the printer's delayed acknowledgement (40 ms
        // on Linux) before it leaves.
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    freeaddrinfo(list);
    if (fd < 0)
        Fail(kUnreachable, "Cannot reach " + Describe() + ": " + std::strerror(err) + ".");
    return fd;
}

} // namespace bandrill_app
