// The Prometheus text writer of `tarvion serve`: numbers, escaping, families
// written once, histograms' cumulative buckets.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "tools/serve/metrics.h"

namespace {

using tarvion::serve::metrics::Histogram;
using tarvion::serve::metrics::Writer;

struct NumberCase {
  double value;
  const char* text;
};

TEST(MetricsWriter, NumbersAreWrittenSoPrometheusReadsThemBack) {
  const double inf = std::numeric_limits<double>::infinity();
  const NumberCase cases[] = {
      {0, "0"},
      {-0.0, "0"},
      {7, "7"},
      {-3, "-3"},
      {1700000000, "1700000000"},
      {9007199254740992.0, "9007199254740992"},  // the last whole number a double holds exactly
      {1e300, "1e+300"},
      {0.005, "0.005"},
      {2.5, "2.5"},
      {-0.125, "-0.125"},
      {0.1 + 0.2, "0.30000000000000004"},  // shortest text that reads back to the same double
      {inf, "+Inf"},
      {-inf, "-Inf"},
      {std::nan(""), "NaN"},
  };
  for (const NumberCase& c : cases)
    EXPECT_EQ(tarvion::serve::metrics::formatNumber(c.value), c.text) << "value " << c.text;
}

struct WriterCase {
  const char* name;
  std::function<void(Writer&)> write;
  const char* text;
};

TEST(MetricsWriter, Expositions) {
  const WriterCase cases[] = {
      {"a label value escapes backslash, quote and newline; HELP escapes backslash and newline only",
       [](Writer& w) {
         w.gauge("x_info", "say \"hi\"\\ to\nall", {{"path", "C:\\a \"b\"\nc"}}, 1);
       },
       "# HELP x_info say \"hi\"\\\\ to\\nall\n"
       "# TYPE x_info gauge\n"
       "x_info{path=\"C:\\\\a \\\"b\\\"\\nc\"} 1\n"},
      {"a family's samples stay together under one HELP and TYPE, in the order families came",
       [](Writer& w) {
         w.counter("c_total", "Calls.", {{"p", "a"}, {"outcome", "done"}}, 3);
         w.gauge("g", "Queue.", {{"p", "a"}}, 0);
         w.counter("c_total", "Calls.", {{"p", "b"}, {"outcome", "done"}}, 4);
       },
       "# HELP c_total Calls.\n"
       "# TYPE c_total counter\n"
       "c_total{p=\"a\",outcome=\"done\"} 3\n"
       "c_total{p=\"b\",outcome=\"done\"} 4\n"
       "# HELP g Queue.\n"
       "# TYPE g gauge\n"
       "g{p=\"a\"} 0\n"},
      {"no labels, no braces", [](Writer& w) { w.gauge("up_seconds", "Up.", {}, 1.5); },
       "# HELP up_seconds Up.\n# TYPE up_seconds gauge\nup_seconds 1.5\n"},
      {"a histogram's buckets count everything at or below their bound, +Inf all of it",
       [](Writer& w) {
         Histogram h({0.1, 1, 10});
         for (double v : {0.05, 0.1, 0.5, 3.0, 200.0}) h.observe(v);
         w.histogram("d_seconds", "Durations.", {{"p", "a"}}, h);
       },
       "# HELP d_seconds Durations.\n"
       "# TYPE d_seconds histogram\n"
       "d_seconds_bucket{p=\"a\",le=\"0.1\"} 2\n"
       "d_seconds_bucket{p=\"a\",le=\"1\"} 3\n"
       "d_seconds_bucket{p=\"a\",le=\"10\"} 4\n"
       "d_seconds_bucket{p=\"a\",le=\"+Inf\"} 5\n"
       "d_seconds_sum{p=\"a\"} 203.65\n"
       "d_seconds_count{p=\"a\"} 5\n"},
      {"an empty histogram still has every bucket, at zero",
       [](Writer& w) {
         w.histogram("e_seconds", "Empty.", {}, Histogram({5, 0.5}));
       },
       "# HELP e_seconds Empty.\n"
       "# TYPE e_seconds histogram\n"
       "e_seconds_bucket{le=\"0.5\"} 0\n"
       "e_seconds_bucket{le=\"5\"} 0\n"
       "e_seconds_bucket{le=\"+Inf\"} 0\n"
       "e_seconds_sum 0\n"
       "e_seconds_count 0\n"},
  };
  for (const WriterCase& c : cases) {
    Writer w;
    c.write(w);
    EXPECT_EQ(w.text(), c.text) << c.name;
  }
}

TEST(MetricsWriter, ProcessFiguresAreThisProcesssOwn) {
  Writer w;
  tarvion::serve::metrics::writeProcess(w);
  const std::string text = w.text();
  auto valueOf = [&](const std::string& name) {
    const size_t at = text.find('\n' + name + ' ');
    EXPECT_NE(at, std::string::npos) << name << " missing in\n" << text;
    return at == std::string::npos ? -1.0 : std::stod(text.substr(at + name.size() + 2));
  };
  // Resident memory of a running test binary is more than a page and less
  // than its virtual size; it started in the last day; stdin/out/err are open.
  EXPECT_GT(valueOf("process_resident_memory_bytes"), 1 << 20);
  EXPECT_LT(valueOf("process_resident_memory_bytes"), valueOf("process_virtual_memory_bytes"));
  const double start = valueOf("process_start_time_seconds");
  const double now = static_cast<double>(std::time(nullptr));
  EXPECT_LE(start, now + 1);
  EXPECT_GT(start, now - 86400);
  EXPECT_GE(valueOf("process_open_fds"), 3);
  EXPECT_GE(valueOf("process_max_fds"), valueOf("process_open_fds"));
  EXPECT_GE(valueOf("process_cpu_seconds_total"), 0);
}

}  // namespace
