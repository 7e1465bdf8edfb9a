// Serves a printer face on a new pseudo-terminal, so any program that opens a
// serial port (this library's own, a POS application, a terminal program) can
// talk to the virtual printer. The answer leaves at the line speed of the baud
// rate (ten bits per byte), so time on the line is real time.
//
//   auto host = std::make_shared<PtyHost>(face, PtyOptions{"/tmp/ttyECF", 9600});
//   host->start();                 // host->path() is the terminal to open
//   host->runUntil(stopFlag);      // or startThread() ... stop()
//
// POSIX only.
#pragma once

#ifndef _WIN32

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>

#include "emulator/printer_face.h"

namespace tarvion::emulator {

struct PtyOptions {
  std::string linkPath;  // a symbolic link to the terminal, made on start (empty: none)
  uint32_t baud = 9600;  // 0: no pacing
};

class PtyHost {
 public:
  explicit PtyHost(std::shared_ptr<PrinterFace> face, PtyOptions options = {});
  ~PtyHost();
  PtyHost(const PtyHost&) = delete;
  PtyHost& operator=(const PtyHost&) = delete;

  // Creates the terminal (raw mode) and the link. False with a message on failure.
  bool start(std::string* error = nullptr);
  // The terminal's device path ("/dev/pts/N") once started.
  const std::string& path() const { return slavePath_; }
  const std::string& linkPath() const { return opt_.linkPath; }

  // Serves on the calling thread until stop becomes true (checked at least every
  // 100 ms, and at once when a signal interrupts the wait) or stop() is called.
  void runUntil(const std::atomic<bool>& stop);
  // Serves on a thread of its own; stop() ends it.
  void startThread();
  void stop();

  uint64_t bytesIn() const { return in_; }
  uint64_t bytesOut() const { return out_; }

 private:
  class Sink;
  void close();
  std::shared_ptr<PrinterFace> face_;
  PtyOptions opt_;
  int master_ = -1, slaveHold_ = -1;
  int wake_[2] = {-1, -1};
  std::string slavePath_;
  std::deque<std::pair<int64_t, uint8_t>> queue_;    // to the host: (due time in us, byte)
  std::deque<std::pair<int64_t, uint8_t>> inQueue_;  // from the host, until its line time has passed
  int64_t lastDue_ = 0, lastInDue_ = 0;
  bool cut_ = false;
  std::atomic<bool> stopping_{false};
  std::atomic<uint64_t> in_{0}, out_{0};
  std::thread thread_;
};

}  // namespace tarvion::emulator

#endif  // _WIN32
