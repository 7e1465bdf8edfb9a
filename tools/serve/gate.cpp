#include "tools/serve/gate.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <charconv>

#include "tools/serve/service.h"

namespace tarvion::serve {
namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

std::string trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return std::string(s);
}

bool isIpLiteral(const std::string& name) {
  unsigned char buf[16];
  return inet_pton(AF_INET, name.c_str(), buf) == 1 || inet_pton(AF_INET6, name.c_str(), buf) == 1;
}

bool isWildcard(const std::string& host) {
  return host == "0.0.0.0" || host == "::" || host.empty();
}

// "name:port", "[v6]:port" or a name alone (port 80). False when malformed.
bool splitHost(std::string_view text, std::string& name, int& port) {
  port = 80;
  std::string_view portText;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return false;
    name = lower(text.substr(1, close - 1));
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      portText = rest.substr(1);
    }
  } else {
    const size_t colon = text.find(':');
    name = lower(text.substr(0, colon));
    if (colon != std::string_view::npos) portText = text.substr(colon + 1);
  }
  if (name.empty()) return false;
  if (!portText.empty() || text.back() == ':') {
    const auto r = std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (r.ec != std::errc() || r.ptr != portText.data() + portText.size() || port < 1 || port > 65535) return false;
  }
  return true;
}

}  // namespace

Gate::Gate(std::string listenHost, int port, std::vector<std::string> allowedHosts,
           std::vector<std::string> allowedOrigins)
    : listenHost_(lower(listenHost)), port_(port) {
  for (const std::string& h : allowedHosts) allowedHosts_.push_back(lower(h));
  for (const std::string& o : allowedOrigins) allowedOrigins_.push_back(lower(o));
}

bool Gate::hostAllowed(std::string_view host) const {
  std::string name;
  int port = 0;
  if (!splitHost(trimmed(host), name, port) || port != port_) return false;
  if (std::find(allowedHosts_.begin(), allowedHosts_.end(), name) != allowedHosts_.end()) return true;
  if (name == listenHost_) return true;
  // A name of its own that resolves here is how a page rebinds itself onto
  // this service: only addresses, and localhost, are taken without a listing.
  if (isWildcard(listenHost_)) return name == "localhost" || isIpLiteral(name);
  if (isLoopback(listenHost_)) return name == "localhost" || ((isIpLiteral(name)) && isLoopback(name));
  return false;
}

Gate::Origin Gate::origin(std::string_view originHeader, std::string_view host) const {
  const std::string o = lower(trimmed(originHeader));
  if (o.empty()) return Origin::None;
  if (o == "http://" + lower(trimmed(host))) return Origin::Same;
  if (std::find(allowedOrigins_.begin(), allowedOrigins_.end(), o) != allowedOrigins_.end()) return Origin::Listed;
  return Origin::Foreign;
}

bool isJsonContentType(std::string_view contentType) {
  const std::string t = lower(trimmed(contentType.substr(0, contentType.find(';'))));
  return t == "application/json";
}

}  // namespace tarvion::serve
