// The half of a virtual printer that is the same for every maker: the fiscal
// core and its paper, the lock a command runs under, the cash drawer, the check
// station, the byte buffer a command gathers in, and the faults applied to each
// command. A family's face derives from it and adds only its framing, its
// command decoding and its status encoding (consume below).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "emulator/fiscal_core.h"
#include "emulator/printer_face.h"

namespace tarvion::emulator {

// What a model has around its fiscal half.
struct Hardware {
  int columns = 48;
  bool checkStation = false;
};

class VirtualPrinter : public PrinterFace {
 public:
  VirtualPrinter(std::shared_ptr<FiscalCore> core, std::string modelName, Hardware hardware);

  // Gathers the bytes and hands them to the face's framing under the lock.
  void receive(const uint8_t* data, size_t n, ReplySink& out) final;
  void lineClosed() override;
  std::string modelName() const override { return name_; }
  const Hardware& hardware() const { return hardware_; }

  FiscalCore& core() { return *core_; }
  std::shared_ptr<FiscalCore> sharedCore() { return core_; }
  // Held while a command runs: take it to touch the core from another thread
  // while the printer serves a line.
  std::mutex& mutex() { return mu_; }
  // What the printer has printed so far (UTF-8), when its paper is kept in
  // memory or in a file of its own.
  std::string printedPaper();

  // The check station: a document put into the slot (or taken out). A check
  // gets the 30 CMC-7 digits given, or made-up ones of its own.
  void setDocumentInserted(bool v, const std::string& cmc7 = {});
  bool documentInserted() const;
  // An operator who feeds a fresh check whenever the station looks for one and
  // takes each printed check away at once.
  void setAutoDocument(bool v);
  bool autoDocument() const;
  // The document as the words of kCheckDocumentVariable say (printers.h):
  // "out", "in" or "auto". False with a message for another word or a model
  // without a check station.
  bool setCheckDocument(const std::string& mode, std::string* error = nullptr);
  // The CMC-7 line of the document in the slot as the face writes it; empty
  // without a document.
  std::string documentCmc7() const;
  int checksPrinted() const;

  bool drawerOpen() const;
  void setDrawerOpen(bool v);
  // The drawer closes by itself this long after it opened (line time; 0 never).
  void setDrawerAutoCloseMs(uint32_t ms);

  // Complete commands taken, whatever became of them.
  int framesReceived() const;
  // Bytes held for a command not yet complete.
  size_t pendingBytes() const;
  // The most a command of any face takes: a 16-bit length and its frame.
  // Held bytes beyond it cannot be one command and are dropped.
  static constexpr size_t kLargestCommand = 0x10000 + 16;

 protected:
  // The family's framing: takes the complete commands from the front of buf
  // and answers each through serve(). Runs under the lock; leaves a partial
  // command in buf for the next bytes.
  virtual void consume(ByteArray& buf, ReplySink& out) = 0;
  // The face's way of writing a CMC-7 line from its 30 digits.
  virtual std::string formatCmc7(const std::string& digits) const { return digits; }

  // One complete command under the faults: `refusal` goes back instead of
  // running it when the faults refuse it, `run` executes it and gives the
  // whole answer. False when the line has been cut: consume stops there.
  bool serve(ReplySink& out, const ByteArray& refusal, const std::function<ByteArray()>& run);

  // The helpers below run under the lock (inside consume).
  int64_t nowUs() const { return nowUs_; }
  // The auto operator's turn; true when a document is in the slot.
  bool feedDocument();
  bool documentInSlot() const { return document_; }
  void releaseDocument() { document_ = false; }
  // A check was printed on the document: the auto operator takes it away.
  void checkPrinted();
  const std::string& cmc7Digits() const { return cmc7_; }
  void openDrawer();
  bool drawerIsOpen() const;

 private:
  std::shared_ptr<FiscalCore> core_;
  std::string name_;
  Hardware hardware_;
  mutable std::mutex mu_;
  ByteArray buf_;
  int64_t lastRxUs_ = 0;
  int64_t nowUs_ = 0;
  int frames_ = 0;
  bool document_ = false;
  bool autoDocument_ = false;
  std::string cmc7_;  // digits of the three groups, 8 + 10 + 12
  int checkSerial_ = 0;
  int checksPrinted_ = 0;
  bool drawer_ = false;
  int64_t drawerOpenedUs_ = 0;
  uint32_t drawerAutoCloseMs_ = 5000;
};

}  // namespace tarvion::emulator
