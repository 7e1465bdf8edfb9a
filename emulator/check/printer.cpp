#include "emulator/check/printer.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "core/capabilities.h"
#include "core/text.h"
#include "emulator/paper.h"
#include "platform/durable_file.h"

namespace tarvion::emulator {

using Json = nlohmann::ordered_json;

// ---------------------------------------------------------------- the station

CheckPrinter::CheckPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware)
    : VirtualPrinter(std::move(core), name, hardware), path_(stationPath(this->core().statePath())) {
  loadStation();
  if (st_.document) setDocumentInserted(true, st_.cmc7);
}

std::string CheckPrinter::stationPath(const std::string& statePath) {
  return statePath.empty() ? std::string() : statePath + ".station";
}

void CheckPrinter::loadStation() {
  if (path_.empty()) return;
  std::string content;
  bool missing = false;
  if (!platform::readRegularFile(path_, content, nullptr, &missing)) return;
  const Json j = Json::parse(content, nullptr, false);
  if (!j.is_object()) return;  // a torn or foreign file: a fresh station
  auto text = [&](const char* key) { return j.contains(key) && j[key].is_string() ? j[key].get<std::string>() : ""; };
  auto flag = [&](const char* key) { return j.contains(key) && j[key].is_boolean() && j[key].get<bool>(); };
  st_.document = flag("document");
  st_.cmc7 = text("cmc7");
  st_.read = flag("read");
  st_.positioned = flag("positioned");
  st_.printed = j.contains("printed") && j["printed"].is_number_integer() ? j["printed"].get<int>() : 0;
  st_.city = text("city");
  st_.payee = text("payee");
  st_.date = text("date");
  st_.deposit = text("deposit");
  st_.info = text("info");
  st_.bank = text("bank");
  st_.value = text("value");
  saved_ = content;
}

void CheckPrinter::saveStation() {
  if (path_.empty()) return;
  Json j;
  j["document"] = st_.document;
  j["cmc7"] = st_.cmc7;
  j["read"] = st_.read;
  j["positioned"] = st_.positioned;
  j["printed"] = st_.printed;
  j["city"] = text::cp1252ToUtf8(st_.city);
  j["payee"] = text::cp1252ToUtf8(st_.payee);
  j["date"] = st_.date;
  j["deposit"] = text::cp1252ToUtf8(st_.deposit);
  j["info"] = text::cp1252ToUtf8(st_.info);
  j["bank"] = st_.bank;
  j["value"] = st_.value;
  const std::string content = j.dump(2) + "\n";
  if (content == saved_) return;
  if (platform::replaceFile(path_, content)) saved_ = content;
}

StationState CheckPrinter::station() {
  std::lock_guard<std::mutex> lock(mutex());
  return st_;
}

std::vector<std::string> CheckPrinter::commands() {
  std::lock_guard<std::mutex> lock(mutex());
  return commands_;
}

StationState& CheckPrinter::st() {
  return st_;
}

void CheckPrinter::noteCommand(const std::string& what) {
  commands_.push_back(what);
}

void CheckPrinter::syncDocument() {
  const bool in = feedDocument();
  if (in && (!st_.document || st_.cmc7 != cmc7Digits())) {
    st_.read = false;
    st_.positioned = false;
  }
  st_.document = in;
  st_.cmc7 = in ? cmc7Digits() : std::string();
}

void CheckPrinter::printCheck(const std::string& how) {
  if (Paper* p = core().paper()) {
    p->rule('=');
    p->line("CHEQUE " + how);
    if (!st_.payee.empty()) p->line("PAGUE A " + st_.payee);
    if (!st_.city.empty() || !st_.date.empty()) p->line(text::trim(st_.city + " " + st_.date));
    if (!st_.deposit.empty()) p->line(st_.deposit);
    if (!st_.info.empty()) p->line(st_.info);
    p->rule('=');
  }
  ++st_.printed;
  checkPrinted();
  st_.document = documentInSlot();
  if (!st_.document) st_.cmc7.clear();
}

// ---------------------------------------------------------------- Perto

PertoPrinter::PertoPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware)
    : CheckPrinter(std::move(core), name, hardware) {}

std::string PertoPrinter::formatCmc7(const std::string& digits) const {
  return checks::perto::cmc7Text(digits);
}

std::span<const PertoPrinter::Command> PertoPrinter::dispatchTable() {
  using P = PertoPrinter;
  // code, shortest and longest parameters, handler
  static constexpr Command kCommands[] = {
      {'!', 6, 6, &P::date},   {'#', 1, 80, &P::city},    {'%', 1, 120, &P::payee}, {'+', 1, 60, &P::deposit},
      {':', 20, 40, &P::info}, {';', 16, 16, &P::print},  {'=', 0, 0, &P::feed},    {'>', 0, 0, &P::release},
      {'P', 0, 0, &P::read},   {'X', 14, 1200, &P::text},
  };
  static_assert(std::is_sorted(std::begin(kCommands), std::end(kCommands),
                               [](const Command& a, const Command& b) { return a.code < b.code; }));
  return kCommands;
}

void PertoPrinter::consume(ByteArray& buf, ReplySink& out) {
  for (;;) {
    size_t used = 0;
    ByteArray body;
    const checks::perto::Take t = checks::perto::takeFrame(buf, used, body);
    buf.erase(buf.begin(), buf.begin() + static_cast<long>(used));
    if (t == checks::perto::Take::Need) return;
    if (t == checks::perto::Take::Bad) {
      out.send({checks::kNAK}, 0);  // damaged on the way: not run
      continue;
    }
    if (!serve(out, {checks::kNAK}, [&] {
          const Answer a = execute(body);
          saveStation();
          ByteArray reply{checks::kACK};
          const ByteArray frame = checks::perto::answer(a.status, a.data);
          reply.insert(reply.end(), frame.begin(), frame.end());
          return reply;
        }))
      return;
  }
}

PertoPrinter::Answer PertoPrinter::execute(const ByteArray& body) {
  if (body.empty()) return {kLength, {}};
  const std::span<const Command> table = dispatchTable();
  const uint8_t code = body[0];
  const auto at =
      std::lower_bound(table.begin(), table.end(), code, [](const Command& c, uint8_t k) { return c.code < k; });
  const std::string params(body.begin() + 1, body.end());
  noteCommand(std::string(1, static_cast<char>(code)) + (params.empty() ? "" : " " + params));
  if (at == table.end() || at->code != code) return {kInvalid, {}};
  if (params.size() < at->minLength || params.size() > at->maxLength) return {kLength, {}};
  syncDocument();
  return (this->*at->run)(params);
}

PertoPrinter::Answer PertoPrinter::read(const std::string&) {
  if (!st().document) return {kNoDocument, {}};
  st().read = true;
  st().positioned = true;
  return {0, formatCmc7(st().cmc7)};
}

PertoPrinter::Answer PertoPrinter::feed(const std::string&) {
  if (!st().document) return {kNoDocument, {}};
  st().positioned = true;
  return {0, {}};
}

PertoPrinter::Answer PertoPrinter::print(const std::string& params) {
  if (params[0] != 'C' || params.find_first_not_of("0123456789", 1) != std::string::npos) return {kInvalid, {}};
  if (!st().document) return {kNoDocument, {}};
  if (!st().positioned) return {kWrongPosition, {}};
  st().value = params.substr(1, 12);
  st().bank = params.substr(13, 3);
  const long long cents = std::stoll(st().value);
  printCheck(text::format("BANCO %s VALOR %lld,%02lld", st().bank.c_str(), cents / 100, cents % 100));
  st().positioned = false;
  st().read = false;
  return {0, {}};
}

PertoPrinter::Answer PertoPrinter::release(const std::string&) {
  releaseDocument();
  st().document = false;
  st().cmc7.clear();
  st().read = false;
  st().positioned = false;
  return {0, {}};
}

PertoPrinter::Answer PertoPrinter::city(const std::string& params) {
  st().city = text::trimRight(params);
  return {0, {}};
}

PertoPrinter::Answer PertoPrinter::payee(const std::string& params) {
  st().payee = text::trimRight(params);
  return {0, {}};
}

PertoPrinter::Answer PertoPrinter::date(const std::string& params) {
  if (params.find_first_not_of("0123456789") != std::string::npos) return {kInvalid, {}};
  st().date = params.substr(0, 2) + "/" + params.substr(2, 2) + "/" + params.substr(4, 2);
  return {0, {}};
}

PertoPrinter::Answer PertoPrinter::deposit(const std::string& params) {
  st().deposit = params;
  return {0, {}};
}

PertoPrinter::Answer PertoPrinter::info(const std::string& params) {
  st().info = text::trimRight(params);
  return {0, {}};
}

PertoPrinter::Answer PertoPrinter::text(const std::string& params) {
  // Exactly fourteen lines, each closed by 0xFF.
  if (std::count(params.begin(), params.end(), '\xFF') != 14 || params.back() != '\xFF') return {kLength, {}};
  Paper* p = core().paper();
  size_t start = 0;
  for (int i = 0; i < 14; ++i) {
    const size_t end = params.find('\xFF', start);
    if (p) p->line(params.substr(start, end - start));
    start = end + 1;
  }
  return {0, {}};
}

// ---------------------------------------------------------------- Chronos

ChronosPrinter::ChronosPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware)
    : CheckPrinter(std::move(core), name, hardware) {}

std::span<const ChronosPrinter::Command> ChronosPrinter::dispatchTable() {
  using P = ChronosPrinter;
  static constexpr Command kCommands[] = {
      {'M', true, &P::currency}, {0xA2, true, &P::bank}, {0xA3, true, &P::value},  {0xA6, true, &P::payee},
      {0xA7, true, &P::city},    {0xA8, true, &P::date}, {0xB0, false, &P::print},
  };
  static_assert(std::is_sorted(std::begin(kCommands), std::end(kCommands),
                               [](const Command& a, const Command& b) { return a.code < b.code; }));
  return kCommands;
}

uint8_t ChronosPrinter::status(uint8_t faults) {
  syncDocument();
  uint8_t s = kReady | faults;
  if (st().document) s |= kDocument;
  if (core().paperOut()) s |= kPaperOut;
  return s;
}

void ChronosPrinter::consume(ByteArray& buf, ReplySink& out) {
  for (;;) {
    size_t used = 0;
    uint8_t code = 0;
    std::string params;
    bool hasCr = false;
    const checks::chronos::Take t = checks::chronos::take(buf, used, code, params, hasCr);
    if (t == checks::chronos::Take::Need) {
      // A line of text that never ends is printed as it stands.
      if (!buf.empty() && buf[0] != checks::kESC && buf.size() > 1024) {
        if (Paper* p = core().paper()) p->line(std::string(buf.begin(), buf.end()));
        buf.clear();
      }
      return;
    }
    buf.erase(buf.begin(), buf.begin() + static_cast<long>(used));
    if (t == checks::chronos::Take::Text) {
      // Text is printed and never answered.
      noteCommand("text " + params);
      if (Paper* p = core().paper()) p->line(params);
      continue;
    }
    if (!serve(out, {static_cast<uint8_t>(kReady | kParity)}, [&] {
          const std::span<const Command> table = dispatchTable();
          const auto at = std::lower_bound(table.begin(), table.end(), code,
                                           [](const Command& c, uint8_t k) { return c.code < k; });
          noteCommand(text::format("%02X", code) + (params.empty() ? "" : " " + params));
          uint8_t faults = kParity;  // a code it does not know, or parameters not closed as they must be
          if (at != table.end() && at->code == code && at->parameters == hasCr) {
            syncDocument();
            faults = (this->*at->run)(params);
          }
          const uint8_t s = status(faults);
          saveStation();
          return ByteArray{s};
        }))
      return;
  }
}

uint8_t ChronosPrinter::currency(const std::string& params) {
  currency_ = params;
  return 0;
}

uint8_t ChronosPrinter::bank(const std::string& params) {
  st().bank = params;
  return 0;
}

uint8_t ChronosPrinter::value(const std::string& params) {
  // "%14.2f" with a decimal comma.
  if (params.size() != 14 || params[11] != ',') return kParity;
  st().value = text::trim(params);
  return 0;
}

uint8_t ChronosPrinter::payee(const std::string& params) {
  st().payee = params;
  return 0;
}

uint8_t ChronosPrinter::city(const std::string& params) {
  st().city = params;
  return 0;
}

uint8_t ChronosPrinter::date(const std::string& params) {
  st().date = params;
  return 0;
}

uint8_t ChronosPrinter::print(const std::string&) {
  if (!st().document) return kMargin;  // nothing under the print head
  if (core().paperOut()) return 0;     // the status says it
  printCheck("BANCO " + st().bank + " VALOR " + st().value);
  return 0;
}

// ---------------------------------------------------------------- Imprecheq

ImprecheqPrinter::ImprecheqPrinter(std::shared_ptr<FiscalCore> core, const std::string& name, Hardware hardware)
    : CheckPrinter(std::move(core), name, hardware) {}

void ImprecheqPrinter::consume(ByteArray& buf, ReplySink& out) {
  for (;;) {
    size_t used = 0;
    std::string code, params;
    const checks::imprecheq::Take t = checks::imprecheq::take(buf, used, code, params);
    if (t == checks::imprecheq::Take::Need) return;
    buf.erase(buf.begin(), buf.begin() + static_cast<long>(used));
    if (t == checks::imprecheq::Take::Noise) continue;
    // No answer ever: the faults can only swallow a command or cut the line.
    if (!serve(out, {}, [&] {
          noteCommand(code + " " + params);
          syncDocument();
          if (code == "B") st().bank = params;
          if (code == "F") st().payee = params;
          if (code == "C") st().city = params;
          if (code == "D") st().date = params;
          if (code == "V") {
            st().value = params;
            printCheck("BANCO " + st().bank + " VALOR " + params);
          }
          if (code == "S0")
            if (Paper* p = core().paper()) {
              size_t start = 0;
              while (start < params.size()) {
                size_t lf = params.find('\n', start);
                if (lf == std::string::npos) lf = params.size();
                p->line(params.substr(start, lf - start));
                start = lf + 1;
              }
            }
          saveStation();
          return ByteArray{};
        }))
      return;
  }
}

// ---------------------------------------------------------------- the models

std::vector<VirtualModel> checks::virtualModels() {
  std::vector<VirtualModel> rows;
  for (const caps::ModelRow& r : caps::checkModels()) {
    if (r.family != caps::Family::CheckPrinter || std::string(r.driverClass) == "CPertoPay") continue;
    const Hardware hw{r.columns ? r.columns : 40, true};
    rows.push_back({checkPrinterNumber(r.number), r.name, hw,
                    [](int number, std::shared_ptr<FiscalCore> core) -> std::shared_ptr<VirtualPrinter> {
                      const caps::ModelRow* row = virtualModelRow(number);
                      if (!row || row->family != caps::Family::CheckPrinter) return nullptr;
                      const Hardware hw{row->columns ? row->columns : 40, true};
                      const std::string cls = row->driverClass;
                      if (cls == "CChronos") return std::make_shared<ChronosPrinter>(std::move(core), row->name, hw);
                      if (cls == "CImprecheq")
                        return std::make_shared<ImprecheqPrinter>(std::move(core), row->name, hw);
                      return std::make_shared<PertoPrinter>(std::move(core), row->name, hw);
                    }});
  }
  // The Perto first: the family's probes and fuzz frames speak its protocol.
  std::stable_partition(rows.begin(), rows.end(), [](const VirtualModel& m) { return m.name == "PERTOCHECK"; });
  return rows;
}

}  // namespace tarvion::emulator
