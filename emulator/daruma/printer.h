// The Daruma faces of a virtual printer. DarumaFS600Printer serves the FS600
// and Mach models (FS600, FS700, FS2100T, MACH 1, MACH 2): framed commands,
// register reads, and the three-digit error codes for every refusal.
// DarumaClassicPrinter serves the FS-345: ESC commands and ":Edd" refusals.
// Both decode their commands into FiscalCore calls, and answer each refusal of
// the fiscal half with the code a real printer gives.
//
// Table numbers on the line count from 1: tax positions 01..16 (the classic
// item takes the position as one character, 0-9 then A-F), payment types
// 01..20, non-fiscal titles 01..20 (the classic accumulator byte is "A" for the
// first), reports 01..20.
//
// With noise set (setNoise), every reply is preceded by that many bytes of
// line noise that hold no ':' and no CR, as a line with a chatty peripheral
// delivers them; the environment variable TARVION_DARUMA_NOISE gives the
// count to the printers that `tarvion emulate` and the shell make.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "emulator/daruma/codec.h"
#include "emulator/fiscal_core.h"
#include "emulator/registry.h"
#include "emulator/virtual_printer.h"

namespace tarvion::emulator {

// What both faces share: the noise before a reply.
class DarumaFace : public VirtualPrinter {
 public:
  using VirtualPrinter::VirtualPrinter;
  void setNoise(size_t bytes);
  size_t noise() const;

 protected:
  // The reply with the noise before it.
  ByteArray withNoise(ByteArray reply);

 private:
  size_t noise_ = 0;
  uint32_t noiseSeed_ = 1;
};

class DarumaFS600Printer final : public DarumaFace {
 public:
  DarumaFS600Printer(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware);

  // The error code a refusal of the fiscal half is answered with.
  static int codeOf(FiscalError e);

  // One command: its letter and code byte, the fixed parameter bytes and the
  // 0xFF-ended texts after them it cannot do without (fewer answer 051 before
  // the handler runs), and its handler.
  struct Command {
    uint16_t key = 0;  // letter << 8 | code byte
    uint8_t fixed = 0, texts = 0;
    int (DarumaFS600Printer::*run)(const daruma::Request& req) = nullptr;
  };
  // The commands in key order; a key without an entry answers 014.
  static std::span<const Command> dispatchTable();

  // One register: its number and the function that writes its value.
  struct Register {
    int number = 0;
    std::string (DarumaFS600Printer::*value)() = nullptr;
  };
  static std::span<const Register> registers();

  // Quantity and unit-price decimals the printer is set up with (register 139).
  static constexpr int kQuantityDecimals = 2, kPriceDecimals = 2;

 protected:
  void consume(ByteArray& buf, ReplySink& out) override;

 private:
  ByteArray execute(const daruma::Request& req);
  int fail(FiscalError e) { return codeOf(e); }
  // The fixed fields and the texts of a request, as the table checked them.
  std::string fixedPart(const daruma::Request& req, size_t at, size_t n) const;
  std::vector<std::string> textsOf(const daruma::Request& req);

  // Command handlers (the error code, 0 for success).
  int openReceipt(const daruma::Request& req);
  int sellItem(const daruma::Request& req);
  int adjustItem(const daruma::Request& req);
  int cancelItem(const daruma::Request& req);
  int cancelAdjustment(const daruma::Request& req);
  int totalize(const daruma::Request& req);
  int pay(const daruma::Request& req);
  int closeReceipt(const daruma::Request& req);
  int cancelFiscal(const daruma::Request& req);
  int openLinked(const daruma::Request& req);
  int closeLinked(const daruma::Request& req);
  int openNonFiscal(const daruma::Request& req);
  int nonFiscalItem(const daruma::Request& req);
  int totalizeNonFiscal(const daruma::Request& req);
  int closeNonFiscal(const daruma::Request& req);
  int withdrawal(const daruma::Request& req);
  int cancelNonFiscal(const daruma::Request& req);
  int openReport(const daruma::Request& req);
  int closeReport(const daruma::Request& req);
  int memoryRead(const daruma::Request& req);
  int reducaoZ(const daruma::Request& req);
  int supply(const daruma::Request& req);
  int leituraX(const daruma::Request& req);
  int daylightSaving(const daruma::Request& req);
  int defineTitle(const daruma::Request& req);
  int pafLines(const daruma::Request& req);
  int cutPaper(const daruma::Request& req);
  int drawer(const daruma::Request& req);
  int titleReceipt(const char* title, const daruma::Request& req);

  // Register values.
  std::string grandTotal();
  std::string grossSale();
  std::string paymentValues();
  std::string nonFiscalTotal();
  std::string discounts();
  std::string increases();
  std::string cancellations();
  std::string issCancellations();
  std::string restarts();
  std::string reductions();
  std::string operations();
  std::string nonFiscalCount();
  std::string fiscalReceipts();
  std::string reportCount();
  std::string linkedCount();
  std::string documentKind();
  std::string receiptState();
  std::string lastItem();
  std::string clock();
  std::string fiscalDate();
  std::string lastDocument();
  std::string serial();
  std::string type();
  std::string mark();
  std::string model();
  std::string columns();
  std::string firmware();
  std::string firmwareDate();
  std::string user();
  std::string userNumber();
  std::string printerNumber();
  std::string daylight();
  std::string issDiscount();
  std::string extraCopy();
  std::string taxes();
  std::string paymentNames();
  std::string titleNames();
  std::string reportNames();
  std::string pafText();
  std::string lastReduction();
  std::string decimals();
  std::string pendingZ();
};

class DarumaClassicPrinter final : public DarumaFace {
 public:
  DarumaClassicPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware);

  // The error code a refusal of the fiscal half is answered with.
  static int codeOf(FiscalError e);

  // One command: its byte and its handler, which gives the reply's data or
  // sets `refusal`. The frame's length comes from daruma::classicShape.
  struct Answer {
    int refusal = -1;  // -1: success
    std::string data;
  };
  struct Command {
    uint8_t code = 0;
    Answer (DarumaClassicPrinter::*run)(const daruma::Request& req) = nullptr;
  };
  static std::span<const Command> dispatchTable();

  // The header line of the users in a fiscal-memory read sent back as text.
  static constexpr const char* kUserHeader = "  Data    Hora          Venda Bruta    CRO   CRZ";

 protected:
  void consume(ByteArray& buf, ReplySink& out) override;

 private:
  Answer execute(const daruma::Request& req);
  Answer fail(FiscalError e);

  Answer openReceipt(const daruma::Request& req);
  Answer cancelItem(const daruma::Request& req);
  Answer cancelReceipt(const daruma::Request& req);
  Answer leituraX(const daruma::Request& req);
  Answer reducaoZ(const daruma::Request& req);
  Answer memoryRead(const daruma::Request& req);
  Answer openReport(const daruma::Request& req);
  Answer closeDocument(const daruma::Request& req);
  Answer reportText(const daruma::Request& req);
  Answer nonFiscal(const daruma::Request& req);
  Answer definePayment(const daruma::Request& req);
  Answer openLinked(const daruma::Request& req);
  Answer defineTax(const daruma::Request& req);
  Answer defineTitle(const daruma::Request& req);
  Answer daylightOver(const daruma::Request& req);
  Answer daylightRead(const daruma::Request& req);
  Answer clockRead(const daruma::Request& req);
  Answer taxRead(const daruma::Request& req);
  Answer identityRead(const daruma::Request& req);
  Answer paymentRead(const daruma::Request& req);
  Answer receiptRead(const daruma::Request& req);
  Answer totalsRead(const daruma::Request& req);
  Answer totalize(const daruma::Request& req);
  Answer pay(const daruma::Request& req);
  Answer closeReceipt(const daruma::Request& req);
  Answer titleRead(const daruma::Request& req);
  Answer sellItem(const daruma::Request& req);
  Answer fiscalRead(const daruma::Request& req);
  Answer paperRead(const daruma::Request& req);
  Answer drawer(const daruma::Request& req);
  Answer display(const daruma::Request& req);
};

namespace daruma {
// The virtual models of the Daruma rows of the fiscal table (11 to 18).
std::vector<VirtualModel> virtualModels();
}  // namespace daruma

}  // namespace tarvion::emulator
