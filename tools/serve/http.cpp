#include "tools/serve/http.h"

#include <httplib.h>

#include <nlohmann/json.hpp>

#include "tools/serve/openapi.h"

namespace tarvion::serve {
namespace {

void send(httplib::Response& res, const Reply& r) {
  res.status = r.status;
  res.set_content(r.body, r.contentType.c_str());
  if (r.replayed) res.set_header("Idempotent-Replayed", "true");
}

const char* statusWords(int status) {
  switch (status) {
    case 400:
      return "bad request";
    case 401:
      return "a token is needed (Authorization: Bearer TOKEN)";
    case 404:
      return "no such resource";
    case 405:
      return "method not allowed";
    case 403:
      return "requests from another site's page are refused (allowed_origins lists the pages that may call)";
    case 413:
      return "the request is too large";
    case 415:
      return "a call is sent as JSON (Content-Type: application/json)";
    case 421:
      return "the Host header does not name this service (allowed_hosts lists other names for it)";
    default:
      return "the request cannot be served";
  }
}

}  // namespace

HttpFront::HttpFront(Service& service, std::string token)
    : service_(service),
      token_(std::move(token)),
      gate_("", 0, service.options().allowedHosts, service.options().allowedOrigins),
      server_(std::make_unique<httplib::Server>()) {
  httplib::Server& s = *server_;
  s.set_payload_max_length(service_.options().maxBodyBytes);
  // Answers are small and a till sends the next call as soon as one returns:
  // without NODELAY each answer waits out the peer's delayed ACK (~40 ms).
  s.set_tcp_nodelay(true);
  s.set_keep_alive_max_count(1000);
  s.set_read_timeout(10, 0);
  s.set_write_timeout(10, 0);

  // Before anything else, and before the body is read: the request must name
  // this service, come from its own page or a listed one, and carry JSON. The
  // page holds no secret and asks for the token itself; everything else needs
  // it when one is set.
  s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    using H = httplib::Server::HandlerResponse;
    const std::string host = req.get_header_value("Host");
    if (!gate_.hostAllowed(host)) {
      send(res, errorReply(421, statusWords(421)));
      return H::Handled;
    }
    const std::string origin = req.get_header_value("Origin");
    const Gate::Origin from = gate_.origin(origin, host);
    if (from == Gate::Origin::Foreign) {
      send(res, errorReply(403, statusWords(403)));
      return H::Handled;
    }
    if (from == Gate::Origin::Listed) {
      res.set_header("Access-Control-Allow-Origin", origin);
      res.set_header("Vary", "Origin");
      res.set_header("Access-Control-Expose-Headers", "Idempotent-Replayed");
    }
    if (req.method == "OPTIONS") {
      // A preflight is answered for a listed origin only.
      if (from != Gate::Origin::Listed) {
        send(res, errorReply(403, statusWords(403)));
        return H::Handled;
      }
      res.status = 204;
      res.set_header("Access-Control-Allow-Methods", "GET, POST");
      res.set_header("Access-Control-Allow-Headers", "Content-Type, Authorization, Idempotency-Key");
      res.set_header("Access-Control-Max-Age", "600");
      return H::Handled;
    }
    if (!token_.empty() && req.path != "/") {
      const std::string auth = req.get_header_value("Authorization");
      constexpr std::string_view kBearer = "Bearer ";
      if (!(auth.size() > kBearer.size() && auth.compare(0, kBearer.size(), kBearer) == 0 &&
            constantTimeEquals(std::string_view(auth).substr(kBearer.size()), token_))) {
        res.set_header("WWW-Authenticate", "Bearer");
        send(res, errorReply(401, statusWords(401)));
        return H::Handled;
      }
    }
    if (req.method == "POST" && !isJsonContentType(req.get_header_value("Content-Type"))) {
      send(res, errorReply(415, statusWords(415)));
      return H::Handled;
    }
    return H::Unhandled;
  });
  // Every refusal is JSON, including the server's own (no route, too large).
  s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) res.set_content(errorReply(res.status, statusWords(res.status)).body, "application/json");
  });

  s.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(pageHtml(), "text/html; charset=utf-8");
  });
  s.Get("/printers", [this](const httplib::Request&, httplib::Response& res) { send(res, service_.printers()); });
  s.Get("/entries", [this](const httplib::Request&, httplib::Response& res) { send(res, service_.entries()); });
  s.Get("/openapi.json",
        [doc = openApiDocument(!token_.empty(), service_.options().maxCallsPerBatch)](
            const httplib::Request&, httplib::Response& res) { res.set_content(doc, "application/json"); });
  s.Get(R"(/printers/([A-Za-z0-9_-]+)/paper)",
        [this](const httplib::Request& req, httplib::Response& res) { send(res, service_.paper(req.matches[1])); });
  s.Post(R"(/printers/([A-Za-z0-9_-]+)/calls)", [this](const httplib::Request& req, httplib::Response& res) {
    send(res, service_.calls(req.matches[1], req.body, req.get_header_value("Idempotency-Key")));
  });
}

HttpFront::~HttpFront() {
  stop();
}

int HttpFront::bind(const std::string& host, int port, std::string& error) {
  const int bound = port == 0 ? server_->bind_to_any_port(host) : (server_->bind_to_port(host, port) ? port : -1);
  if (bound < 0) error = "cannot listen on " + host + ":" + std::to_string(port);
  gate_ = Gate(host, bound, service_.options().allowedHosts, service_.options().allowedOrigins);
  return bound;
}

bool HttpFront::run() {
  return server_->listen_after_bind();
}

void HttpFront::stop() {
  if (server_) server_->stop();
}

}  // namespace tarvion::serve
