// Arbitrary bytes from a client into `tarvion serve`'s HTTP front, over a
// real loopback connection, with one virtual printer behind it: the request
// parser, the gate, the routes, the calls' JSON and whatever they make the
// printer do. The client closes its side after the input, so every input ends
// without waiting out a time.
//
// Input: a first byte that picks a shape, then the rest:
//   0  the rest as it is, "@P" replaced by the service's port (a Host header
//      names it, or the gate refuses the request)
//   1  a GET of the path the rest gives
//   2  a POST of the rest as the calls of printer "a"
//   3  a POST of the calls, the rest being header lines before the body
//   4  a POST of one call: the rest's first byte picks the entry (its index
//      among the entries), and the rest, split at NUL bytes, gives its
//      arguments, each a number when it reads as one, else a string
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "tarvion/entry.hpp"
#include "tools/serve/http.h"
#include "tools/serve/service.h"

using namespace tarvion;

namespace {

int port = 0;

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

// One call of the entry the first byte picks, so that inputs reach the
// binder and the printer without having to find the names first.
std::string oneCall(const std::string& rest) {
  size_t count = 0;
  const EntryInfo* table = entryTable(count);
  nlohmann::json call = {{"entry", rest.empty() || count == 0 ? "LeituraX" : table[uint8_t(rest[0]) % count].name},
                         {"args", nlohmann::json::array()}};
  for (size_t from = 1; from < rest.size();) {
    size_t end = rest.find('\0', from);
    if (end == std::string::npos) end = rest.size();
    const std::string arg = rest.substr(from, end - from);
    char* stop = nullptr;
    const double number = std::strtod(arg.c_str(), &stop);
    if (!arg.empty() && stop == arg.c_str() + arg.size())
      call["args"].push_back(number);
    else
      call["args"].push_back(arg);
    from = end + 1;
  }
  return call.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string request(uint8_t shape, const std::string& rest) {
  const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
  const std::string call = shape % 5 == 4 ? oneCall(rest) : std::string();
  switch (shape % 5) {
    case 1:
      return "GET " + rest + " HTTP/1.1\r\n" + host + "\r\n";
    case 2:
      return "POST /printers/a/calls HTTP/1.1\r\n" + host +
             "Content-Type: application/json\r\nContent-Length: " + std::to_string(rest.size()) + "\r\n\r\n" + rest;
    case 3:
      return "POST /printers/a/calls HTTP/1.1\r\n" + host + "Content-Type: application/json\r\n" + rest +
             "\r\n\r\n[{\"entry\": \"LeituraX\"}]";
    case 4:
      return "POST /printers/a/calls HTTP/1.1\r\n" + host +
             "Content-Type: application/json\r\nContent-Length: " + std::to_string(call.size()) + "\r\n\r\n" + call;
    default:
      return replaceAll(rest, "@P", std::to_string(port));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Settings the drivers keep go to a folder of the run's own.
  static char folder[] = "/tmp/tarvion-fuzz-config-XXXXXX";
  if (mkdtemp(folder)) setenv("XDG_CONFIG_HOME", folder, 1);
  serve::Options options;
  serve::PrinterConfig printer;
  std::string error;
  if (!serve::parseVirtualOption("a=1", printer, error)) std::abort();
  options.printers.push_back(printer);
  // Short times, so that an input that stops early costs little.
  options.headerTimeout = options.bodyTimeout = options.writeTimeout = options.idleTimeout =
      std::chrono::milliseconds(200);
  options.maxBodyBytes = 64 * 1024;
  // Alive for the whole run: the fuzzer ends the process.
  static auto* service = new serve::Service(options);
  if (!service->start(error)) std::abort();
  service->runOnWorker("a", [] {}).get();
  static auto* front = new serve::HttpFront(*service, "");
  port = front->bind("127.0.0.1", 0, error);
  if (port <= 0) std::abort();
  std::thread([] { front->run(); }).detach();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text = request(data[0], std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
    size_t sent = 0;
    while (sent < text.size()) {
      const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
    // Until the service closes; a wait of seconds would be a hang the
    // fuzzer's own time-out reports.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    char buf[4096];
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
      if (left <= 0) std::abort();  // the service never closed the connection
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      if (::recv(fd, buf, sizeof buf, 0) <= 0) break;
    }
  }
  ::close(fd);
  return 0;
}
