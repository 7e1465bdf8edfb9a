// The Sweda faces of a virtual printer. The ST face acknowledges each frame,
// refuses a frame with a bad sum with NAK, answers a repeated sequence byte
// with the reply it already gave (the command is not run again), sends '!'
// replies while it prints, sends a long report as '!' parts and a last '+'
// part, and answers 193 for a frame that arrived damaged. The classic face
// answers ".+" or an error code with its text, reports in parts on "++", and
// says it is busy on the status request while it prints.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/fiscal_core.h"
#include "emulator/registry.h"
#include "emulator/sweda/codec.h"
#include "emulator/virtual_printer.h"

namespace tarvion::emulator {

class SwedaSTPrinter final : public VirtualPrinter {
 public:
  struct Answer {
    char status = '+';
    int code = 0;
    std::vector<std::string> fields;
    bool printing = false;  // '!' while the paper moves
    std::string report;     // a long report sent back in parts
  };
  struct Command {
    std::string_view code;
    size_t minParams = 0;
    Answer (SwedaSTPrinter::*run)(const sweda::StRequest& req) = nullptr;
  };

  SwedaSTPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware);
  static int codeOf(FiscalError e);
  static std::span<const Command> dispatchTable();
  // The next n frames are answered with the code of a damaged transmission.
  void failTransmissions(int n);
  void lineClosed() override;

 protected:
  void consume(ByteArray& buf, ReplySink& out) override;

 private:
  Answer execute(const sweda::StRequest& req);
  Answer fail(FiscalError e);
  ByteArray answerBytes(const sweda::StRequest& req, const Answer& a);

  Answer openReceipt(const sweda::StRequest& req);
  Answer sellItem(const sweda::StRequest& req);
  Answer itemDiscount(const sweda::StRequest& req);
  Answer cancelItem(const sweda::StRequest& req);
  Answer pay(const sweda::StRequest& req);
  Answer closeDocument(const sweda::StRequest& req);
  Answer cancelReceipt(const sweda::StRequest& req);
  Answer drawer(const sweda::StRequest& req);
  Answer customer(const sweda::StRequest& req);
  Answer leituraX(const sweda::StRequest& req);
  Answer reducaoZ(const sweda::StRequest& req);
  Answer memoryByReduction(const sweda::StRequest& req);
  Answer memoryByDate(const sweda::StRequest& req);
  Answer nonFiscal(const sweda::StRequest& req);
  Answer printText(const sweda::StRequest& req);
  Answer accept(const sweda::StRequest& req);
  Answer addTax(const sweda::StRequest& req);
  Answer readRegister(const sweda::StRequest& req);
  Answer daylightSaving(const sweda::StRequest& req);
  Answer addPayment(const sweda::StRequest& req);
  Answer addTitle(const sweda::StRequest& req);
  Answer addReport(const sweda::StRequest& req);
  Answer openReport(const sweda::StRequest& req);
  Answer operations(const sweda::StRequest& req);
  Answer openLinked(const sweda::StRequest& req);
  Answer increase(const sweda::StRequest& req);
  Answer discount(const sweda::StRequest& req);
  Answer reductionData(const sweda::StRequest& req);
  Answer cancelDiscount(const sweda::StRequest& req);
  Answer readCheck(const sweda::StRequest& req);

  int failTransmissions_ = 0;
  // The last frame run and the reply it got: a frame sent again with the
  // same sequence byte gets that reply and is not run twice.
  ByteArray lastRequest_, lastReply_;
  bool haveLast_ = false;
};

class SwedaClassicPrinter final : public VirtualPrinter {
 public:
  struct Answer {
    int code = 0;  // 0: done
    std::string data;
    bool printing = false;
    std::string report;
  };
  struct Command {
    std::string_view code;
    Answer (SwedaClassicPrinter::*run)(const sweda::ClassicRequest& req) = nullptr;
  };

  SwedaClassicPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware);
  static std::span<const Command> dispatchTable();
  // How long the printer says it is busy after a printed document (line time).
  static constexpr uint32_t kBusyMs = 50;
  static constexpr size_t kPart = 120;

 protected:
  void consume(ByteArray& buf, ReplySink& out) override;

 private:
  Answer execute(const sweda::ClassicRequest& req);
  Answer fail(FiscalError e);
  ByteArray answerBytes(const sweda::ClassicRequest& req, const Answer& a);
  ByteArray status();
  ByteArray nextPart();

  Answer sellItem(const sweda::ClassicRequest& req);
  Answer itemDiscount(const sweda::ClassicRequest& req);
  Answer discount(const sweda::ClassicRequest& req);
  Answer cancelItem(const sweda::ClassicRequest& req);
  Answer cancelReceipt(const sweda::ClassicRequest& req);
  Answer nonFiscal(const sweda::ClassicRequest& req);
  Answer printText(const sweda::ClassicRequest& req);
  Answer pay(const sweda::ClassicRequest& req);
  Answer increase(const sweda::ClassicRequest& req);
  Answer closeDocument(const sweda::ClassicRequest& req);
  Answer reportOrX(const sweda::ClassicRequest& req);
  Answer reducaoZ(const sweda::ClassicRequest& req);
  Answer memoryByReduction(const sweda::ClassicRequest& req);
  Answer memoryByDate(const sweda::ClassicRequest& req);
  Answer openReceipt(const sweda::ClassicRequest& req);
  Answer openLinked(const sweda::ClassicRequest& req);
  Answer drawer(const sweda::ClassicRequest& req);
  Answer accept(const sweda::ClassicRequest& req);
  Answer readRegister(const sweda::ClassicRequest& req);
  Answer readState(const sweda::ClassicRequest& req);
  Answer readTable(const sweda::ClassicRequest& req);
  Answer daylightSaving(const sweda::ClassicRequest& req);
  Answer resetTitles(const sweda::ClassicRequest& req);
  Answer addPayments(const sweda::ClassicRequest& req);
  Answer readCheck(const sweda::ClassicRequest& req);
  Answer checkLayout(const sweda::ClassicRequest& req);
  Answer readAndPrintCheck(const sweda::ClassicRequest& req);

  int64_t busyUntilUs_ = 0;
  std::string pending_;  // report text still to go out in parts
  bool partsOpen_ = false;
};

namespace sweda {
std::vector<VirtualModel> virtualModels();
}  // namespace sweda

}  // namespace tarvion::emulator
