#include "tools/serve/http.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cstdint>
#include <limits>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>

#include "tools/serve/gate.h"
#include "tools/serve/metrics.h"
#include "tools/serve/openapi.h"

namespace tarvion::serve {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

constexpr size_t kMaxHeaderBytes = 16 * 1024;
// After an answer that closes the connection, what the client still sends is
// read and dropped for this long, so that closing does not reset the
// connection under the answer before the client has read it.
constexpr std::chrono::seconds kLinger{2};

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
    case 431:
      return "the request's header is too large";
    default:
      return "the request cannot be served";
  }
}

std::string text(beast::string_view s) {
  return std::string(s.data(), s.size());
}

}  // namespace

// Lets a printer's worker hand an answer to the front's thread, for as long
// as the front lives.
struct Link {
  std::mutex mu;
  HttpFront::Impl* front = nullptr;
};

class Session;

struct HttpFront::Impl {
  Impl(Service& s, std::string t)
      : service(s),
        options(s.options()),
        token(std::move(t)),
        gate("", 0, options.allowedHosts, options.allowedOrigins),
        openapi(openApiDocument(!token.empty(), options.maxCallsPerBatch)),
        link(std::make_shared<Link>()) {
    link->front = this;
  }
  ~Impl();

  void accept();
  void admit(tcp::socket socket);
  void release(const std::string& address);
  // An answer from a printer's worker, for the session waiting on it.
  void deliver(uint64_t session, Reply reply);
  void post(uint64_t session, Reply reply);
  std::string figures() const;

  Service& service;
  const Options& options;
  std::string token;
  Gate gate;
  const std::string openapi;  // the API's description, made once
  // Declared before the I/O context: a session let go while the context is
  // destroyed still gives its place back.
  std::map<std::string, size_t> perAddress;
  size_t open = 0;
  uint64_t accepted = 0, refused = 0, timedOut = 0, nextSession = 1;
  std::map<int, uint64_t> answered;                      // by status
  std::map<uint64_t, std::shared_ptr<Session>> waiting;  // on their printer
  std::shared_ptr<Link> link;
  net::io_context io{1};
  tcp::acceptor acceptor{io};
  net::steady_timer pause{io};
  bool bound = false;
};

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(HttpFront::Impl& front, tcp::socket socket, std::string address)
      : front_(front), stream_(std::move(socket)), address_(std::move(address)), id_(front.nextSession++) {}
  ~Session() { front_.release(address_); }

  void start() { waitForRequest(); }
  void answer(Reply r) { respond(r.status, std::move(r.body), r.contentType, r.replayed); }

 private:
  void waitForRequest() {
    // A request already in the buffer (sent behind the previous one) is read
    // at once; an idle connection waits for its next first byte.
    if (buffer_.size() > 0) return readHeader();
    stream_.expires_after(front_.options.idleTimeout);
    stream_.async_read_some(buffer_.prepare(4096), [self = shared_from_this()](beast::error_code ec, size_t n) {
      if (ec) return self->drop(ec);
      self->buffer_.commit(n);
      self->readHeader();
    });
  }

  void readHeader() {
    parser_.emplace();
    parser_->header_limit(kMaxHeaderBytes);
    // The body's size is judged once the header has been let in, so that who
    // is refused learns why in the same order whatever the size.
    parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
    // The whole header, from its first byte, within its time: a client that
    // sends a byte now and then keeps nothing for longer.
    stream_.expires_after(front_.options.headerTimeout);
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](beast::error_code ec, size_t) { self->onHeader(ec); });
  }

  void onHeader(beast::error_code ec) {
    if (ec == http::error::header_limit) return refuse(431);
    // A malformed request is answered; a closed or timed-out one (the time
    // closes the socket) is only let go.
    if (ec && ec != http::error::end_of_stream && ec != http::error::partial_message &&
        ec.category() == http::make_error_code(http::error::bad_target).category())
      return refuse(400);
    if (ec) return drop(ec);
    auto& req = parser_->get();
    keepAlive_ = req.keep_alive();
    head_ = req.method() == http::verb::head;
    if (!admitted(req)) return;
    if (parser_->content_length() && *parser_->content_length() > front_.options.maxBodyBytes) return refuse(413);
    parser_->body_limit(front_.options.maxBodyBytes);  // a chunked body is counted as it comes
    if (parser_->is_done()) return route();
    stream_.expires_after(front_.options.bodyTimeout);
    // A client that asks before it sends its body (some HTTP libraries do for
    // every POST) is told to go on at once rather than left to its own wait.
    if (beast::iequals(req[http::field::expect], "100-continue")) {
      static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
      return net::async_write(stream_, net::buffer(kContinue),
                              [self = shared_from_this()](beast::error_code ec, size_t) {
                                if (ec) return self->drop(ec);
                                self->readBody();
                              });
    }
    readBody();
  }

  void readBody() {
    http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, size_t) {
      if (ec == http::error::body_limit) return self->refuse(413);
      if (ec) return self->drop(ec);
      self->route();
    });
  }

  // Before the body is read: the request must name this service, come from
  // its own page or a listed one, carry the token and, for a call, JSON.
  template <class Request>
  bool admitted(const Request& req) {
    const std::string host = text(req[http::field::host]);
    if (!front_.gate.hostAllowed(host)) return refuse(421), false;
    const std::string origin = text(req[http::field::origin]);
    const Gate::Origin from = front_.gate.origin(origin, host);
    if (from == Gate::Origin::Foreign) return refuse(403), false;
    if (from == Gate::Origin::Listed) {
      extra_.emplace_back("Access-Control-Allow-Origin", origin);
      extra_.emplace_back("Vary", "Origin");
      extra_.emplace_back("Access-Control-Expose-Headers", "Idempotent-Replayed");
    }
    if (req.method() == http::verb::options) {
      // A preflight is answered for a listed origin only.
      if (from != Gate::Origin::Listed) return refuse(403), false;
      extra_.emplace_back("Access-Control-Allow-Methods", "GET, POST");
      extra_.emplace_back("Access-Control-Allow-Headers", "Content-Type, Authorization, Idempotency-Key");
      extra_.emplace_back("Access-Control-Max-Age", "600");
      closeAfter_ = !parser_->is_done();
      respond(204, "", "", false);
      return false;
    }
    target_ = text(req.target());
    target_ = target_.substr(0, target_.find('?'));
    if (!front_.token.empty() && target_ != "/") {
      const std::string auth = text(req[http::field::authorization]);
      constexpr std::string_view kBearer = "Bearer ";
      if (!(auth.size() > kBearer.size() && auth.compare(0, kBearer.size(), kBearer) == 0 &&
            constantTimeEquals(std::string_view(auth).substr(kBearer.size()), front_.token))) {
        extra_.emplace_back("WWW-Authenticate", "Bearer");
        return refuse(401), false;
      }
    }
    if (req.method() == http::verb::post && !isJsonContentType(text(req[http::field::content_type])))
      return refuse(415), false;
    return true;
  }

  void route() {
    const auto& req = parser_->get();
    const http::verb method = req.method();
    const bool get = method == http::verb::get || method == http::verb::head;
    static const std::regex kPrinterPath(R"(/printers/([A-Za-z0-9_-]+)/(calls|paper))");
    std::smatch m;
    Service& service = front_.service;
    if (target_ == "/" || target_ == "/printers" || target_ == "/entries" || target_ == "/metrics" ||
        target_ == "/openapi.json") {
      if (!get) return refuse(405);
      if (target_ == "/") return respond(200, pageHtml(), "text/html; charset=utf-8", false);
      if (target_ == "/metrics") return answer(service.metrics(front_.figures()));
      if (target_ == "/openapi.json") return respond(200, front_.openapi, "application/json", false);
      return answer(target_ == "/printers" ? service.printers() : service.entries());
    }
    if (!std::regex_match(target_, m, kPrinterPath)) return refuse(404);
    const std::string id = m[1];
    if (m[2] == "paper") return get ? answer(service.paper(id)) : refuse(405);
    if (method != http::verb::post) return refuse(405);
    // The answer comes from the printer's worker; until then the session
    // waits here, holding nothing but its connection.
    front_.waiting[id_] = shared_from_this();
    service.submit(id, req.body(), text(req["Idempotency-Key"]), [link = front_.link, session = id_](Reply r) {
      std::lock_guard<std::mutex> l(link->mu);
      if (link->front) link->front->post(session, std::move(r));
    });
  }

  void refuse(int status) {
    // A request refused before its body was read leaves that body on the
    // line: the connection cannot carry another request.
    if (!parser_ || !parser_->is_done()) closeAfter_ = true;
    respond(status, errorReply(status, statusWords(status)).body, "application/json", false);
  }

  void respond(int status, std::string body, const std::string& type, bool replayed) {
    ++front_.answered[status];
    res_.emplace(static_cast<http::status>(status), parser_ ? parser_->get().version() : 11);
    if (!type.empty()) res_->set(http::field::content_type, type);
    if (replayed) res_->set("Idempotent-Replayed", "true");
    for (const auto& [name, value] : extra_) res_->set(name, value);
    extra_.clear();
    res_->keep_alive(keepAlive_ && !closeAfter_);
    const size_t length = body.size();
    res_->body() = head_ ? std::string() : std::move(body);
    res_->prepare_payload();
    if (head_) res_->content_length(length);
    stream_.expires_after(front_.options.writeTimeout);
    http::async_write(stream_, *res_, [self = shared_from_this()](beast::error_code ec, size_t) {
      if (ec) return self->drop(ec);
      if (!self->res_->keep_alive()) return self->linger();
      self->res_.reset();
      self->parser_.reset();
      self->head_ = false;
      self->waitForRequest();
    });
  }

  void linger() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.expires_after(kLinger);
    discard();
  }

  void discard() {
    buffer_.clear();
    stream_.async_read_some(buffer_.prepare(4096), [self = shared_from_this()](beast::error_code ec, size_t) {
      if (!ec) self->discard();
    });
  }

  void drop(beast::error_code ec) {
    if (ec == beast::error::timeout) ++front_.timedOut;
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
  }

  HttpFront::Impl& front_;
  beast::tcp_stream stream_;
  std::string address_;
  uint64_t id_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::optional<http::response<http::string_body>> res_;
  std::vector<std::pair<std::string, std::string>> extra_;
  std::string target_;
  bool keepAlive_ = false, closeAfter_ = false, head_ = false;
};

HttpFront::Impl::~Impl() {
  {
    std::lock_guard<std::mutex> l(link->mu);
    link->front = nullptr;
  }
  waiting.clear();
}

void HttpFront::Impl::post(uint64_t session, Reply reply) {
  net::post(io, [this, session, reply = std::move(reply)]() mutable { deliver(session, std::move(reply)); });
}

void HttpFront::Impl::deliver(uint64_t session, Reply reply) {
  auto it = waiting.find(session);
  if (it == waiting.end()) return;
  std::shared_ptr<Session> s = std::move(it->second);
  waiting.erase(it);
  s->answer(std::move(reply));
}

void HttpFront::Impl::accept() {
  acceptor.async_accept([this](beast::error_code ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted) return;
    if (ec) {
      // Out of descriptors, say: try again shortly rather than spin.
      pause.expires_after(std::chrono::milliseconds(100));
      pause.async_wait([this](beast::error_code e) {
        if (!e) accept();
      });
      return;
    }
    admit(std::move(socket));
    accept();
  });
}

void HttpFront::Impl::admit(tcp::socket socket) {
  beast::error_code ec;
  const auto peer = socket.remote_endpoint(ec);
  if (ec) return;
  const std::string address = peer.address().to_string();
  size_t& fromThere = perAddress[address];
  if (open >= options.maxConnections || fromThere >= options.maxConnectionsPerAddress) {
    if (fromThere == 0) perAddress.erase(address);
    ++refused;
    // One try at a short answer, without waiting for the client to take it.
    static const std::string kBusy = [] {
      const std::string body = errorReply(503, "too many connections; try again later").body;
      return "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nConnection: close\r\n"
             "Content-Length: " +
             std::to_string(body.size()) + "\r\n\r\n" + body;
    }();
    socket.non_blocking(true, ec);
    socket.write_some(net::buffer(kBusy), ec);
    socket.shutdown(tcp::socket::shutdown_both, ec);
    socket.close(ec);
    return;
  }
  ++fromThere;
  ++open;
  ++accepted;
  socket.set_option(tcp::no_delay(true), ec);
  std::make_shared<Session>(*this, std::move(socket), address)->start();
}

void HttpFront::Impl::release(const std::string& address) {
  --open;
  auto it = perAddress.find(address);
  if (it != perAddress.end() && --it->second == 0) perAddress.erase(it);
}

std::string HttpFront::Impl::figures() const {
  metrics::Writer w;
  w.gauge("tarvion_http_connections", "Connections open now.", {}, static_cast<double>(open));
  w.counter("tarvion_http_connections_accepted_total", "Connections taken.", {}, static_cast<double>(accepted));
  w.counter("tarvion_http_connections_refused_total", "Connections refused over the limits in all or per address.", {},
            static_cast<double>(refused));
  w.counter("tarvion_http_timeouts_total", "Connections closed because a request or an answer ran out of time.", {},
            static_cast<double>(timedOut));
  for (const auto& [status, n] : answered)
    w.counter("tarvion_http_responses_total", "Answers by HTTP status.", {{"code", std::to_string(status)}},
              static_cast<double>(n));
  return w.text();
}

HttpFront::HttpFront(Service& service, std::string token) : impl_(std::make_unique<Impl>(service, std::move(token))) {}

HttpFront::~HttpFront() {
  stop();
}

int HttpFront::bind(const std::string& host, int port, std::string& error) {
  Impl& f = *impl_;
  beast::error_code ec;
  const auto address = net::ip::make_address(host == "localhost" ? "127.0.0.1" : host, ec);
  if (!ec) {
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
    f.acceptor.open(endpoint.protocol(), ec);
    if (!ec) f.acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) f.acceptor.bind(endpoint, ec);
    if (!ec) f.acceptor.listen(net::socket_base::max_listen_connections, ec);
  }
  if (ec) {
    beast::error_code ignored;
    f.acceptor.close(ignored);
    error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + ec.message();
    return -1;
  }
  const int bound = f.acceptor.local_endpoint().port();
  f.gate = Gate(host, bound, f.options.allowedHosts, f.options.allowedOrigins);
  f.bound = true;
  return bound;
}

bool HttpFront::run() {
  Impl& f = *impl_;
  if (!f.bound) return false;
  f.accept();
  f.io.run();
  return true;
}

void HttpFront::stop() {
  impl_->io.stop();
}

}  // namespace tarvion::serve
