// The Epson face of a virtual printer: coded commands in (a two-byte code and
// its extension, FS-separated fields), ACK and a reply out with the printer's
// status and a class/detail return code. Every command is decoded into
// FiscalCore calls and every refusal answered with the code an Epson printer
// gives for it. Serves the Epson rows of the control's model table.
//
// Result fields (from field 4 of the reply):
//   0402 serial number              0507 ECF number, user number
//   0502 (empty), date ddmmyyyy, time hhmmss
//   0542 sixteen tax slots: kind letter, position letter (A = 1), rate x 100
//   0902 payment types (0000), non-fiscal titles (0001), reports (0002)
//   0906 grand total, cancellations, sales, discounts, increases, non-fiscal
//   0907 CRO, COO, CCF, GNF, CDC, GRG, CRZ      0908 last document date, time
//   080A fiscal date, last reduction's movement date, ..., field 15 "S" with the day open
//   0A02 item value, item number
// Status: field 1 bit 0x0400 little paper, 0x0800 no paper; field 2 the open
// document in its low nibble (1 fiscal receipt, 2 linked, 3 non-fiscal, 4 report).
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "emulator/epson/codec.h"
#include "emulator/fiscal_core.h"
#include "emulator/registry.h"
#include "emulator/virtual_printer.h"

namespace tarvion::emulator {

class EpsonPrinter final : public VirtualPrinter {
 private:
  struct Answer {
    int cls = 0, detail = 0;
    std::vector<std::string> results;
  };

 public:
  EpsonPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware);

  // The return code (class << 8 | detail) a refusal of the fiscal half is answered with.
  static int codeOf(FiscalError e);

  // One command the printer knows: its code and extension as one key, the
  // fields it needs at least, and its handler.
  struct Command {
    uint32_t key;
    size_t fields;
    Answer (EpsonPrinter::*run)(const epson::Request& req);
  };
  // The commands in key order; a key without an entry answers an invalid command.
  static std::span<const Command> dispatchTable();

 protected:
  void consume(ByteArray& buf, ReplySink& out) override;

 private:
  Answer execute(const epson::Request& req);
  Answer fail(FiscalError e);
  uint16_t printerStatus();
  uint16_t fiscalStatus();

  Answer accept(const epson::Request& req);
  Answer addPayment(const epson::Request& req);
  Answer addTax(const epson::Request& req);
  Answer addTitle(const epson::Request& req);
  Answer adjust(const epson::Request& req);
  Answer authenticate(const epson::Request& req);
  Answer cancelItem(const epson::Request& req);
  Answer cancelItemAdjustment(const epson::Request& req);
  Answer cancelNonFiscal(const epson::Request& req);
  Answer cancelReceipt(const epson::Request& req);
  Answer closeDocument(const epson::Request& req);
  Answer closeReceipt(const epson::Request& req);
  Answer closingMessage(const epson::Request& req);
  Answer counters(const epson::Request& req);
  Answer customer(const epson::Request& req);
  Answer dateTime(const epson::Request& req);
  Answer daylightSaving(const epson::Request& req);
  Answer drawer(const epson::Request& req);
  Answer drawerState(const epson::Request& req);
  Answer fiscalDay(const epson::Request& req);
  Answer identity(const epson::Request& req);
  Answer lastDocument(const epson::Request& req);
  Answer memoryRead(const epson::Request& req);
  Answer nonFiscalItem(const epson::Request& req);
  Answer nonFiscalPayment(const epson::Request& req);
  Answer openLinked(const epson::Request& req);
  Answer openNonFiscal(const epson::Request& req);
  Answer openReceipt(const epson::Request& req);
  Answer openReport(const epson::Request& req);
  Answer pay(const epson::Request& req);
  Answer readDaylightSaving(const epson::Request& req);
  Answer readTable(const epson::Request& req);
  Answer readTaxes(const epson::Request& req);
  Answer reduction(const epson::Request& req);
  Answer sellItem(const epson::Request& req);
  Answer serial(const epson::Request& req);
  Answer status(const epson::Request& req);
  Answer text(const epson::Request& req);
  Answer totals(const epson::Request& req);
  Answer xReading(const epson::Request& req);

  std::string closingText_;
  std::string customer_[3];
};

namespace epson {
// The virtual models of the Epson rows of the model table.
std::vector<VirtualModel> virtualModels();
}  // namespace epson

}  // namespace tarvion::emulator
