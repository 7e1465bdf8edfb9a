#include "tools/serve/service.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "control/ctrl_state.h"
#include "core/capabilities.h"
#include "core/model_lookup.h"
#include "core/virtual_wire.h"
#include "emulator/printers.h"
#include "emulator/virtual_printer.h"
#include "tools/serve/metrics.h"

namespace tarvion::serve {

using nlohmann::json;

namespace {

// Virtual printers take port numbers from here up, skipping the real ones.
constexpr int kFirstVirtualPort = 201;
constexpr size_t kMaxKeyBytes = 128;
constexpr size_t kMaxIdBytes = 32;

int64_t unixNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

uint64_t fnv1a64(std::string_view s) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

std::string trim(std::string_view s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return std::string(s.substr(a, b - a));
}

bool sameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

bool parseNumber(std::string_view text, long long min, long long max, long long& out) {
  auto r = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && r.ec == std::errc() && r.ptr == text.data() + text.size() && out >= min && out <= max;
}

bool validId(std::string_view id, std::string& error) {
  const bool ok = !id.empty() && id.size() <= kMaxIdBytes && std::all_of(id.begin(), id.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
  });
  if (!ok) error = "a printer id is 1 to 32 letters, digits, '-' or '_', got '" + std::string(id) + "'";
  return ok;
}

std::string modelName(int model) {
  const caps::ModelRow* row = caps::fiscalModel(model);
  return row ? row->name : "";
}

// A JSON argument for the shell's binder: its type, and its text as a line
// would write it, so both take the same checks.
script::Arg argOf(const json& v) {
  using K = script::Arg::Kind;
  if (v.is_boolean()) return {K::Boolean, v.get<bool>() ? "TRUE" : "FALSE"};
  if (v.is_number_integer()) return {K::Integer, v.dump()};
  if (v.is_number()) return {K::Number, v.dump()};
  if (v.is_string()) return {K::String, v.get<std::string>()};
  return {K::Other, {}};
}

// A file that holds a secret must not be readable by every user of the machine.
bool privateFile(const std::string& path, const char* what, std::string& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return true;  // the reader says what is wrong
  if ((st.st_mode & S_IROTH) == 0) return true;
  error = std::string(what) + " " + path + " is readable by every user of this machine; make it private (chmod 600 " +
          path + ")";
  return false;
}

constexpr size_t kMinTokenBytes = 16;

// A call's time on the printer, from a status read to a long report.
const std::vector<double> kCallBuckets = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60, 120};

// A printer's date and time (its own wall clock, the machine's zone) in
// seconds since the epoch; nothing for an invalid date.
std::optional<int64_t> unixOf(const DateTime& d) {
  DateParts p;
  if (!d.valid() || !d.parts(p)) return std::nullopt;
  std::tm t{};
  t.tm_year = p.year - 1900;
  t.tm_mon = p.month - 1;
  t.tm_mday = p.day;
  t.tm_hour = p.hour;
  t.tm_min = p.minute;
  t.tm_sec = p.second;
  t.tm_isdst = -1;
  const std::time_t at = std::mktime(&t);
  if (at == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<int64_t>(at);
}

std::optional<int64_t> integerOf(std::string_view text) {
  text = std::string_view(text).substr(0, text.find_last_not_of(' ') + 1);
  long long n = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size()) return std::nullopt;
  return n;
}

std::string answerText(const std::string& printer, const char* outcome, json calls, json counters = nullptr,
                       bool withCounters = false) {
  json a = {{"printer", printer}, {"outcome", outcome}, {"calls", std::move(calls)}};
  if (withCounters) a["counters"] = std::move(counters);
  return a.dump();
}

}  // namespace

// ------------------------------------------------------------------ options

bool parsePrinterOption(std::string_view text, PrinterConfig& out, std::string& error) {
  out = PrinterConfig{};
  const size_t eq = text.find('=');
  const size_t at = text.rfind('@');
  if (eq == std::string_view::npos || at == std::string_view::npos || at < eq) {
    error = "expected ID=MODEL@PORT[,BAUD], got '" + std::string(text) + "'";
    return false;
  }
  out.id = std::string(text.substr(0, eq));
  if (!validId(out.id, error)) return false;
  out.model = caps::fiscalModelNumber(text.substr(eq + 1, at - eq - 1));
  if (out.model == 0) {
    error = "unknown model '" + std::string(text.substr(eq + 1, at - eq - 1)) + "' (see `tarvion models`)";
    return false;
  }
  std::string_view rest = text.substr(at + 1);
  const size_t comma = rest.find(',');
  long long n = 0;
  if (!parseNumber(rest.substr(0, comma), 1, 9999, n)) {
    error = "bad port number in '" + std::string(text) + "'";
    return false;
  }
  out.port = static_cast<int>(n);
  if (comma != std::string_view::npos) {
    if (!parseNumber(rest.substr(comma + 1), 1, 4000000, n)) {
      error = "bad speed in '" + std::string(text) + "'";
      return false;
    }
    out.baud = static_cast<uint32_t>(n);
  }
  return true;
}

bool parseVirtualOption(std::string_view text, PrinterConfig& out, std::string& error) {
  out = PrinterConfig{};
  out.isVirtual = true;
  out.baud = 115200;
  const size_t eq = text.find('=');
  if (eq == std::string_view::npos) {
    error = "expected ID=MODEL[,state=FILE][,paper=FILE], got '" + std::string(text) + "'";
    return false;
  }
  out.id = std::string(text.substr(0, eq));
  if (!validId(out.id, error)) return false;
  std::string_view rest = text.substr(eq + 1);
  bool first = true;
  while (true) {
    const size_t comma = rest.find(',');
    const std::string_view part = rest.substr(0, comma);
    if (first) {
      out.model = emulator::virtualModelNumber(std::string(part));
      if (out.model == 0) {
        error = "no virtual printer for the model '" + std::string(part) + "'";
        return false;
      }
      first = false;
    } else if (part.substr(0, 6) == "state=" && part.size() > 6) {
      out.statePath = std::string(part.substr(6));
    } else if (part.substr(0, 6) == "paper=" && part.size() > 6) {
      out.paperPath = std::string(part.substr(6));
    } else {
      error = "expected state=FILE or paper=FILE, got '" + std::string(part) + "'";
      return false;
    }
    if (comma == std::string_view::npos) break;
    rest = rest.substr(comma + 1);
  }
  return true;
}

bool readTokenFile(const std::string& path, std::string& token, std::string& error) {
  if (!privateFile(path, "the token file", error)) return false;
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) {
    error = "cannot read the token file " + path;
    return false;
  }
  token = trim(line);
  if (token.size() < kMinTokenBytes) {
    error = "the token in " + path + " is shorter than 16 characters";
    return false;
  }
  return true;
}

bool loadConfig(const std::string& path, Options& options, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  const json j = json::parse(in, nullptr, false);
  if (!j.is_object()) {
    error = path + " is not a JSON object";
    return false;
  }
  try {
    for (const auto& [k, v] : j.items()) {
      if (k == "listen") {
        options.listen = v.get<std::string>();
      } else if (k == "journal") {
        options.journalDir = v.get<std::string>();
      } else if (k == "token") {
        options.token = trim(v.get<std::string>());
        if (options.token.size() < kMinTokenBytes) {
          error = "the token in " + path + " is shorter than 16 characters";
          return false;
        }
        if (!privateFile(path, "the configuration file, which holds a token,", error)) return false;
      } else if (k == "allowed_origins" || k == "allowed_hosts") {
        auto& list = k == "allowed_origins" ? options.allowedOrigins : options.allowedHosts;
        for (const json& item : v) list.push_back(item.get<std::string>());
      } else if (k == "max_keys") {
        options.maxKeys = v.get<size_t>();
      } else if (k == "journal_drop_damaged") {
        options.journalDropDamaged = v.get<bool>();
      } else if (k == "token_file") {
        if (!readTokenFile(v.get<std::string>(), options.token, error)) return false;
      } else if (k == "max_connections") {
        options.maxConnections = std::max<size_t>(1, v.get<size_t>());
      } else if (k == "max_connections_per_address") {
        options.maxConnectionsPerAddress = std::max<size_t>(1, v.get<size_t>());
      } else if (k == "header_timeout_seconds" || k == "idle_timeout_seconds") {
        const double seconds = v.get<double>();
        if (!(seconds > 0 && seconds <= 3600)) {
          error = path + ": " + k + " is a number of seconds from above 0 to 3600";
          return false;
        }
        (k == "header_timeout_seconds" ? options.headerTimeout : options.idleTimeout) =
            std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
      } else if (k == "max_body_bytes") {
        options.maxBodyBytes = v.get<size_t>();
      } else if (k == "retention_days") {
        options.retentionSeconds = v.get<int64_t>() * 24 * 3600;
      } else if (k == "printers") {
        for (const json& p : v) {
          PrinterConfig s;
          const std::string model = p.at("model").is_number() ? p.at("model").dump() : p.at("model").get<std::string>();
          const std::string id = p.at("id").get<std::string>();
          if (p.value("virtual", false)) {
            std::string text = id + "=" + model;
            if (p.contains("state")) text += ",state=" + p.at("state").get<std::string>();
            if (p.contains("paper")) text += ",paper=" + p.at("paper").get<std::string>();
            if (!parseVirtualOption(text, s, error)) return false;
          } else {
            std::string text = id + "=" + model + "@" + std::to_string(p.at("port").get<int>());
            if (p.contains("baud")) text += "," + std::to_string(p.at("baud").get<long>());
            if (!parsePrinterOption(text, s, error)) return false;
          }
          options.printers.push_back(std::move(s));
        }
      } else {
        error = path + ": unknown setting '" + k + "'";
        return false;
      }
    }
  } catch (const json::exception& e) {
    error = path + ": " + e.what();
    return false;
  }
  return true;
}

bool parseListen(std::string_view text, std::string& host, int& port, std::string& error) {
  const size_t colon = text.rfind(':');
  long long n = 0;
  if (colon == std::string_view::npos || colon == 0 || !parseNumber(text.substr(colon + 1), 1, 65535, n)) {
    error = "expected HOST:PORT to listen on, got '" + std::string(text) + "'";
    return false;
  }
  host = std::string(text.substr(0, colon));
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  port = static_cast<int>(n);
  return true;
}

bool isLoopback(std::string_view host) {
  return host == "localhost" || host == "::1" || host.substr(0, 4) == "127.";
}

bool constantTimeEquals(std::string_view a, std::string_view b) {
  // Every byte of the longer one is looked at whatever the contents.
  const size_t n = std::max(a.size(), b.size());
  unsigned diff = a.size() == b.size() ? 0u : 1u;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    diff |= static_cast<unsigned>(x ^ y);
  }
  return diff == 0;
}

Reply errorReply(int status, std::string_view message) {
  return {status, json{{"error", message}}.dump(), "application/json", false};
}

// ------------------------------------------------------------------ requests

// The service owns each printer's port: these would take it from under it,
// or leave it paused or closed for the next client.
bool entryOwnedByService(const EntryInfo& e) {
  static const char* const kPortEntries[] = {"InitializeECF",
                                             "OpenComm",
                                             "CloseComm",
                                             "PauseComm",
                                             "ContinueComm",
                                             "SetCommState",
                                             "SetCommTimeouts",
                                             "CarregaEstadoPorta",
                                             "CarregaTimeoutsPorta",
                                             "InitializeCheckPrinter",
                                             "OpenCheckComm",
                                             "CloseCheckComm"};
  return std::any_of(std::begin(kPortEntries), std::end(kPortEntries),
                     [&](const char* name) { return sameText(e.name, name); });
}

bool parseCall(const json& j, script::Call& call, std::string& error) {
  call = script::Call{};
  if (!j.is_object()) {
    error = "a call is an object {\"entry\": NAME, \"args\": [...]} or {\"entry\": NAME, \"set\": VALUE}";
    return false;
  }
  for (const auto& [k, v] : j.items())
    if (k != "entry" && k != "args" && k != "set") {
      error = "unknown member '" + k + "' in a call";
      return false;
    }
  const auto entry = j.find("entry");
  if (entry == j.end() || !entry->is_string()) {
    error = "a call needs \"entry\": the name of an entry";
    return false;
  }
  call.nameAsWritten = entry->get<std::string>();
  call.entry = findEntry(call.nameAsWritten);
  if (!call.entry) {
    error = "unknown entry '" + call.nameAsWritten + "'";
    return false;
  }
  const EntryInfo& e = *call.entry;
  if (entryOwnedByService(e)) {
    error = std::string(e.name) + " is not available here: the service opens and holds the printer's port";
    return false;
  }
  const auto set = j.find("set");
  const auto args = j.find("args");
  if (set != j.end()) {
    if (args != j.end()) {
      error = "a call has \"args\" or \"set\", not both";
      return false;
    }
    if (!script::settable(e, error)) return false;
    if (!script::bindValue(argOf(*set), e.result, call.setValue, error)) {
      error = std::string(e.name) + " = value: " + error;
      return false;
    }
    call.form = script::Call::Form::Set;
    return true;
  }
  static const json kNone = json::array();
  const json& list = args == j.end() ? kNone : *args;
  if (!list.is_array()) {
    error = "\"args\" is a list";
    return false;
  }
  std::vector<script::Arg> bound;
  bound.reserve(list.size());
  for (const json& v : list) bound.push_back(argOf(v));
  size_t badArgument = 0;
  if (!script::bindArgs(e, bound, call.args, error, &badArgument)) {
    // A reply of the service names no entry of its own: the error does.
    if (badArgument) error = std::string(e.name) + " " + error;
    return false;
  }
  call.form = script::Call::Form::Invoke;
  return true;
}

bool parseCalls(std::string_view body, size_t maxCalls, std::vector<script::Call>& calls, std::string& error) {
  calls.clear();
  const json j = json::parse(body, nullptr, false);
  if (j.is_discarded()) {
    error = "the body is not JSON";
    return false;
  }
  if (j.is_array()) {
    if (j.empty() || j.size() > maxCalls) {
      error = "a list holds 1 to " + std::to_string(maxCalls) + " calls";
      return false;
    }
    calls.resize(j.size());
    for (size_t i = 0; i < j.size(); ++i)
      if (!parseCall(j[i], calls[i], error)) {
        error = "call " + std::to_string(i + 1) + ": " + error;
        return false;
      }
    return true;
  }
  calls.resize(1);
  return parseCall(j, calls[0], error);
}

// ------------------------------------------------------------------ service

struct Service::Printer {
  PrinterConfig config;
  std::shared_ptr<emulator::VirtualPrinter> virt;
  CTarvionCtrl ctrl;  // touched by the worker only
  mutable std::mutex mu;
  std::condition_variable cv;
  std::deque<std::function<void()>> jobs;
  bool stopping = false, online = false, busy = false;
  std::string lastError = "not opened yet";
  std::thread thread;
  // Figures for /metrics, guarded by mu.
  uint64_t callsDone = 0, callsFailed = 0, callsUnknown = 0, refused = 0;
  metrics::Histogram callSeconds{kCallBuckets};
  // As the printer last told them to a client's call; unset until then.
  std::optional<bool> paperNearEnd, paperOut, drawerOpen;
  int64_t statusReadAt = 0;
  std::optional<int64_t> lastZAt, zCounter, operationCounter;
};

Service::Service(Options options) : options_(std::move(options)) {}

Service::~Service() {
  stop();
}

bool Service::start(std::string& error) {
  for (size_t i = 0; i < options_.printers.size(); ++i)
    for (size_t k = 0; k < i; ++k)
      if (options_.printers[i].id == options_.printers[k].id) {
        error = "two printers have the id '" + options_.printers[i].id + "'";
        return false;
      }
  if (!options_.journalDir.empty()) {
    std::vector<JournalRecord> records;
    if (!journal_.open(options_.journalDir, now(), options_.retentionSeconds, records, error,
                       options_.journalDropDamaged))
      return false;
    for (const JournalRecord& r : records) {
      Pending pend;
      pend.hash = r.hash;
      pend.time = r.time;
      pend.answer = std::make_shared<Answer>();
      if (r.kind == "done") {
        pend.answer->set({r.status, r.answer, "application/json", false});
      } else {
        // Started and never finished: the service stopped while the printer
        // worked. Whether it printed is for the client to look at.
        pend.answer->set(
            {200, answerText(r.printer, "unknown", json::array(), nullptr, true), "application/json", false});
      }
      keys_[r.printer + '\n' + r.key] = std::move(pend);
    }
  }
  // Nobody stands at the printer to answer a driver's question: every prompt
  // gets the cautious answer.
  CTarvionCtrl::SetPromptHandler([](CTarvionCtrl::PromptKind kind, const std::string&, const std::string&) {
    return kind == CTarvionCtrl::PromptKind::YesNo ? CTarvionCtrl::PromptAnswer::No
                                                   : CTarvionCtrl::PromptAnswer::Cancel;
  });
  int nextPort = kFirstVirtualPort;
  for (const PrinterConfig& config : options_.printers) {
    auto p = std::make_unique<Printer>();
    p->config = config;
    if (config.isVirtual) {
      while (std::any_of(options_.printers.begin(), options_.printers.end(),
                         [&](const PrinterConfig& s) { return !s.isVirtual && s.port == nextPort; }))
        ++nextPort;
      p->config.port = nextPort++;
      p->virt = emulator::makePrinter(config.model, config.statePath, config.paperPath, &error);
      if (!p->virt) {
        error = config.id + ": " + error;
        return false;
      }
      ports::attachVirtual(p->config.port, emulator::makeVirtualDevice(p->virt));
      attachedPorts_.push_back(p->config.port);
    }
    printers_.push_back(std::move(p));
  }
  for (auto& p : printers_) p->thread = std::thread([this, raw = p.get()] { work(*raw); });
  started_ = true;
  return true;
}

void Service::stop() {
  for (auto& p : printers_) {
    {
      std::lock_guard<std::mutex> l(p->mu);
      p->stopping = true;
    }
    p->cv.notify_all();
  }
  for (auto& p : printers_)
    if (p->thread.joinable()) p->thread.join();
  for (int port : attachedPorts_) ports::detachVirtual(port);
  attachedPorts_.clear();
}

Service::Printer* Service::find(const std::string& id) const {
  for (const auto& p : printers_)
    if (p->config.id == id) return p.get();
  return nullptr;
}

bool Service::openPrinter(Printer& p) {
  std::vector<Value> args{Value::longInt(p.config.model),
                          Value::longInt(p.config.port),
                          Value::longInt(p.config.baud),
                          Value::longInt(0),
                          Value::longInt(8),
                          Value::longInt(1),
                          Value::longInt(0),
                          Value::boolean(-1),
                          Value::boolean(-1)};
  static const EntryInfo* init = findEntry("InitializeECF");
  const bool ok = p.ctrl.Invoke(*init, args).i != 0;
  std::lock_guard<std::mutex> l(p.mu);
  p.online = ok;
  p.lastError = ok ? "" : p.ctrl.UltimoErro();
  return ok;
}

void Service::work(Printer& p) {
  openPrinter(p);
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> l(p.mu);
      while (!p.stopping && p.jobs.empty()) {
        if (p.online) {
          p.cv.wait(l);
        } else if (p.cv.wait_for(l, std::chrono::seconds(options_.offlineRetrySeconds)) == std::cv_status::timeout &&
                   p.jobs.empty() && !p.stopping) {
          l.unlock();
          openPrinter(p);
          l.lock();
        }
      }
      if (p.jobs.empty()) return;  // stopping, and every queued job answered
      job = std::move(p.jobs.front());
      p.jobs.pop_front();
      p.busy = true;
    }
    job();
    std::lock_guard<std::mutex> l(p.mu);
    p.busy = false;
  }
}

int64_t Service::now() const {
  return options_.clock ? options_.clock() : unixNow();
}

void Service::forgetOldKeys(int64_t at) {
  if (at - lastForget_ < 60) return;
  lastForget_ = at;
  for (auto it = keys_.begin(); it != keys_.end();)
    it = at - it->second.time > options_.retentionSeconds ? keys_.erase(it) : std::next(it);
}

void Service::markIdle(Printer& p) {
  std::lock_guard<std::mutex> l(p.mu);
  p.busy = false;
}

void Service::countRefused(Printer& p) {
  std::lock_guard<std::mutex> l(p.mu);
  ++p.refused;
}

void Service::record(const JournalRecord& r) {
  std::lock_guard<std::mutex> l(journalMu_);
  if (journal_.isOpen()) journal_.append(r);
}

Reply Service::runBatch(Printer& p, std::vector<script::Call>& calls) {
  json out = json::array();
  const char* outcome = "done";
  bool unknown = false;
  for (script::Call& call : calls) {
    bool ok = true;
    std::string text;
    Value result;
    const auto started = std::chrono::steady_clock::now();
    // The answer carries the message this call left, never an earlier one's.
    ControlState& st = p.ctrl.state();
    st.strLastError.clear();
    if (st.fiscal) st.fiscal->strLastError.clear();
    if (st.check) st.check->strLastError.clear();
    // Whatever the call's outcome, a reply that carried the paper sensors
    // tells the paper now; cleared first so that only this call's replies count.
    if (st.fiscal) st.fiscal->paperSense.known = false;
    if (call.form == script::Call::Form::Set) {
      ok = p.ctrl.SetProperty(*call.entry, call.setValue);
      text = script::formatCall(call, Value(), true);
    } else {
      result = p.ctrl.Invoke(*call.entry, call.args);
      text = script::formatCall(call, result, true);
      // Only a method's BOOL tells success; a BOOL property is a plain answer.
      ok = !(call.entry->kind == Kind::Method && call.entry->result == Type::Bool && result.i == 0);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    json c = json::parse(text, nullptr, false);
    const bool left = (st.fiscal && !st.fiscal->strLastError.empty()) ||
                      (st.check && !st.check->strLastError.empty()) || (!st.fiscal && !st.check);
    c["UltimoErro"] = left ? p.ctrl.UltimoErro() : std::string();
    if (!ok) {
      // A command written and then lost on the line may have run: the client
      // must not simply send it again.
      unknown = p.ctrl.LastOutcome() == CTarvionCtrl::Outcome::MayHaveRun;
      outcome = unknown ? "unknown" : "failed";
    }
    {
      std::lock_guard<std::mutex> l(p.mu);
      p.callSeconds.observe(seconds);
      ++(ok ? p.callsDone : unknown ? p.callsUnknown : p.callsFailed);
      if (st.fiscal && st.fiscal->paperSense.known) {
        p.paperNearEnd = st.fiscal->paperSense.nearEnd;
        p.paperOut = st.fiscal->paperSense.out;
        p.statusReadAt = now();
      }
    }
    // A property's answer is only worth keeping when the call left no error:
    // a FALSE from a status read that failed is no status.
    if (ok && !left) capture(p, call, result, c);
    out.push_back(std::move(c));
    if (!ok) break;
  }
  if (!unknown) return {200, answerText(p.config.id, outcome, std::move(out)), "application/json", false};
  // The line died mid-command: it may have run. Once the printer answers
  // again, its counters let the client see whether it did.
  json counters = nullptr;
  for (int attempt = 0; attempt < 3 && counters.is_null(); ++attempt) {
    std::string number;
    if (p.ctrl.RetornaNumeroCupom(number) == 0) continue;
    int open = 0;
    p.ctrl.CupomFiscalAberto(open);
    counters = {{"NumeroCupom", number}, {"CupomFiscalAberto", open != 0}};
  }
  if (counters.is_null()) {
    std::lock_guard<std::mutex> l(p.mu);
    p.online = false;
    p.lastError = p.ctrl.UltimoErro();
  }
  return {200, answerText(p.config.id, outcome, std::move(out), std::move(counters), true), "application/json", false};
}

void Service::capture(Printer& p, const script::Call& call, const Value& result, const json& reply) {
  if (call.form != script::Call::Form::Invoke) return;
  const std::string_view name = call.entry->name;
  const int64_t at = now();
  std::lock_guard<std::mutex> l(p.mu);
  if (name == "LowPaper") {
    p.paperNearEnd = result.i != 0;
    p.statusReadAt = at;
  } else if (name == "CashDrawerClosed") {
    p.drawerOpen = result.i == 0;
    p.statusReadAt = at;
  } else if (name == "ReducaoZ") {
    p.lastZAt = at;
  } else if (name == "DataMovUltimaRZ") {
    // The day the last Z closed; a Z this service saw run is later the same day.
    if (const auto day = unixOf(DateTime(result.d)); day && (!p.lastZAt || *day > *p.lastZAt)) p.lastZAt = day;
  } else if (name == "ZReportCounter") {
    p.zCounter = result.i;
  } else if (name == "OperationCounter" || name == "FinalOperation") {
    p.operationCounter = result.i;
  } else if (name == "ReadFiscalInformation") {
    // The driver keeps the counters of its last fiscal information read.
    if (const ControlState& st = p.ctrl.state(); st.fiscal) {
      p.zCounter = st.fiscal->intZReportCounter;
      p.operationCounter = st.fiscal->intFinalOperation;
    }
  } else if (name == "RetornaNumeroCupom") {
    const auto coo = reply.find("out");
    if (coo != reply.end() && coo->contains("strNumeroCupom") && (*coo)["strNumeroCupom"].is_string())
      if (const auto n = integerOf((*coo)["strNumeroCupom"].get<std::string>())) p.operationCounter = n;
  }
}

void Service::Answer::set(Reply r) {
  std::vector<std::function<void(const Reply&)>> waiting;
  {
    std::lock_guard<std::mutex> l(mu_);
    reply_ = std::move(r);
    ready_ = true;
    waiting.swap(waiting_);
  }
  for (auto& fn : waiting) fn(reply_);
}

void Service::Answer::then(std::function<void(const Reply&)> fn) {
  {
    std::lock_guard<std::mutex> l(mu_);
    if (!ready_) {
      waiting_.push_back(std::move(fn));
      return;
    }
  }
  fn(reply_);  // set once and never changed after
}

std::shared_future<Reply> Service::submitCalls(const std::string& id, std::string_view body, const std::string& key) {
  auto promise = std::make_shared<std::promise<Reply>>();
  std::shared_future<Reply> answer = promise->get_future().share();
  submit(id, body, key, [promise](Reply r) { promise->set_value(std::move(r)); });
  return answer;
}

void Service::submit(const std::string& id, std::string_view body, const std::string& key,
                     std::function<void(Reply)> done) {
  Printer* p = find(id);
  if (!p) return done(errorReply(404, "no printer '" + id + "'"));
  if (body.size() > options_.maxBodyBytes)
    return done(errorReply(413, "the body is longer than " + std::to_string(options_.maxBodyBytes) + " bytes"));
  if (key.size() > kMaxKeyBytes || std::any_of(key.begin(), key.end(), [](char c) { return c < 0x21 || c > 0x7E; }))
    return done(errorReply(400, "an Idempotency-Key is 1 to 128 visible ASCII characters"));
  auto calls = std::make_shared<std::vector<script::Call>>();
  std::string error;
  if (!parseCalls(body, options_.maxCallsPerBatch, *calls, error))
    return done(errorReply(json::accept(body) ? 422 : 400, error));
  // The same request written with other blanks or member order is the same request.
  const uint64_t hash = fnv1a64(json::parse(body).dump());

  auto answer = std::make_shared<Answer>();
  const std::string slot = id + '\n' + key;
  if (!key.empty()) {
    std::shared_ptr<Answer> earlier;
    {
      std::lock_guard<std::mutex> l(keysMu_);
      auto it = keys_.find(slot);
      if (it != keys_.end()) {
        if (it->second.hash != hash)
          return done(errorReply(409, "this Idempotency-Key was used for another request on this printer"));
        earlier = it->second.answer;
      } else {
        forgetOldKeys(now());
        if (keys_.size() >= options_.maxKeys) {
          // Old keys go with the retention; until then a flood of new ones is
          // refused before it reaches the printer rather than growing the memory
          // and the journal without end.
          lastForget_ = 0;
          forgetOldKeys(now());
          if (keys_.size() >= options_.maxKeys)
            return done(errorReply(503, "too many idempotency keys held (" + std::to_string(options_.maxKeys) +
                                            "); nothing was sent to the printer, try again later or without a key"));
        }
        keys_[slot] = {hash, now(), answer};
      }
    }
    if (earlier) {
      earlier->then([done](const Reply& r) {
        Reply copy = r;
        copy.replayed = true;
        done(std::move(copy));
      });
      return;
    }
  }
  // The answer goes to the caller and to any retry that came meanwhile.
  answer->then([done](const Reply& r) { done(r); });
  auto forget = [this, slot, keyed = !key.empty()] {
    if (!keyed) return;
    std::lock_guard<std::mutex> l(keysMu_);
    keys_.erase(slot);
  };
  std::function<void()> job = [this, p, calls, answer, forget, key, hash] {
    // Nothing reached the printer: the key stays free for a retry. Idle
    // before the answer leaves, so whoever has the answer sees it so.
    auto refuse = [&](const std::string& why, bool count) {
      forget();
      if (count) countRefused(*p);
      markIdle(*p);
      answer->set(errorReply(503, why));
    };
    bool stopping = false, online = false;
    {
      std::lock_guard<std::mutex> l(p->mu);
      stopping = p->stopping;
      online = p->online;
    }
    if (!stopping && !online) online = openPrinter(*p);
    if (stopping || !online) {
      std::string why;
      {
        std::lock_guard<std::mutex> l(p->mu);
        why = stopping ? "the service is stopping" : "printer '" + p->config.id + "' is offline: " + p->lastError;
      }
      return refuse(why, !stopping);
    }
    if (!key.empty()) {
      JournalRecord start{now(), "start", p->config.id, key, hash, 0, ""};
      bool written = true;
      {
        std::lock_guard<std::mutex> l(journalMu_);
        written = !journal_.isOpen() || journal_.append(start);
      }
      if (!written) return refuse("the journal cannot be written; nothing was sent to the printer", true);
    }
    Reply r = runBatch(*p, *calls);
    if (!key.empty()) record({now(), "done", p->config.id, key, hash, r.status, r.body});
    // Idle before the answer leaves, so whoever has the answer sees it so.
    markIdle(*p);
    answer->set(std::move(r));
  };
  {
    std::lock_guard<std::mutex> l(p->mu);
    // A stopped worker takes no more jobs: the answer would never come.
    if (!p->stopping) {
      p->jobs.push_back(std::move(job));
      job = nullptr;
    }
  }
  if (job) {
    forget();
    answer->set(errorReply(503, "the service is stopping"));
    return;
  }
  p->cv.notify_one();
}

std::future<void> Service::runOnWorker(const std::string& id, std::function<void()> fn) {
  auto done = std::make_shared<std::promise<void>>();
  auto future = done->get_future();
  Printer* p = find(id);
  if (!p) return future;
  {
    std::lock_guard<std::mutex> l(p->mu);
    p->jobs.push_back([this, p, fn = std::move(fn), done] {
      fn();
      markIdle(*p);
      done->set_value();
    });
  }
  p->cv.notify_one();
  return future;
}

size_t Service::queueLength(const std::string& id) const {
  const Printer* p = find(id);
  if (!p) return 0;
  std::lock_guard<std::mutex> l(p->mu);
  return p->jobs.size();
}

std::shared_ptr<emulator::VirtualPrinter> Service::virtualPrinter(const std::string& id) const {
  const Printer* p = find(id);
  return p ? p->virt : nullptr;
}

Reply Service::printers() const {
  json list = json::array();
  for (const auto& p : printers_) {
    std::lock_guard<std::mutex> l(p->mu);
    json o = {{"id", p->config.id},
              {"model", p->config.model},
              {"modelName", modelName(p->config.model)},
              {"virtual", p->config.isVirtual},
              {"port", p->config.port},
              {"state", !p->online && !p->busy ? "offline"
                        : p->busy              ? "busy"
                                               : "idle"},
              {"queue", p->jobs.size()}};
    if (!p->online) o["error"] = p->lastError;
    list.push_back(std::move(o));
  }
  return {200, list.dump(), "application/json", false};
}

Reply Service::entries() const {
  return {200, script::entriesText(true), "application/json", false};
}

Reply Service::paper(const std::string& id) const {
  const Printer* p = find(id);
  if (!p) return errorReply(404, "no printer '" + id + "'");
  if (!p->virt) return errorReply(404, "printer '" + id + "' is not virtual: its paper is in the printer");
  return {200, p->virt->printedPaper(), "text/plain; charset=utf-8", false};
}

}  // namespace tarvion::serve

namespace tarvion::serve {

Reply Service::metrics(const std::string& extra) const {
  metrics::Writer w;
  for (const auto& p : printers_) {
    const metrics::Labels id{{"printer", p->config.id}};
    std::lock_guard<std::mutex> l(p->mu);
    const char* current = !p->online && !p->busy ? "offline" : p->busy ? "busy" : "idle";
    for (const char* state : {"idle", "busy", "offline"})
      w.gauge("tarvion_printer_state", "1 for the printer's current state (idle, busy or offline), 0 for the others.",
              {{"printer", p->config.id}, {"state", state}}, std::string_view(state) == current ? 1 : 0);
    w.gauge("tarvion_printer_queue_length", "Requests waiting for the printer.", id,
            static_cast<double>(p->jobs.size()));
    const std::pair<const char*, uint64_t> outcomes[] = {
        {"done", p->callsDone}, {"failed", p->callsFailed}, {"unknown", p->callsUnknown}};
    for (const auto& [outcome, n] : outcomes)
      w.counter("tarvion_printer_calls_total",
                "Calls run on the printer by outcome: done, failed, or unknown (may have run).",
                {{"printer", p->config.id}, {"outcome", outcome}}, static_cast<double>(n));
    w.histogram("tarvion_printer_call_duration_seconds", "Time each call took on the printer.", id, p->callSeconds);
    w.counter("tarvion_printer_requests_refused_total",
              "Requests answered 503 with nothing sent: the printer was offline or the journal failed.", id,
              static_cast<double>(p->refused));
    if (p->paperNearEnd)
      w.gauge("tarvion_printer_paper_near_end", "1 when the printer last said its paper is near the end.", id,
              *p->paperNearEnd ? 1 : 0);
    if (p->paperOut)
      w.gauge("tarvion_printer_paper_out", "1 when the printer last said it is out of paper.", id,
              *p->paperOut ? 1 : 0);
    if (p->drawerOpen)
      w.gauge("tarvion_printer_drawer_open", "1 when the printer last said its cash drawer is open.", id,
              *p->drawerOpen ? 1 : 0);
    if (p->paperNearEnd || p->paperOut || p->drawerOpen)
      w.gauge("tarvion_printer_status_read_timestamp_seconds", "When the printer last told its paper or drawer status.",
              id, static_cast<double>(p->statusReadAt));
    if (p->lastZAt)
      w.gauge("tarvion_printer_last_z_reduction_timestamp_seconds",
              "When the last Z reduction ran, as seen by the service or read from the printer.", id,
              static_cast<double>(*p->lastZAt));
    if (p->zCounter)
      w.gauge("tarvion_printer_z_reduction_counter", "The printer's Z reduction counter (CRZ) as last read.", id,
              static_cast<double>(*p->zCounter));
    if (p->operationCounter)
      w.gauge("tarvion_printer_operation_counter", "The printer's operation counter (COO) as last read.", id,
              static_cast<double>(*p->operationCounter));
  }
  {
    std::lock_guard<std::mutex> l(journalMu_);
    if (journal_.isOpen()) {
      w.gauge("tarvion_journal_size_bytes", "Size of the idempotency journal file.", {},
              static_cast<double>(journal_.sizeBytes()));
      w.gauge("tarvion_journal_records", "Records in the idempotency journal file.", {},
              static_cast<double>(journal_.records()));
    }
  }
  {
    std::lock_guard<std::mutex> l(keysMu_);
    w.gauge("tarvion_idempotency_keys", "Idempotency keys held.", {}, static_cast<double>(keys_.size()));
  }
  metrics::writeProcess(w);
  return {200, w.text() + extra, metrics::kContentType, false};
}

}  // namespace tarvion::serve
