// `tarvion serve`: the printers of a shop behind a small HTTP/JSON service.
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <thread>

#include "tools/commands.h"
#include "tools/serve/http.h"

namespace tarvion::tool {

int runServe(const ServeCommandOptions& o) {
  serve::Options options;
  std::string error;
  if (!o.configPath.empty() && !serve::loadConfig(o.configPath, options, error)) {
    std::cerr << "tarvion serve: " << error << "\n";
    return 1;
  }
  if (!o.listen.empty()) options.listen = o.listen;
  if (!o.journalDir.empty()) options.journalDir = o.journalDir;
  if (o.journalDropDamaged) options.journalDropDamaged = true;
  if (!o.tokenFile.empty() && !serve::readTokenFile(o.tokenFile, options.token, error)) {
    std::cerr << "tarvion serve: " << error << "\n";
    return 1;
  }
  for (const std::string& text : o.printers) {
    serve::PrinterConfig config;
    if (!serve::parsePrinterOption(text, config, error)) {
      std::cerr << "tarvion serve: --printer: " << error << "\n";
      return 1;
    }
    options.printers.push_back(config);
  }
  for (const std::string& text : o.virtuals) {
    serve::PrinterConfig config;
    if (!serve::parseVirtualOption(text, config, error)) {
      std::cerr << "tarvion serve: --virtual: " << error << "\n";
      return 1;
    }
    options.printers.push_back(config);
  }
  std::string host;
  int port = 0;
  if (!serve::parseListen(options.listen, host, port, error)) {
    std::cerr << "tarvion serve: --listen: " << error << "\n";
    return 1;
  }
  // Any other machine that can reach the address could print receipts.
  if (!serve::isLoopback(host) && options.token.empty()) {
    std::cerr << "tarvion serve: listening on " << host
              << " (not this machine's loopback) needs a token: --token-file FILE or \"token_file\" in the "
                 "configuration\n";
    return 1;
  }
  if (options.printers.empty()) {
    std::cerr << "tarvion serve: no printers (--printer, --virtual or \"printers\" in the configuration)\n";
    return 1;
  }
  if (options.journalDir.empty())
    std::cerr << "tarvion serve: no --journal: idempotency keys are kept only while the service runs\n";

  // Every connection and every printer is a descriptor: the soft limit
  // (often 1024) is raised, within the hard one, to what the caps need.
  rlimit files{};
  const rlim_t need = static_cast<rlim_t>(options.maxConnections + 8 * options.printers.size() + 64);
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY && files.rlim_cur < need) {
    files.rlim_cur = files.rlim_max == RLIM_INFINITY ? need : std::min(need, files.rlim_max);
    setrlimit(RLIMIT_NOFILE, &files);
  }

  // SIGINT and SIGTERM are taken by one thread, which stops the server; every
  // thread started afterwards inherits the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  serve::Service service(options);
  if (!service.start(error)) {
    std::cerr << "tarvion serve: " << error << "\n";
    return 1;
  }
  serve::HttpFront front(service, options.token);
  if (front.bind(host, port, error) < 0) {
    std::cerr << "tarvion serve: " << error << "\n";
    return 1;
  }
  std::cerr << "tarvion serve: listening on http://" << options.listen << "/ with " << options.printers.size()
            << " printer(s)" << std::endl;
  std::mutex endLock;
  std::condition_variable endSignal;
  bool ended = false;
  std::thread waiter([&] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    // The server ignores a stop that comes before it runs: repeat it until
    // run() has returned.
    std::unique_lock<std::mutex> lock(endLock);
    while (!ended) {
      front.stop();
      endSignal.wait_for(lock, std::chrono::milliseconds(20), [&] { return ended; });
    }
  });
  const bool ok = front.run();
  {
    std::lock_guard<std::mutex> lock(endLock);
    ended = true;
  }
  endSignal.notify_all();
  if (!ok) {
    // The server ended by itself: wake the waiter so it can be joined.
    pthread_kill(waiter.native_handle(), SIGTERM);
  }
  waiter.join();
  service.stop();
  std::cerr << "tarvion serve: stopped" << std::endl;
  return ok ? 0 : 1;
}

}  // namespace tarvion::tool
