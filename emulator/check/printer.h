// The virtual check printers: a Perto and a Chronos that answer as the real
// ones do, and an Imprecheq that takes its commands and never answers. Each
// prints its checks and texts on the paper, and keeps its check station (the
// document in the slot, whether its CMC-7 line was read and where it stands,
// the checks printed) in a file beside the state file, so a restarted printer
// still holds the check it held.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "emulator/check/codec.h"
#include "emulator/fiscal_core.h"
#include "emulator/registry.h"
#include "emulator/virtual_printer.h"

namespace tarvion::emulator {

// What a check station holds, across restarts.
struct StationState {
  bool document = false;
  std::string cmc7;         // the 30 digits of the document in the slot
  bool read = false;        // its CMC-7 line was read
  bool positioned = false;  // it stands where the printing starts
  int printed = 0;          // checks printed
  std::string city, payee, date, deposit, info, bank, value;
};

// The check printers' common half: the station and its file.
class CheckPrinter : public VirtualPrinter {
 public:
  CheckPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware);
  StationState station();
  // The file the station is kept in: the state file's name and ".station".
  static std::string stationPath(const std::string& statePath);
  // What the printer took, one entry a command ("B 001"), for the tests.
  std::vector<std::string> commands();

 protected:
  // Runs under the lock: the station as it stands, written when it changed.
  StationState& st();
  void saveStation();
  void noteCommand(const std::string& what);
  // The document in the slot, as the base's station says, into st().
  void syncDocument();
  void printCheck(const std::string& how);

 private:
  void loadStation();
  std::string path_;
  StationState st_;
  std::string saved_;
  std::vector<std::string> commands_;
};

class PertoPrinter final : public CheckPrinter {
 public:
  PertoPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware);

  struct Answer {
    int status = 0;
    std::string data;
  };
  // One command: its byte, the parameter lengths it takes (bounds; outside
  // them it answers 002 before the handler runs) and its handler.
  struct Command {
    uint8_t code;
    size_t minLength, maxLength;
    Answer (PertoPrinter::*run)(const std::string& params);
  };
  // In code order; a byte without an entry answers 001.
  static std::span<const Command> dispatchTable();

  static constexpr int kInvalid = 1, kLength = 2, kNoDocument = 18, kWrongPosition = 97;

 protected:
  void consume(ByteArray& buf, ReplySink& out) override;
  std::string formatCmc7(const std::string& digits) const override;

 private:
  Answer execute(const ByteArray& body);
  Answer read(const std::string&);
  Answer feed(const std::string&);
  Answer print(const std::string& params);
  Answer release(const std::string&);
  Answer city(const std::string& params);
  Answer payee(const std::string& params);
  Answer date(const std::string& params);
  Answer deposit(const std::string& params);
  Answer info(const std::string& params);
  Answer text(const std::string& params);
};

class ChronosPrinter final : public CheckPrinter {
 public:
  ChronosPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware);

  // One command: its byte, whether it takes parameters (closed by CR) and
  // its handler, which answers the fault bits (0 for none).
  struct Command {
    uint8_t code;
    bool parameters;
    uint8_t (ChronosPrinter::*run)(const std::string& params);
  };
  static std::span<const Command> dispatchTable();

  // Bits of the status byte: 2 the printer is ready, 4 a document is in the
  // slot; the others are faults.
  static constexpr uint8_t kReady = 0x04, kDocument = 0x10, kPaperOut = 0x02, kMargin = 0x08, kParity = 0x40;

 protected:
  void consume(ByteArray& buf, ReplySink& out) override;

 private:
  uint8_t status(uint8_t faults);
  uint8_t currency(const std::string& params);
  uint8_t bank(const std::string& params);
  uint8_t value(const std::string& params);
  uint8_t payee(const std::string& params);
  uint8_t city(const std::string& params);
  uint8_t date(const std::string& params);
  uint8_t print(const std::string&);
  std::string currency_;
};

class ImprecheqPrinter final : public CheckPrinter {
 public:
  ImprecheqPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware);

 protected:
  void consume(ByteArray& buf, ReplySink& out) override;
};

namespace checks {
// The check printers of the check table that have a virtual printer, by
// their virtual numbers (checkPrinterNumber in registry.h).
std::vector<VirtualModel> virtualModels();
}  // namespace checks

}  // namespace tarvion::emulator
