// A face that sits between the wire and a virtual printer and keeps every byte
// each way, for tests that check what crossed the line.
#pragma once

#include <memory>
#include <string>

#include "emulator/printer_face.h"

namespace testsupport {

class Tap final : public tarvion::emulator::PrinterFace {
 public:
  explicit Tap(std::shared_ptr<tarvion::emulator::PrinterFace> inner) : inner_(std::move(inner)) {}
  void receive(const uint8_t* data, size_t n, tarvion::emulator::ReplySink& out) override {
    in.insert(in.end(), data, data + n);
    Recorder rec(out, this->out);
    inner_->receive(data, n, rec);
  }
  void lineOpened() override { inner_->lineOpened(); }
  void lineClosed() override { inner_->lineClosed(); }
  std::string modelName() const override { return inner_->modelName(); }
  void clear() {
    in.clear();
    out.clear();
  }
  tarvion::ByteArray in, out;

 private:
  struct Recorder final : tarvion::emulator::ReplySink {
    Recorder(ReplySink& s, tarvion::ByteArray& k) : sink(s), kept(k) {}
    void send(const tarvion::ByteArray& bytes, uint32_t delayMs) override {
      kept.insert(kept.end(), bytes.begin(), bytes.end());
      sink.send(bytes, delayMs);
    }
    int64_t nowUs() override { return sink.nowUs(); }
    void hangUp() override { sink.hangUp(); }
    ReplySink& sink;
    tarvion::ByteArray& kept;
  };
  std::shared_ptr<tarvion::emulator::PrinterFace> inner_;
};

}  // namespace testsupport
