// The Bematech face of a virtual printer: frames in (STX, length, prefix,
// command, parameters, checksum), ACK and the reply out, every command decoded
// into FiscalCore calls and every refusal encoded as the ST1/ST2 bits (and, with
// the FS prefix, the ST3 code) a real printer of the family sets.
//
// Replies follow the layout contract of drivers/bematech/bematech_protocol.h.
// Where the driver leaves a layout open, this printer answers as follows (data
// bytes, before ST1 ST2 [ST3]):
//
//   35/0    serial number, 20 characters padded with spaces
//   35/17   3 bytes; byte 0: 0x01 fiscal receipt open, 0x04 daylight saving,
//           0x08 day closed by its Z, 0x20 Z pending; byte 1: 0x01 linked
//           receipt open, 0x02 management report open, 0x04 non-fiscal receipt
//           open; byte 2: 0x01 fiscal receipt open
//   35/27   fiscal start date (3 BCD, DDMMYY), then 16 x 7 BCD: the day's net
//           total per tax position
//   35/32   byte 0 the number of payment types; 50 names of 16 bytes from byte 1
//           (unused ones blank); bytes 801-832 zero; from byte 833, 50 x 10 BCD:
//           the day's amount per type in ten-thousandths
//   35/33   one 31-byte record per non-fiscal totaliser: byte 0 its number (BCD,
//           01 SANGRIA, 02 SUPRIMENTO, 03...), bytes 1-10 the day's amount
//           (10 BCD, cents), byte 11 the day's count (BCD, up to 99), bytes
//           12-30 the title (19 bytes, blank padded)
//   35/40   serial number, 20 characters
//   35/41   firmware, 3 BCD
//   35/49   20 payment names of 16 bytes, then 20 x 7 BCD amounts (cents)
//   35/52, 35/54, 35/55   linked receipts (2 BCD), management reports (3 BCD),
//           fiscal receipts (3 BCD) counters
//   35/60   maker (15), model (20), type (7), blank padded
//   35/64   date and time of the last document, 6 BCD
//   26      byte 0 the number of rates, then 16 x 2 BCD (rate x 100)
//   27      16 x 7 BCD per tax position, then 7 BCD each for FF, II, NN, SF,
//           SI, SN (the day's net totals)
//   30      the operation counter (COO), 3 BCD
//   62/'0'  document sensor byte: 0x64 with a document in the slot (0x49 on
//           the MP-7000), 0 without
//   62/55   296 bytes: byte 0 is 1 once the day has movement, the day's initial
//           grand total (9 BCD) from byte 1, the day's initial COO (3 BCD) from
//           byte 284
//   71      the new payment's index as two ASCII digits ("03")
//   88      200 bytes: the day's initial COO (3 BCD) from byte 5, the day's
//           initial grand total (9 BCD) from byte 150
//   69, 8 r/R   ST1 ST2, the report text (lines ended by CR LF), ST1 ST2 [ST3]
//
// Commands and their parameters as decoded:
//   0 [customer]; 5 [DDMMYYhhmmss]; 6; 7 rate(4) [kind: 0 ICMS, 1 ISS];
//   8 first(6) last(6) i|I|r|R, first and last DDMMYY dates, or reduction
//     counters when they begin with "00"; 14; 16 [text]; 18 (toggles daylight
//   saving); 19; 20 [text]; 21; 22 [pulse]; 23; 25 title(2) value(14) [payment(16)],
//   titles "SA", "SU", "#1", "#2" or a number NN addressing the totaliser NN + 2
//   in table order (FS models also take "29" and "30" for SA and SU);
//   26; 27; 30; 31 item(4); 32 a|d|A|D amount(14) (upper case: percent x 100);
//   34 [message]; 35/sub; 40 number(2) title(19); 62/'0', 62/55, 62/'K' (cut),
//   62/'@' identification; 63 (the ten item fields); 66 payment(16) [value(14)]
//   [coo(6)]; 67 text; 69; 71 name(16); 72 index(2) value(14) [text];
//   73 names(16 each); 88.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "drivers/bematech/bematech_protocol.h"
#include "emulator/fiscal_core.h"
#include "emulator/printer_face.h"

namespace tarvion::emulator {

struct BematechModel {
  int number = 1;  // the model number of the control's table
  std::string name = "BEMATECH MP-20 FI II ECF-IF";
  uint8_t prefix = bematech::kESC;
  int columns = 48;
  bematech::St3Table table = bematech::St3Table::Full;
  bool mp7000 = false;  // its own document sensor bits

  // The Bematech protocol models: 1-10 and 26 (IBM 4610 SureMark). False otherwise.
  static bool byNumber(int number, BematechModel& out);
};

class BematechPrinter final : public PrinterFace {
 public:
  BematechPrinter(std::shared_ptr<FiscalCore> core, const BematechModel& model);

  void receive(const uint8_t* data, size_t n, ReplySink& out) override;
  void lineClosed() override;
  std::string modelName() const override { return model_.name; }

  const BematechModel& model() const { return model_; }
  FiscalCore& core() { return *core_; }
  std::shared_ptr<FiscalCore> sharedCore() { return core_; }
  // Held while a command runs: take it to touch the core from another thread
  // while the printer serves a terminal.
  std::mutex& mutex() { return mu_; }

  // The printer's hardware around the fiscal half.
  void setDocumentInserted(bool v);
  bool documentInserted() const;
  bool drawerOpen() const;
  void setDrawerOpen(bool v);
  // The drawer closes by itself this long after it opened (line time; 0 never).
  void setDrawerAutoCloseMs(uint32_t ms);
  const std::string& identification() const { return identification_; }

  // Complete frames taken, whatever became of them.
  int framesReceived() const;

  // One command as the printer runs it: the body is the command, sub-code and
  // parameters (after the prefix). The result is the reply after the ACK.
  ByteArray execute(uint8_t prefix, const ByteArray& body);

  // The extended status code of the model for a code of the full table.
  uint16_t st3For(uint16_t fullCode) const;

 private:
  struct Outcome;
  Outcome run(uint8_t prefix, const ByteArray& body);
  Outcome refuse(FiscalError e) const;
  ByteArray status(uint8_t st1, uint8_t st2, uint16_t st3) const;
  ByteArray read35(uint8_t sub, Outcome& o);
  std::string printerText(const ByteArray& p, size_t from) const;
  int titleFor(const std::string& code) const;

  std::shared_ptr<FiscalCore> core_;
  BematechModel model_;
  mutable std::mutex mu_;
  ByteArray buf_;
  int64_t lastRxUs_ = 0;
  int frames_ = 0;
  bool document_ = false;
  bool drawer_ = false;
  int64_t drawerOpenedUs_ = 0;
  uint32_t drawerAutoCloseMs_ = 5000;
  int64_t nowUs_ = 0;
  std::string identification_;
};

// A ready printer of a model number: its fiscal state kept in statePath and its
// paper appended to paperPath (either empty: kept in memory). Null with a
// message for a model outside the family or a state file that cannot be read.
std::shared_ptr<BematechPrinter> makeBematechPrinter(int model, const std::string& statePath,
                                                     const std::string& paperPath, std::string* error = nullptr);

}  // namespace tarvion::emulator
