// `tarvion serve` for a whole shop: N virtual printers, each on a
// pseudo-terminal paced at 9600 baud, behind one service; N clients each run a
// 10-item sale on their own printer over HTTP (one request a call, kept-alive
// connection), all starting at the same moment. Prints the time of the
// slowest sale for N = 1, 8 and 32 and its ratio to one printer alone: near 1
// means a call that waits on one printer holds back no other printer's calls.
//   serve_bench [rounds [N...]]
#include <httplib.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulator/printers.h"
#include "emulator/pty_host.h"
#include "tools/serve/http.h"
#include "tools/serve/service.h"

using namespace tarvion;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kBaud = 9600;
constexpr int kModel = 1;

std::vector<std::string> saleCalls() {
  std::vector<std::string> calls{R"({"entry": "AbreCupomFiscal"})"};
  for (int i = 1; i <= 10; ++i) {
    char item[200];
    std::snprintf(
        item, sizeof item,
        R"({"entry": "RegistraItemFiscal", "args": ["%lld", "PRODUTO DE TESTE %d", "UN", %d, %d, %d.%02d, 0]})",
        7891000000000LL + i, i, i % 2 ? 18 : 7, 1 + i % 3, 199 * i / 100, 199 * i % 100);
    calls.push_back(item);
  }
  calls.push_back(R"({"entry": "TotalizaCupomDesconto", "args": [0.5, 0]})");
  calls.push_back(R"({"entry": "RegistraPagamento", "args": ["Dinheiro", 500]})");
  calls.push_back(R"({"entry": "FechaCupomFiscal", "args": ["OBRIGADO", 0]})");
  return calls;
}

// Starts together every thread that waits on it.
class StartLine {
 public:
  void wait() {
    std::unique_lock<std::mutex> l(mu_);
    cv_.wait(l, [&] { return open_; });
  }
  void open() {
    {
      std::lock_guard<std::mutex> l(mu_);
      open_ = true;
    }
    cv_.notify_all();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool open_ = false;
};

// One round: n clients on printers p1..pn at once; the slowest sale in
// seconds, or a negative number when a sale failed.
double round(int port, int n) {
  const std::vector<std::string> calls = saleCalls();
  StartLine start;
  std::vector<double> took(static_cast<size_t>(n), -1);
  std::vector<std::thread> clients;
  for (int k = 0; k < n; ++k)
    clients.emplace_back([&, k] {
      httplib::Client c("127.0.0.1", port);
      c.set_keep_alive(true);
      c.set_read_timeout(120, 0);
      const std::string path = "/printers/p" + std::to_string(k + 1) + "/calls";
      c.Get("/printers");  // the connection is open before the start
      start.wait();
      const auto t0 = Clock::now();
      for (const std::string& call : calls) {
        auto r = c.Post(path, call, "application/json");
        if (!r || r->status != 200 || r->body.find("\"outcome\":\"done\"") == std::string::npos) {
          std::fprintf(stderr, "p%d: %s\n", k + 1, r ? r->body.c_str() : httplib::to_string(r.error()).c_str());
          return;
        }
      }
      took[static_cast<size_t>(k)] = std::chrono::duration<double>(Clock::now() - t0).count();
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // every client connected
  start.open();
  for (auto& t : clients) t.join();
  if (std::any_of(took.begin(), took.end(), [](double s) { return s < 0; })) return -1;
  return *std::max_element(took.begin(), took.end());
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
  std::vector<int> counts;
  for (int i = 2; i < argc; ++i) counts.push_back(atoi(argv[i]));
  if (counts.empty()) counts = {1, 8, 32};
  const int most = *std::max_element(counts.begin(), counts.end());

  std::vector<std::unique_ptr<emulator::PtyHost>> hosts;
  serve::Options options;
  for (int k = 1; k <= most; ++k) {
    auto host =
        std::make_unique<emulator::PtyHost>(emulator::makePrinter(kModel, "", ""), emulator::PtyOptions{"", kBaud});
    std::string error;
    if (!host->start(&error)) {
      std::fprintf(stderr, "pty: %s\n", error.c_str());
      return 1;
    }
    host->startThread();
    // Serial port numbers from 101 up name the terminals.
    setenv(("TARVION_PORT_" + std::to_string(100 + k)).c_str(), host->path().c_str(), 1);
    serve::PrinterConfig p;
    if (!serve::parsePrinterOption("p" + std::to_string(k) + "=" + std::to_string(kModel) + "@" +
                                       std::to_string(100 + k) + "," + std::to_string(kBaud),
                                   p, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    options.printers.push_back(p);
    hosts.push_back(std::move(host));
  }
  serve::Service service(options);
  std::string error;
  if (!service.start(error)) {
    std::fprintf(stderr, "serve: %s\n", error.c_str());
    return 1;
  }
  for (const auto& p : options.printers) service.runOnWorker(p.id, [] {}).get();  // each printer opened
  serve::HttpFront front(service, "");
  const int port = front.bind("127.0.0.1", 0, error);
  if (port < 0) {
    std::fprintf(stderr, "serve: %s\n", error.c_str());
    return 1;
  }
  std::thread server([&] { front.run(); });

  int status = 0;
  double one = 0;
  std::sort(counts.begin(), counts.end());
  for (int n : counts) {
    std::vector<double> times;
    for (int r = 0; r < rounds; ++r) {
      const double t = round(port, n);
      if (t < 0) {
        status = 1;
        break;
      }
      times.push_back(t);
    }
    if (times.empty()) continue;
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    if (n == counts.front()) one = median * 1.0;
    const double ratio = one > 0 ? median / one : 0;
    std::printf(
        "N = %2d printers: slowest sale %.3f s (median of %d), %.2f x one printer's time, throughput %.2f x %d\n", n,
        median, rounds, ratio, ratio > 0 ? n / ratio : 0, n);
    if (n > 1 && ratio > 1.1) std::printf("N = %2d: above the goal of 1.1 x\n", n);
  }
  front.stop();
  server.join();
  service.stop();
  for (auto& h : hosts) h->stop();
  return status;
}
