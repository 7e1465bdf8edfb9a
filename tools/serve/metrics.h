// A small writer of the Prometheus text exposition format (version 0.0.4),
// and the process figures every Prometheus client exports, read from /proc.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvion::serve::metrics {

inline constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

using Labels = std::vector<std::pair<std::string, std::string>>;

// A sample value as Prometheus reads it: whole numbers without a fraction or
// exponent, +Inf, -Inf and NaN spelled so, others in the shortest form that
// reads back to the same double. Never depends on the locale.
std::string formatNumber(double v);
// A label value inside its quotes: backslash, double quote and newline escaped.
std::string escapeLabelValue(std::string_view v);
// A HELP text: backslash and newline escaped (quotes stay as they are).
std::string escapeHelp(std::string_view v);

// Observations counted into buckets by their upper bound. Not thread-safe:
// its owner guards it.
class Histogram {
 public:
  explicit Histogram(std::vector<double> upperBounds);
  void observe(double v);
  const std::vector<double>& upperBounds() const { return bounds_; }
  // The observations at or below each bound, not cumulative; one more at the
  // end for those above the last bound.
  const std::vector<uint64_t>& bucketCounts() const { return counts_; }
  double sum() const { return sum_; }
  uint64_t count() const { return count_; }

 private:
  std::vector<double> bounds_;
  std::vector<uint64_t> counts_;
  double sum_ = 0;
  uint64_t count_ = 0;
};

// Collects samples by family and writes each family once, its # HELP and
// # TYPE lines first and all its samples together, in the order the families
// were first declared.
class Writer {
 public:
  // Declares a family; "counter", "gauge" or "histogram". Declaring it again
  // adds nothing.
  void family(const std::string& name, const char* type, std::string_view help);
  // One sample of a declared family (or of its _bucket/_sum/_count series).
  void sample(const std::string& family, std::string_view name, const Labels& labels, double value);
  void gauge(const std::string& name, std::string_view help, const Labels& labels, double value);
  void counter(const std::string& name, std::string_view help, const Labels& labels, double value);
  // _bucket{le=...} cumulative up to le="+Inf", then _sum and _count.
  void histogram(const std::string& name, std::string_view help, const Labels& labels, const Histogram& h);
  // The whole exposition.
  std::string text() const;

 private:
  struct Family {
    std::string head, samples;
  };
  std::vector<Family> families_;
  std::map<std::string, size_t, std::less<>> index_;
};

// process_cpu_seconds_total, process_resident_memory_bytes,
// process_virtual_memory_bytes, process_open_fds, process_max_fds and
// process_start_time_seconds of this process; a figure /proc does not give is
// left out.
void writeProcess(Writer& w);

}  // namespace tarvion::serve::metrics
