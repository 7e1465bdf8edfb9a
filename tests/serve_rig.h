// What the tests of `tarvion serve` share: printers to serve, a worker held
// in the middle of a job, and a sale.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/serve/service.h"

namespace serverig {

using nlohmann::json;
using tarvion::serve::Options;
using tarvion::serve::PrinterConfig;
using tarvion::serve::Reply;
using tarvion::serve::Service;

inline PrinterConfig virtualConfig(const std::string& id, const std::string& state = "",
                                   const std::string& paper = "") {
  PrinterConfig s;
  std::string error;
  std::string text = id + "=1";
  if (!state.empty()) text += ",state=" + state;
  if (!paper.empty()) text += ",paper=" + paper;
  EXPECT_TRUE(tarvion::serve::parseVirtualOption(text, s, error)) << error;
  return s;
}

inline Options optionsFor(std::vector<PrinterConfig> printers, const std::string& journal = "") {
  Options o;
  o.printers = std::move(printers);
  o.journalDir = journal;
  return o;
}

// Waits until the printer's worker has opened it and run everything queued so far.
inline void settle(Service& s, const std::string& id) {
  s.runOnWorker(id, [] {}).get();
}

// Holds a printer's worker in the middle of a job until released, as a long
// command would.
class HeldWorker {
 public:
  HeldWorker(Service& s, const std::string& id) {
    auto started = std::make_shared<std::promise<void>>();
    auto running = started->get_future();
    auto gate = gate_.get_future().share();
    done_ = s.runOnWorker(id, [started, gate] {
      started->set_value();
      gate.wait();
    });
    running.wait();
  }
  ~HeldWorker() { release(); }
  void release() {
    if (released_) return;
    released_ = true;
    gate_.set_value();
    done_.get();
  }
  bool stillHeld() { return done_.wait_for(std::chrono::seconds(0)) != std::future_status::ready; }

 private:
  std::promise<void> gate_;
  std::future<void> done_;
  bool released_ = false;
};

inline json body(const Reply& r) {
  return json::parse(r.body);
}

inline const char* const kSale = R"([
  {"entry": "AbreCupomFiscal"},
  {"entry": "RegistraItemFiscal", "args": ["7891000100103", "CAFE TORRADO 500G", "UN", 18, 2, 10.50, 0]},
  {"entry": "TotalizaCupomDesconto", "args": [0, 0]},
  {"entry": "RegistraPagamento", "args": ["Dinheiro", 21.00]},
  {"entry": "FechaCupomFiscal", "args": ["OBRIGADO", 0]},
  {"entry": "RetornaNumeroCupom", "args": []}
])";

}  // namespace serverig
