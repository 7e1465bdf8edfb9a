#include "tools/serve/metrics.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

namespace tarvion::serve::metrics {

std::string formatNumber(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "+Inf" : "-Inf";
  // Whole numbers up to 2^53 are exact in a double: written as integers.
  if (v == std::trunc(v) && std::fabs(v) <= 9007199254740992.0) {
    if (v == 0) return "0";  // -0 too
    return std::to_string(static_cast<long long>(v));
  }
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

namespace {

std::string escape(std::string_view v, bool quote) {
  std::string out;
  out.reserve(v.size());
  for (char c : v) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"' && quote) {
      out += "\\\"";
    } else {
      out += c;
    }
  }
  return out;
}

std::string labelText(const Labels& labels) {
  if (labels.empty()) return {};
  std::string out = "{";
  for (size_t i = 0; i < labels.size(); ++i) {
    if (i) out += ',';
    out += labels[i].first;
    out += "=\"";
    out += escapeLabelValue(labels[i].second);
    out += '"';
  }
  return out + '}';
}

}  // namespace

std::string escapeLabelValue(std::string_view v) {
  return escape(v, true);
}

std::string escapeHelp(std::string_view v) {
  return escape(v, false);
}

Histogram::Histogram(std::vector<double> upperBounds) : bounds_(std::move(upperBounds)) {
  std::sort(bounds_.begin(), bounds_.end());
  counts_.assign(bounds_.size() + 1, 0);
}

void Histogram::observe(double v) {
  const size_t at = std::lower_bound(bounds_.begin(), bounds_.end(), v) - bounds_.begin();
  ++counts_[at];
  sum_ += v;
  ++count_;
}

void Writer::family(const std::string& name, const char* type, std::string_view help) {
  if (index_.count(name)) return;
  index_.emplace(name, families_.size());
  families_.push_back({"# HELP " + name + ' ' + escapeHelp(help) + "\n# TYPE " + name + ' ' + type + '\n', {}});
}

void Writer::sample(const std::string& family, std::string_view name, const Labels& labels, double value) {
  const auto it = index_.find(family);
  if (it == index_.end()) return;  // an undeclared family is a programming slip: dropped, never malformed
  std::string& s = families_[it->second].samples;
  s.append(name);
  s += labelText(labels);
  s += ' ';
  s += formatNumber(value);
  s += '\n';
}

void Writer::gauge(const std::string& name, std::string_view help, const Labels& labels, double value) {
  family(name, "gauge", help);
  sample(name, name, labels, value);
}

void Writer::counter(const std::string& name, std::string_view help, const Labels& labels, double value) {
  family(name, "counter", help);
  sample(name, name, labels, value);
}

void Writer::histogram(const std::string& name, std::string_view help, const Labels& labels, const Histogram& h) {
  family(name, "histogram", help);
  Labels withLe = labels;
  withLe.emplace_back("le", "");
  uint64_t running = 0;
  const auto& counts = h.bucketCounts();
  for (size_t i = 0; i < h.upperBounds().size(); ++i) {
    running += counts[i];
    withLe.back().second = formatNumber(h.upperBounds()[i]);
    sample(name, name + "_bucket", withLe, static_cast<double>(running));
  }
  withLe.back().second = "+Inf";
  sample(name, name + "_bucket", withLe, static_cast<double>(h.count()));
  sample(name, name + "_sum", labels, h.sum());
  sample(name, name + "_count", labels, static_cast<double>(h.count()));
}

std::string Writer::text() const {
  std::string out;
  for (const Family& f : families_) {
    out += f.head;
    out += f.samples;
  }
  return out;
}

// ------------------------------------------------------------------ process

namespace {

// The fields of /proc/self/stat after the command name, which may hold
// blanks and parentheses itself: field 3 (state) is [0].
std::vector<std::string> statFields() {
  std::ifstream in("/proc/self/stat");
  std::string line;
  if (!std::getline(in, line)) return {};
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return {};
  std::istringstream rest(line.substr(close + 1));
  std::vector<std::string> fields;
  for (std::string f; rest >> f;) fields.push_back(f);
  return fields;
}

bool toNumber(const std::string& s, double& out) {
  unsigned long long v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
  out = static_cast<double>(v);
  return true;
}

// Seconds since the epoch when the machine started ("btime" of /proc/stat).
bool bootTime(double& out) {
  std::ifstream in("/proc/stat");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("btime ", 0) == 0) return toNumber(line.substr(6), out);
  return false;
}

}  // namespace

void writeProcess(Writer& w) {
  const std::vector<std::string> f = statFields();
  const long ticks = ::sysconf(_SC_CLK_TCK);
  const long page = ::sysconf(_SC_PAGESIZE);
  // Field n of stat(5) is f[n - 3].
  auto field = [&](size_t n, double& out) { return n >= 3 && f.size() > n - 3 && toNumber(f[n - 3], out); };
  double utime = 0, stime = 0, start = 0, vsize = 0, rss = 0, boot = 0;
  if (ticks > 0 && field(14, utime) && field(15, stime))
    w.counter("process_cpu_seconds_total", "Total user and system CPU time spent in seconds.", {},
              (utime + stime) / static_cast<double>(ticks));
  if (page > 0 && field(24, rss))
    w.gauge("process_resident_memory_bytes", "Resident memory size in bytes.", {}, rss * static_cast<double>(page));
  if (field(23, vsize)) w.gauge("process_virtual_memory_bytes", "Virtual memory size in bytes.", {}, vsize);
  if (ticks > 0 && field(22, start) && bootTime(boot))
    w.gauge("process_start_time_seconds", "Start time of the process since unix epoch in seconds.", {},
            boot + start / static_cast<double>(ticks));
  if (DIR* d = ::opendir("/proc/self/fd")) {
    double open = 0;
    while (const dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ++open;
    ::closedir(d);
    // Less the one opendir held while counting.
    w.gauge("process_open_fds", "Number of open file descriptors.", {}, open - 1);
  }
  rlimit lim{};
  if (::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY)
    w.gauge("process_max_fds", "Maximum number of open file descriptors.", {}, static_cast<double>(lim.rlim_cur));
}

}  // namespace tarvion::serve::metrics
