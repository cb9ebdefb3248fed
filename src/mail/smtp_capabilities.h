// What a server's EHLO reply offers (RFC 5321 4.1.1.1): one keyword per
// line after the greeting line, parameters after it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velkaro {

struct SmtpCapabilities {
  bool startTls = false;                    // STARTTLS (RFC 3207)
  std::vector<std::string> authMechanisms;  // upper case, as advertised (RFC 4954)
  bool sizeAdvertised = false;              // SIZE (RFC 1870)
  std::uint64_t sizeLimit = 0;              // 0: no fixed limit

  bool OffersAuth(const std::string& mechanism) const;
};

// Reads a whole EHLO reply ("250-name\r\n250-STARTTLS\r\n250 SIZE 1000\r\n").
// Keywords are matched without regard to case; lines that are not part of
// a 250 reply are ignored. The old form "AUTH=LOGIN PLAIN", still sent by
// some servers for clients of the draft, counts as AUTH too.
SmtpCapabilities ParseEhloReply(const std::string& reply);

}  // namespace velkaro

namespace velkaro {

// The name EHLO introduces the client with (RFC 5321 4.1.4): the one the
// user set; else this host's fully qualified name when it has a dot; else
// an address literal of the connection's local address ("[192.0.2.1]",
// "[IPv6:2001:db8::1]"). Servers that check it (Postfix's
// reject_non_fqdn_helo_hostname) refuse a bare "localhost", so that word is
// left only for a connection whose local address is unknown.
std::string ChooseEhloName(const std::string& configured, const std::string& hostName,
                           const std::string& localAddress);

}  // namespace velkaro
