// The face of a virtual Schalter ECF-IF printer: ESC 'f' commands of fixed
// width answered by their status byte (and the reads by their fields at fixed
// places), ESC 'n' lines printed into the open document. A wrong check byte
// is answered 1, a code the printer lacks 107, and every refusal of the
// fiscal half by the code a real printer gives.
//
// Reads (offsets from the status byte):
//   DF  5: 1 while a fiscal receipt is open; 6: 2 paper near its end, else 8
//       with the drawer closed, 0 open
//   E0  3: printer number (4 digits); 8: COO (6); 16: ddmmyyhhmmss
//   E1  1: index; 3: 'T' and from 4 the rate "18,00", or 'N'
//   E2  1: index; 3: 'S', 5: name (20), 26: the day's amount (15, decimal comma)
//   E3  1: index; 3: 'S', 4: title (20)
//   E4  35: serial number (9)
//   E5  229: grand total (21, decimal comma)
//   E7  3: 'N' (no linked receipt is ever left pending here)
//   12  1, 22, 43, 64: the day's gross, cancellations, discounts, increases (21 each)
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "emulator/fiscal_core.h"
#include "emulator/registry.h"
#include "emulator/schalter/codec.h"
#include "emulator/virtual_printer.h"

namespace tarvion::emulator {

class SchalterPrinter final : public VirtualPrinter {
 public:
  struct Answer {
    uint8_t status = 0;
    std::string fields;
  };
  // One command the printer knows: its code and its handler. Parameters are
  // always whole: their width comes from the code (codec.h).
  struct Command {
    uint8_t code = 0;
    Answer (SchalterPrinter::*run)(const std::string& p) = nullptr;
  };
  // In code order; a code without an entry answers 107.
  static std::span<const Command> dispatchTable();
  static uint8_t statusOf(FiscalError e);

  static constexpr uint8_t kBadCheck = 1, kNotReceived = 2, kUnknownCommand = 107, kWrongParameter = 136,
                           kOutOfSequence = 126;

  SchalterPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware);

 protected:
  void consume(ByteArray& buf, ReplySink& out) override;

 private:
  Answer execute(const schalter::Request& req);
  Answer fail(FiscalError e) const;
  Answer printLine(const std::string& text);

  Answer openReceipt(const std::string& p);
  Answer cancelOpen(const std::string& p);
  Answer closeDocument(const std::string& p);
  Answer openReport(const std::string& p);
  Answer totals(const std::string& p);
  Answer reducaoZ(const std::string& p);
  Answer leituraX(const std::string& p);
  Answer memoryRead(const std::string& p);
  Answer daylightSaving(const std::string& p);
  Answer addTitle(const std::string& p);
  Answer authenticate(const std::string& p);
  Answer sellItem(const std::string& p);
  Answer subtotal(const std::string& p);
  Answer itemDiscount(const std::string& p);
  Answer cancelItem(const std::string& p);
  Answer pay(const std::string& p);
  Answer nonFiscalValue(const std::string& p);
  Answer adjustReceipt(const std::string& p);
  Answer openNonFiscal(const std::string& p);
  Answer openLinked(const std::string& p);
  Answer state(const std::string& p);
  Answer counters(const std::string& p);
  Answer readTax(const std::string& p);
  Answer readPayment(const std::string& p);
  Answer readTitle(const std::string& p);
  Answer identity(const std::string& p);
  Answer grandTotal(const std::string& p);
  Answer pending(const std::string& p);
  Answer drawer(const std::string& p);

  bool subtotalAsked_ = false;
  std::string message_;  // the closing message's lines so far
};

namespace schalter {
std::vector<VirtualModel> virtualModels();
}  // namespace schalter

}  // namespace tarvion::emulator
