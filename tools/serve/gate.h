// Who may talk to the service. A loopback service without a token is still
// reachable from every web page the operator opens: the browser sends a page's
// requests to 127.0.0.1 as readily as to its own site. So a request must name
// this service in its Host header (a page that rebinds its own name to
// 127.0.0.1 names itself), come from the service's own page or a listed
// origin, and carry JSON, which no plain form or cross-origin "simple"
// request can send without asking first.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvion::serve {

class Gate {
 public:
  // listenHost as the service was told to listen ("0.0.0.0" and "::" are every
  // address); names and origins the configuration adds, compared without case.
  Gate(std::string listenHost, int port, std::vector<std::string> allowedHosts,
       std::vector<std::string> allowedOrigins);

  void setPort(int port) { port_ = port; }

  // The Host header names this service: the address it listens on (any IP
  // address, or localhost, when it listens on all of them; localhost and the
  // loopback addresses when it listens on loopback) or a listed name, with
  // the port it listens on.
  bool hostAllowed(std::string_view host) const;

  enum class Origin { None, Same, Listed, Foreign };
  // A request without an Origin header is a navigation or a program, not a
  // page's script; one from "http://" + its own Host is the service's page.
  Origin origin(std::string_view originHeader, std::string_view host) const;

 private:
  std::string listenHost_;
  int port_ = 0;
  std::vector<std::string> allowedHosts_, allowedOrigins_;
};

// "application/json", with or without parameters such as a charset.
bool isJsonContentType(std::string_view contentType);

}  // namespace tarvion::serve
