// A virtual printer's face that keeps how long the printer itself spends on
// what it receives, so a bench can tell the driver's dead time from the
// printer's work and the line's bytes.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "emulator/printer_face.h"

class TimedFace final : public tarvion::emulator::PrinterFace {
 public:
  explicit TimedFace(std::shared_ptr<tarvion::emulator::PrinterFace> inner) : inner_(std::move(inner)) {}
  void receive(const uint8_t* data, size_t n, tarvion::emulator::ReplySink& out) override {
    const auto t0 = std::chrono::steady_clock::now();
    inner_->receive(data, n, out);
    busyNs += std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0).count();
  }
  void lineOpened() override { inner_->lineOpened(); }
  void lineClosed() override { inner_->lineClosed(); }
  std::string modelName() const override { return inner_->modelName(); }
  std::atomic<int64_t> busyNs{0};

 private:
  std::shared_ptr<tarvion::emulator::PrinterFace> inner_;
};
