// The socket:// device scheme's link: a raw TCP connection to a network
// printer (JetDirect style, port 9100), connected with a deadline and
// written through CLink's deadline.
#pragma once

#include "DeviceUri.h"
#include "Link.h"

namespace bandrill_app {

class CSocketLink : public CLink {
public:
    explicit CSocketLink(const std::string& uri);

    std::string Describe() const override;
    LinkOptions Options() const override { return m_uri.link; }

protected:
    int Open() override;
    bool IsSocket() const override { return true; }

private:
    SocketUri m_uri;
    std::string m_parseError;
    std::string m_text;
};

} // namespace bandrill_app
