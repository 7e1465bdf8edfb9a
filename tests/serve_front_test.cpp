// `tarvion serve`'s HTTP front under clients that wait, trickle or pile up:
// a call waiting on one printer never holds back another printer's, and a
// slow or idle client holds its own connection only, for a bounded time.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "serve_rig.h"
#include "test_support.h"
#include "tools/serve/http.h"

namespace {

using namespace serverig;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A client that writes what it is told, when it is told, and reads raw bytes.
class RawClient {
 public:
  // receiveBuffer > 0: a small window, for a client that reads nothing.
  explicit RawClient(int port, int receiveBuffer = 0) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = fd_ >= 0 && ::connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
  }
  ~RawClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connected() const { return connected_; }
  bool send(std::string_view s) {
    return ::send(fd_, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size());
  }
  // Reads until the server closes the connection or `limit` passes; whether
  // it closed, and what came before.
  bool readUntilClosed(milliseconds limit, std::string& got) {
    return read(limit, got, [](const std::string&) { return false; }) == Read::Closed;
  }
  // Reads until `text` has come or `limit` passes.
  bool readUntil(std::string_view text, milliseconds limit, std::string& got) {
    return read(limit, got, [&](const std::string& g) { return g.find(text) != std::string::npos; }) == Read::Done;
  }

 private:
  enum class Read { Done, Closed, TimedOut };
  Read read(milliseconds limit, std::string& got, const std::function<bool(const std::string&)>& done) {
    const auto end = Clock::now() + limit;
    while (!done(got)) {
      const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
      if (left <= 0) return Read::TimedOut;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buf[4096];
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return Read::Closed;  // closed, or reset
      got.append(buf, static_cast<size_t>(n));
    }
    return Read::Done;
  }

  int fd_ = -1;
  bool connected_ = false;
};

class ServeFront : public ::testing::Test {
 protected:
  void serve(Options options) {
    std::string error;
    service = std::make_unique<Service>(std::move(options));
    ASSERT_TRUE(service->start(error)) << error;
    for (const auto& p : service->options().printers) settle(*service, p.id);
    front = std::make_unique<tarvion::serve::HttpFront>(*service, "");
    port = front->bind("127.0.0.1", 0, error);
    ASSERT_GT(port, 0) << error;
    server = std::thread([this] { front->run(); });
  }
  void TearDown() override {
    if (front) front->stop();
    if (server.joinable()) server.join();
  }
  std::string request(const std::string& method, const std::string& path, const std::string& body = "") const {
    std::string r = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n";
    if (!body.empty()) r += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    return r + "\r\n" + body;
  }
  std::unique_ptr<httplib::Client> client(int seconds) const {
    auto c = std::make_unique<httplib::Client>("127.0.0.1", port);
    c->set_connection_timeout(seconds, 0);
    c->set_read_timeout(seconds, 0);
    c->set_write_timeout(seconds, 0);
    return c;
  }

  std::unique_ptr<Service> service;
  std::unique_ptr<tarvion::serve::HttpFront> front;
  std::thread server;
  int port = 0;
};

TEST_F(ServeFront, ACallWaitingOnOnePrinterNeverHoldsBackAnother) {
  serve(optionsFor({virtualConfig("a"), virtualConfig("b")}));
  // More calls wait on printer a than a pool of threads would hold, beside
  // clients that stay idle or trickle a header that never ends.
  HeldWorker held(*service, "a");
  std::vector<std::unique_ptr<RawClient>> waiting, idle, trickling;
  for (int i = 0; i < 12; ++i) {
    waiting.push_back(std::make_unique<RawClient>(port));
    ASSERT_TRUE(waiting.back()->send(request("POST", "/printers/a/calls", R"({"entry": "LeituraX"})")));
  }
  for (int i = 0; i < 50; ++i) idle.push_back(std::make_unique<RawClient>(port));
  for (int i = 0; i < 12; ++i) {
    trickling.push_back(std::make_unique<RawClient>(port));
    ASSERT_TRUE(trickling.back()->send("POST /printers/b/calls HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Le"));
  }
  for (const auto& c : idle) ASSERT_TRUE(c->connected());

  // Printer b sells while all of that waits.
  auto sale = client(5)->Post("/printers/b/calls", kSale, "application/json");
  ASSERT_TRUE(sale) << httplib::to_string(sale.error());
  EXPECT_EQ(sale->status, 200) << sale->body;
  EXPECT_EQ(body({sale->status, sale->body})["outcome"], "done") << sale->body;
  EXPECT_TRUE(held.stillHeld());
  auto printers = client(5)->Get("/printers");
  ASSERT_TRUE(printers);
  EXPECT_EQ(json::parse(printers->body)[0]["queue"], 12) << printers->body;

  // Once printer a is free, every waiting call gets its answer.
  held.release();
  for (auto& c : waiting) {
    std::string got;
    EXPECT_TRUE(c->readUntil("\"outcome\":\"done\"", milliseconds(10000), got)) << got;
    EXPECT_EQ(got.rfind("HTTP/1.1 200", 0), 0u) << got;
  }
  EXPECT_EQ(testsupport::countOf(service->paper("b").body, "CAFE TORRADO 500G"), 1u);
}

TEST_F(ServeFront, ASlowOrIdleClientIsClosedWhenItsTimeRunsOut) {
  Options o = optionsFor({virtualConfig("a")});
  o.headerTimeout = o.bodyTimeout = o.idleTimeout = milliseconds(200);
  serve(std::move(o));
  struct Case {
    const char* name;
    std::string first;  // sent at once
    const char* drip;   // then a byte every 50 ms, for 3 s at most
  };
  const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
  const Case cases[] = {
      {"idle after connecting", "", ""},
      {"a header a byte at a time", "G",
       "ET /printers HTTP/1.1\r\nX-Padding: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
      {"a body that stops short",
       "POST /printers/a/calls HTTP/1.1\r\n" + host + "Content-Type: application/json\r\nContent-Length: 60\r\n\r\n{",
       ""},
      {"idle after an answer", "GET /printers HTTP/1.1\r\n" + host + "\r\n", ""},
  };
  for (const Case& c : cases) {
    RawClient raw(port);
    ASSERT_TRUE(raw.connected()) << c.name;
    const auto start = Clock::now();
    if (!c.first.empty()) {
      ASSERT_TRUE(raw.send(c.first)) << c.name;
    }
    std::string got;
    bool closed = false;
    for (const char* d = c.drip; *d && !closed; ++d) {
      closed = raw.readUntilClosed(milliseconds(50), got);
      if (!closed) raw.send(std::string_view(d, 1));  // the server may close meanwhile
    }
    if (!closed) closed = raw.readUntilClosed(milliseconds(3000), got);
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
    EXPECT_TRUE(closed) << c.name;
    EXPECT_LT(took, 1500) << c.name;  // the drip alone would last 3 s
    // Only the complete request got an answer.
    EXPECT_EQ(got.find("HTTP/1.1 200") != std::string::npos, std::string(c.name) == "idle after an answer")
        << c.name << ": " << got;
  }
  EXPECT_EQ(service->paper("a").body.find("CUPOM"), std::string::npos);
  // The front still serves.
  auto printers = client(5)->Get("/printers");
  ASSERT_TRUE(printers);
  EXPECT_EQ(printers->status, 200);
}

TEST_F(ServeFront, AClientThatNeverReadsItsAnswersIsClosedWhenTheyStall) {
  Options o = optionsFor({virtualConfig("a")});
  o.writeTimeout = milliseconds(200);
  serve(std::move(o));
  auto timeouts = [&] {
    auto r = client(5)->Get("/metrics");
    const std::string series = "tarvion_http_timeouts_total ";
    const size_t at = r ? r->body.find("\n" + series) : std::string::npos;
    return at == std::string::npos ? -1 : std::stoi(r->body.substr(at + 1 + series.size()));
  };
  const int before = timeouts();
  ASSERT_GE(before, 0);
  // Far more answer than the two socket buffers hold, asked for at once.
  RawClient reader(port, 4096);
  std::string asks;
  for (int i = 0; i < 200; ++i) asks += request("GET", "/openapi.json");
  ASSERT_TRUE(reader.send(asks));
  // Others are served while it stalls, and the stalled one is let go.
  int after = before;
  for (int attempt = 0; attempt < 100 && after == before; ++attempt) {
    auto printers = client(5)->Get("/printers");
    ASSERT_TRUE(printers);
    EXPECT_EQ(printers->status, 200);
    after = timeouts();
    if (after == before) std::this_thread::sleep_for(milliseconds(50));
  }
  EXPECT_EQ(after, before + 1);
}

TEST_F(ServeFront, AClientThatAsksBeforeSendingItsBodyIsToldToGoOn) {
  serve(optionsFor({virtualConfig("a")}));
  const std::string call = R"({"entry": "RetornaNumeroCupom"})";
  RawClient raw(port);
  ASSERT_TRUE(raw.send("POST /printers/a/calls HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                       "\r\nContent-Type: application/json\r\nExpect: 100-continue\r\nContent-Length: " +
                       std::to_string(call.size()) + "\r\n\r\n"));
  std::string got;
  // Such a client waits a second or so for the go-ahead before it sends anyway.
  ASSERT_TRUE(raw.readUntil("\r\n\r\n", milliseconds(500), got)) << got;
  EXPECT_EQ(got, "HTTP/1.1 100 Continue\r\n\r\n");
  ASSERT_TRUE(raw.send(call));
  got.clear();
  EXPECT_TRUE(raw.readUntil("\"outcome\":\"done\"", milliseconds(5000), got)) << got;
  EXPECT_EQ(got.rfind("HTTP/1.1 200", 0), 0u) << got;
}

TEST_F(ServeFront, ConnectionsAreCappedInAllAndPerAddress) {
  struct Case {
    const char* name;
    size_t all, perAddress;
  };
  for (const Case& c : {Case{"per address", 100, 3}, Case{"in all", 3, 100}}) {
    SCOPED_TRACE(c.name);
    TearDown();
    front.reset();
    Options o = optionsFor({virtualConfig("a")});
    o.maxConnections = c.all;
    o.maxConnectionsPerAddress = c.perAddress;
    serve(std::move(o));
    std::vector<std::unique_ptr<RawClient>> held;
    for (int i = 0; i < 3; ++i) {
      held.push_back(std::make_unique<RawClient>(port));
      // An answered request proves the connection was taken, in order.
      std::string got;
      ASSERT_TRUE(held.back()->send(request("GET", "/printers")));
      ASSERT_TRUE(held.back()->readUntil("\"id\":\"a\"", milliseconds(5000), got)) << got;
    }
    RawClient over(port);
    std::string got;
    EXPECT_TRUE(over.readUntilClosed(milliseconds(5000), got));
    EXPECT_EQ(got.rfind("HTTP/1.1 503", 0), 0u) << got;
    // One gone, a new one is served.
    held.pop_back();
    bool served = false;
    for (int attempt = 0; attempt < 100 && !served; ++attempt) {
      auto r = client(5)->Get("/printers");
      served = r && r->status == 200;
      if (!served) std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_TRUE(served);
  }
}

}  // namespace
