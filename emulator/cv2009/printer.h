// The face of a virtual printer of the 2009 command set: commands in (SOH,
// sequence, code, '|'-closed parameters, check byte), ACK out, the reply kept
// for ENQ (in blocks of codec.h's kBlockData for long reads), DC1 while the
// reports print, NAK with the class and code a real printer gives for each
// refusal of the fiscal half. A command that comes again with the sequence
// number of the last one taken is not run twice: its reply is kept for ENQ.
//
// Reply data (fields closed by '|'; amounts in cents; dates DDMMYYYY, date
// and time DDMMYYYYhhmmss):
//   0001 0008 000A 000C 0010 0012 0017   COO, date and time of the document
//   0002   item number, gross, net
//   0004   the amount still to pay
//   0005   COO, date and time, then per payment: sequence, index (from 1),
//          amount, instalments (1)
//   0014 "1", 0016 r|R, 0067, 0068, 0096   the text in blocks, one field each
//   0015   the date of the reduction
//   001A group|item|:
//     1|0 COO, CRO, CRZ; 1|1 COO; 1|2 GNF; 1|3 CRO; 1|4 CRZ and the record
//     number of the last reduction; 1|5 CCF; 1|8 CDC; 1|9 GRG;
//     3|0 non-fiscal total; 4|0 grand total, gross, cancellations,
//     discounts, increases; 4|1 4|2 4|3 4|4 4|8 the same one by one;
//     5|0 the day's net per tax position; 6|1 the day's substitution,
//     exempt and not taxed nets, ICMS then ISS; 7|0 the day's amount per payment;
//     8|0 state (0 no movement, 1 movement, 2 Z pending, 3 day closed),
//     movement date, initial COO, initial grand total;
//     9|0 date and time, daylight saving (1 or 0);
//     11|0 one field per rate: T or S, position (2 digits), rate x 100 (4);
//     12|0 non-fiscal titles; 13|0 management reports; 14|0 payment types
//     (index = position + 1 in each);
//     15|0 serial, model, firmware; 15|4 serial; 15|5 printer number;
//     15|14 firmware;
//     16|1 drawer closed (1) or open (0); 16|2 paper ok (1) or low (0);
//     16|5 open document: 0 none, 1 fiscal, 2 non-fiscal, 3 linked, 5 report;
//     17|n reduction n: its number, its COO, the date and time it was made;
//     99|3 date, time of the last document; 99|10 ISS discounts;
//     99|105 the key of the last CF-e
// Parameters as decoded: amounts in cents; item quantities as digits and a
// count of decimals; tax codes T01..T16 / S01.. by position, I1 F1 N1 and
// IS1 FS1 NS1 for the fixed totals; 0054 adds a payment (index, name, "1") or,
// with an empty name, a rate (index, "", rate x 100; an index starting with S
// makes it ISS); 0050 turns daylight saving over; 0004 totals the receipt
// first when it is still taking items; 0012 pays what is open in cash.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "emulator/cv2009/codec.h"
#include "emulator/fiscal_core.h"
#include "emulator/registry.h"
#include "emulator/virtual_printer.h"

namespace tarvion::emulator {

struct Cv2009Model {
  int number = 54;
  std::string name;
  int columns = 48;
  // Reads its printed text (customer, closing message, report and linked
  // receipt lines) in code page 850, as its driver writes it.
  bool cp850 = false;
  // The family's models (54, 55 and 56), from the capability rows.
  static std::vector<Cv2009Model> all();
  static bool byNumber(int number, Cv2009Model& out);
};

class Cv2009Printer final : public VirtualPrinter {
 public:
  // How long the reports keep the printer busy (line time).
  static constexpr uint32_t kReportPrintMs = 300;

  Cv2009Printer(std::shared_ptr<FiscalCore> core, const Cv2009Model& model);

  // The status class and code of a refusal.
  struct Status {
    uint8_t statusClass = 0, code = 0;
  };
  Status statusOf(FiscalError e) const;

 private:
  struct Outcome {
    Status status;
    std::string data;     // the reply's fields
    bool blocks = false;  // long text: one field per block
    uint32_t printMs = 0;
  };
  using Params = std::vector<std::string>;

 public:
  // One command the printer knows: its code, the parameters it cannot do
  // without (fewer answer a missing parameter before the handler runs) and its
  // handler.
  struct Command {
    uint16_t code = 0;
    size_t minParams = 0;
    Outcome (Cv2009Printer::*run)(const Params& params) = nullptr;
  };
  // The commands, in code order; a code without an entry answers an invalid
  // command.
  static std::span<const Command> dispatchTable();

 protected:
  void consume(ByteArray& buf, ReplySink& out) override;

 private:
  ByteArray answer(const cv2009::Packet& p, const ByteArray& packet);
  Outcome run(uint16_t code, const Params& params);
  Outcome read(int group, int item);
  Outcome refuse(FiscalError e) const;
  // The reply of a command that did what the fiscal half said (data when done).
  Outcome done(FiscalError e, std::string data = {}) const;
  static Outcome failed(Status s);
  Outcome memoryRead(const Params& p, bool printable);
  // A text parameter the printer prints, in the fiscal half's Windows-1252.
  std::string printed(const std::string& s) const;
  std::string documentFields() const;
  std::string stamp(int64_t seconds) const;

  // The handlers of dispatchTable(), one per command.
  Outcome openReceipt(const Params& p);
  Outcome sellItem(const Params& p);
  Outcome cancelItem(const Params& p);
  Outcome pay(const Params& p);
  Outcome closeReceipt(const Params& p);
  Outcome drawer(const Params& p);
  Outcome cancelLast(const Params& p);
  Outcome openLinked(const Params& p);
  Outcome printLine(const Params& p);
  Outcome closeDocument(const Params& p);
  Outcome acknowledge(const Params& p);
  Outcome openReport(const Params& p);
  Outcome openNonFiscal(const Params& p);
  Outcome nonFiscalItem(const Params& p);
  Outcome closeNonFiscal(const Params& p);
  Outcome leituraX(const Params& p);
  Outcome reducaoZ(const Params& p);
  Outcome memoryReport(const Params& p);
  Outcome memoryText(const Params& p);
  Outcome nonFiscalReceipt(const Params& p);
  Outcome appIdentification(const Params& p);
  Outcome readData(const Params& p);
  Outcome adjustItem(const Params& p);
  Outcome cancelItemAdjustment(const Params& p);
  Outcome totalize(const Params& p);
  Outcome cancelOpen(const Params& p);
  Outcome daylightSaving(const Params& p);
  Outcome program(const Params& p);
  Outcome addTitle(const Params& p);
  Outcome addReport(const Params& p);
  Outcome cfe(const Params& p);

  Cv2009Model model_;
  int lastSequence_ = 0;
  bool haveLast_ = false;
  ByteArray lastCommand_;
  uint16_t lastCode_ = 0;
  std::vector<std::string> blocks_;  // the reply of the last command
  bool pending_ = false;
  int64_t busyUntilUs_ = 0;
};

namespace cv2009 {
std::vector<VirtualModel> virtualModels();
}  // namespace cv2009

}  // namespace tarvion::emulator
