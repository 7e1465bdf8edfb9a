#include "tools/serve/http.h"

#include <httplib.h>

#include <nlohmann/json.hpp>

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
    case 413:
      return "the request is too large";
    default:
      return "the request cannot be served";
  }
}

}  // namespace

HttpFront::HttpFront(Service& service, std::string token)
    : service_(service), token_(std::move(token)), server_(std::make_unique<httplib::Server>()) {
  httplib::Server& s = *server_;
  s.set_payload_max_length(service_.options().maxBodyBytes);
  // Answers are small and a till sends the next call as soon as one returns:
  // without NODELAY each answer waits out the peer's delayed ACK (~40 ms).
  s.set_tcp_nodelay(true);
  s.set_keep_alive_max_count(1000);
  s.set_read_timeout(10, 0);
  s.set_write_timeout(10, 0);

  // The page holds no secret and asks for the token itself; everything else
  // needs it when one is set.
  s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    if (token_.empty() || req.path == "/") return httplib::Server::HandlerResponse::Unhandled;
    const std::string auth = req.get_header_value("Authorization");
    constexpr std::string_view kBearer = "Bearer ";
    if (auth.size() > kBearer.size() && auth.compare(0, kBearer.size(), kBearer) == 0 &&
        constantTimeEquals(std::string_view(auth).substr(kBearer.size()), token_))
      return httplib::Server::HandlerResponse::Unhandled;
    res.set_header("WWW-Authenticate", "Bearer");
    send(res, errorReply(401, statusWords(401)));
    return httplib::Server::HandlerResponse::Handled;
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
  return bound;
}

bool HttpFront::run() {
  return server_->listen_after_bind();
}

void HttpFront::stop() {
  if (server_) server_->stop();
}

}  // namespace tarvion::serve
