// The heart of `tarvion serve`, without any socket: the printers with one
// control and one worker thread each, the checking of requests, the batches of
// calls and the idempotency keys. tools/serve.cpp puts HTTP in front of it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "control/script.h"
#include "tools/serve/journal.h"

namespace tarvion::emulator {
class VirtualPrinter;
}

namespace tarvion::serve {

struct PrinterConfig {
  std::string id;
  int model = 0;  // fiscal model number
  int port = 0;   // port number; for a virtual printer, given at start
  uint32_t baud = 9600;
  bool isVirtual = false;
  std::string statePath, paperPath;  // virtual printers
};

// "ID=MODEL@PORT[,BAUD]": a printer on a port. MODEL is a model number or name.
bool parsePrinterOption(std::string_view text, PrinterConfig& out, std::string& error);
// "ID=MODEL[,state=FILE][,paper=FILE]": an in-process virtual printer.
bool parseVirtualOption(std::string_view text, PrinterConfig& out, std::string& error);

struct Options {
  std::string listen = "127.0.0.1:8787";
  std::string journalDir;  // empty: keys are kept in memory only
  std::string token;       // empty: no token asked
  // Names the Host header may give besides the listening address, and the
  // origins of other pages allowed to call (e.g. "https://till.example").
  std::vector<std::string> allowedHosts, allowedOrigins;
  // Idempotency keys held at once; a new one beyond it is refused (503).
  size_t maxKeys = 100000;
  // A journal damaged before its last record: start anyway, losing only the
  // damaged records (else the service refuses to start).
  bool journalDropDamaged = false;
  std::vector<PrinterConfig> printers;
  // What one client can hold of the HTTP front: connections at once, in all
  // and from one address; the time from a request's first byte to the end of
  // its header, and to the end of its body; the time an answer may take to be
  // read; how long a kept-alive connection may wait for its next request.
  // None of these times counts a call's wait for its printer.
  size_t maxConnections = 1000, maxConnectionsPerAddress = 200;
  std::chrono::milliseconds headerTimeout{10000}, bodyTimeout{30000}, writeTimeout{10000}, idleTimeout{30000};
  size_t maxBodyBytes = 256 * 1024;
  size_t maxCallsPerBatch = 500;
  int64_t retentionSeconds = 7 * 24 * 3600;
  int offlineRetrySeconds = 5;
  // Seconds since the epoch; the system clock when empty.
  std::function<int64_t()> clock;
};

// Reads a JSON configuration file into options (see the README for its shape).
bool loadConfig(const std::string& path, Options& options, std::string& error);
// Reads a token file: its first line without surrounding blanks; false when empty.
bool readTokenFile(const std::string& path, std::string& token, std::string& error);

// Splits "HOST:PORT" ("[::1]:8787" for IPv6); false when malformed.
bool parseListen(std::string_view text, std::string& host, int& port, std::string& error);
bool isLoopback(std::string_view host);
// Compares without an early exit, so the time taken tells nothing of where a
// guessed token goes wrong.
bool constantTimeEquals(std::string_view a, std::string_view b);

struct Reply {
  int status = 200;
  std::string body;
  std::string contentType = "application/json";
  bool replayed = false;  // the stored answer of an earlier request with the same key
};
Reply errorReply(int status, std::string_view message);

// Reads one call object ({"entry": ..., "args": [...]} or {"entry": ..., "set": v})
// into a call of the control; false with a message when it does not fit the entry.
bool parseCall(const nlohmann::json& j, script::Call& call, std::string& error);
// The entries that open, close, pause or set up the port, which the service
// holds: a call to one is refused.
bool entryOwnedByService(const EntryInfo& e);
// A request body: one call object or a list of them.
bool parseCalls(std::string_view body, size_t maxCalls, std::vector<script::Call>& calls, std::string& error);

class Service {
 public:
  explicit Service(Options options);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Opens the journal, attaches the virtual printers and starts one worker per
  // printer (each opens its printer; one that does not answer is offline and
  // retried). False with a message when the configuration cannot be served.
  bool start(std::string& error);
  // Stops the workers after the call each one is running.
  void stop();

  const Options& options() const { return options_; }

  Reply printers() const;
  Reply entries() const;
  Reply paper(const std::string& id) const;
  // The service's figures in the Prometheus text format, then `extra` (the
  // HTTP front's own figures, already in that format).
  Reply metrics(const std::string& extra) const;
  // Checks the body, then queues it on the printer; `done` gets the answer
  // when the batch has run, on the printer's worker (or at once, on the
  // caller's thread, for a refusal or the stored answer of a finished key). A
  // 4xx comes back at once and nothing reaches the printer. Nothing here waits
  // on a printer, so one thread can take the requests for every printer.
  void submit(const std::string& id, std::string_view body, const std::string& key, std::function<void(Reply)> done);
  std::shared_future<Reply> submitCalls(const std::string& id, std::string_view body, const std::string& key);
  Reply calls(const std::string& id, std::string_view body, const std::string& key) {
    return submitCalls(id, body, key).get();
  }

  // Runs fn on the printer's worker, in its queue like any request.
  std::future<void> runOnWorker(const std::string& id, std::function<void()> fn);
  size_t queueLength(const std::string& id) const;
  std::shared_ptr<emulator::VirtualPrinter> virtualPrinter(const std::string& id) const;

 private:
  struct Printer;
  // The answer to a keyed request, which retries with the same key wait on
  // without holding a thread.
  class Answer {
   public:
    void set(Reply r);
    // Calls fn with the answer now if it is there, else when it comes.
    void then(std::function<void(const Reply&)> fn);

   private:
    std::mutex mu_;
    bool ready_ = false;
    Reply reply_;
    std::vector<std::function<void(const Reply&)>> waiting_;
  };
  struct Pending {
    uint64_t hash = 0;
    int64_t time = 0;  // when the request came
    std::shared_ptr<Answer> answer;
  };

  Printer* find(const std::string& id) const;
  void work(Printer& p);
  bool openPrinter(Printer& p);
  Reply runBatch(Printer& p, std::vector<script::Call>& calls);
  void record(const JournalRecord& r);
  // Keeps what a successful call told of the printer's paper, drawer and last
  // Z, for /metrics: read from its answer, never asked of the printer again.
  void capture(Printer& p, const script::Call& call, const Value& result, const nlohmann::json& reply);
  void countRefused(Printer& p);
  void markIdle(Printer& p);
  int64_t now() const;
  // Forgets the keys past the retention (at most once a minute); keysMu_ held.
  void forgetOldKeys(int64_t at);

  Options options_;
  std::vector<std::unique_ptr<Printer>> printers_;
  std::vector<int> attachedPorts_;
  Journal journal_;
  mutable std::mutex journalMu_;
  mutable std::mutex keysMu_;
  std::map<std::string, Pending> keys_;  // printer id + '\n' + key
  int64_t lastForget_ = 0;
  bool started_ = false;
};

}  // namespace tarvion::serve
