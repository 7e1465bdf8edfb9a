// `tarvion serve`: request checking, batches, idempotency keys and their
// journal, the printers' queues and the HTTP front over a loopback socket.
#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <future>
#include <nlohmann/json.hpp>

#include "emulator/fiscal_core.h"
#include "emulator/virtual_printer.h"
#include "serve_rig.h"
#include "test_support.h"
#include "tools/serve/gate.h"
#include "tools/serve/http.h"
#include "tools/serve/journal.h"
#include "tools/serve/service.h"

namespace {

using nlohmann::json;
using tarvion::serve::Journal;
using tarvion::serve::JournalRecord;
using tarvion::serve::Options;
using tarvion::serve::PrinterConfig;
using tarvion::serve::Reply;
using tarvion::serve::Service;
using testsupport::countOf;
using testsupport::TempDir;
using namespace serverig;

std::string cooOf(const Reply& r) {
  return body(r)["calls"].back()["out"]["strNumeroCupom"].get<std::string>();
}

class ServeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    service = std::make_unique<Service>(optionsFor({virtualConfig("a"), virtualConfig("b")}));
    ASSERT_TRUE(service->start(error)) << error;
    settle(*service, "a");
    settle(*service, "b");
  }
  std::string paper(const std::string& id) { return service->paper(id).body; }

  TempDir tmp;
  std::unique_ptr<Service> service;
};

// ------------------------------------------------------------------ bad requests

struct BadRequest {
  const char* name;
  const char* printer;
  std::string body;
  std::string key;
  int status;
  const char* says;
};

void PrintTo(const BadRequest& c, std::ostream* os) {
  *os << c.name;
}

class ServeBadRequest : public ServeTest, public ::testing::WithParamInterface<BadRequest> {};

TEST_P(ServeBadRequest, IsRefusedWithJsonAndNeverReachesThePrinter) {
  const BadRequest& c = GetParam();
  const int framesBefore = service->virtualPrinter("a")->framesReceived();
  const Reply r = service->calls(c.printer, c.body, c.key);
  EXPECT_EQ(r.status, c.status) << r.body;
  const json j = body(r);
  ASSERT_TRUE(j.contains("error")) << r.body;
  EXPECT_NE(j["error"].get<std::string>().find(c.says), std::string::npos) << j["error"];
  settle(*service, "a");
  EXPECT_EQ(service->virtualPrinter("a")->framesReceived(), framesBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ServeBadRequest,
    ::testing::Values(
        BadRequest{"NotJson", "a", "{\"entry\": ", "", 400, "not JSON"},
        BadRequest{"UnknownPrinter", "zz", "{\"entry\": \"AbreCupomFiscal\"}", "", 404, "no printer 'zz'"},
        BadRequest{"EmptyList", "a", "[]", "", 422, "1 to"},
        BadRequest{"NotAnObject", "a", "[\"AbreCupomFiscal\"]", "", 422, "a call is an object"},
        BadRequest{"NoEntry", "a", "{\"args\": []}", "", 422, "needs \"entry\""},
        BadRequest{"UnknownEntry", "a", "{\"entry\": \"ImprimeTudo\"}", "", 422, "unknown entry 'ImprimeTudo'"},
        BadRequest{"UnknownMember", "a", "{\"entry\": \"AbreCupomFiscal\", \"arg\": []}", "", 422, "'arg'"},
        BadRequest{"TooManyArgs", "a", "{\"entry\": \"AbreCupomFiscal\", \"args\": [1]}", "", 422, "takes 0 arguments"},
        BadRequest{"TooFewArgs", "a", "{\"entry\": \"RegistraPagamento\", \"args\": [\"Dinheiro\"]}", "", 422,
                   "takes 2 arguments (strPaymentType, nValorPagamento), got 1"},
        BadRequest{"StringForDouble", "a", "{\"entry\": \"RegistraPagamento\", \"args\": [\"Dinheiro\", \"10\"]}", "",
                   422, "argument 2 (nValorPagamento): expected a number"},
        BadRequest{"NumberForString", "a", "{\"entry\": \"RegistraPagamento\", \"args\": [1, 10]}", "", 422,
                   "argument 1 (strPaymentType): expected a string"},
        BadRequest{"FractionForLong", "a", "{\"entry\": \"LeituraMemoriaFiscalReducao\", \"args\": [1.5, 2, false]}",
                   "", 422, "argument 1 (intInicial): expected an integer"},
        BadRequest{"WordForBool", "a", "{\"entry\": \"CashDrawerAttached\", \"set\": \"yes\"}", "", 422,
                   "expected true, false or an integer"},
        BadRequest{"SetReadOnly", "a", "{\"entry\": \"UltimoErro\", \"set\": \"x\"}", "", 422, "read-only"},
        BadRequest{"SetMethod", "a", "{\"entry\": \"AbreCupomFiscal\", \"set\": 1}", "", 422, "is a method"},
        BadRequest{"PortOwnedByService", "a",
                   "{\"entry\": \"InitializeECF\", \"args\": [1, 1, 9600, 0, 8, 1, 0, true, true]}", "", 422,
                   "holds the printer's port"},
        BadRequest{"PauseOwnedByService", "a", "{\"entry\": \"PauseComm\"}", "", 422, "holds the printer's port"},
        BadRequest{"ContinueOwnedByService", "a", "[{\"entry\": \"LeituraX\"}, {\"entry\": \"continuecomm\"}]", "", 422,
                   "call 2: ContinueComm is not available here"},
        BadRequest{"PortSettingsOwnedByService", "a", "{\"entry\": \"SetCommState\"}", "", 422,
                   "holds the printer's port"},
        BadRequest{"BadDate", "a",
                   "{\"entry\": \"LeituraMemoriaFiscalData\", \"args\": [\"2024-13-01\", \"2024-01-02\", true]}", "",
                   422, "not a valid date"},
        BadRequest{"TooLarge", "a", "{\"entry\": \"AbreCupomFiscal\", \"x\": \"" + std::string(300 * 1024, 'x') + "\"}",
                   "", 413, "longer than"},
        BadRequest{"BadKey", "a", "{\"entry\": \"AbreCupomFiscal\"}", "two words", 400, "Idempotency-Key"},
        BadRequest{"ErrorInSecondCall", "a", "[{\"entry\": \"AbreCupomFiscal\"}, {\"entry\": \"Nada\"}]", "", 422,
                   "call 2: unknown entry"}),
    [](const auto& info) { return std::string(info.param.name); });

// ------------------------------------------------------------------ batches

TEST_F(ServeTest, ASaleRunsAsOneBatchWithTheShellsJson) {
  const Reply r = service->calls("a", kSale, "");
  ASSERT_EQ(r.status, 200) << r.body;
  const json j = body(r);
  EXPECT_EQ(j["printer"], "a");
  EXPECT_EQ(j["outcome"], "done") << r.body;
  ASSERT_EQ(j["calls"].size(), 6u);
  EXPECT_EQ(j["calls"][1]["entry"], "RegistraItemFiscal");
  EXPECT_EQ(j["calls"][1]["result"], 1);
  EXPECT_EQ(j["calls"][1]["out"], json::object());
  EXPECT_TRUE(j["calls"][1].contains("UltimoErro"));
  EXPECT_FALSE(cooOf(r).empty());
  EXPECT_EQ(countOf(paper("a"), "CAFE TORRADO 500G"), 1u);
  // The other printer printed nothing.
  EXPECT_EQ(countOf(paper("b"), "CAFE"), 0u);
}

TEST_F(ServeTest, ABatchStopsAtTheFirstCallThatFails) {
  const Reply r = service->calls("a", R"([
    {"entry": "AbreCupomFiscal"},
    {"entry": "RegistraPagamento", "args": ["Dinheiro", 5]},
    {"entry": "RegistraItemFiscal", "args": ["1", "NAO DEVE SAIR", "UN", 18, 1, 1.00, 0]}
  ])",
                                 "");
  const json j = body(r);
  EXPECT_EQ(j["outcome"], "failed") << r.body;
  ASSERT_EQ(j["calls"].size(), 2u);
  EXPECT_EQ(j["calls"][1]["result"], 0);
  EXPECT_FALSE(j["calls"][1]["UltimoErro"].get<std::string>().empty());
  EXPECT_EQ(countOf(paper("a"), "NAO DEVE SAIR"), 0u);
  // The next answer carries only what its own calls left: none here.
  const json next = body(service->calls("a", R"([{"entry": "CancelaCupomFiscal"}, {"entry": "LeituraX"}])", ""));
  ASSERT_EQ(next["outcome"], "done") << next;
  for (const json& call : next["calls"]) EXPECT_EQ(call["UltimoErro"], "") << call;
}

TEST_F(ServeTest, SettingAPropertyAnswersLikeTheShell) {
  const json j = body(service->calls("a", R"({"entry": "CashDrawerAttached", "set": true})", ""));
  ASSERT_EQ(j["calls"].size(), 1u) << j;
  EXPECT_EQ(j["calls"][0]["set"], -1);
  EXPECT_TRUE(j["calls"][0]["result"].is_null());
}

TEST_F(ServeTest, ListsPrintersEntriesAndPaper) {
  const json list = body(service->printers());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]["id"], "a");
  EXPECT_EQ(list[0]["state"], "idle");
  EXPECT_EQ(list[0]["virtual"], true);
  EXPECT_EQ(list[0]["queue"], 0);
  const json entries = body(service->entries());
  EXPECT_TRUE(
      std::any_of(entries.begin(), entries.end(), [](const json& e) { return e["name"] == "AbreCupomFiscal"; }));
  EXPECT_EQ(service->paper("zz").status, 404);
}

// ------------------------------------------------------------------ queues

TEST_F(ServeTest, OnePrinterRunsItsRequestsOneAtATimeInArrivalOrder) {
  HeldWorker held(*service, "a");
  std::vector<std::shared_future<Reply>> answers;
  answers.push_back(service->submitCalls(
      "a",
      R"([{"entry": "AbreCupomFiscal"}, {"entry": "RegistraItemFiscal", "args": ["1", "PRIMEIRO", "UN", 18, 1, 1.0, 0]}])",
      ""));
  for (const char* d : {"SEGUNDO", "TERCEIRO"})
    answers.push_back(service->submitCalls(
        "a", std::string(R"({"entry": "RegistraItemFiscal", "args": ["1", ")") + d + R"(", "UN", 18, 1, 1.0, 0]})",
        ""));
  EXPECT_EQ(service->queueLength("a"), 3u);
  EXPECT_EQ(body(service->printers())[0]["state"], "busy");
  for (auto& a : answers) EXPECT_NE(a.wait_for(std::chrono::seconds(0)), std::future_status::ready);
  held.release();
  for (auto& a : answers) EXPECT_EQ(body(a.get())["outcome"], "done") << a.get().body;
  const std::string p = paper("a");
  const size_t first = p.find("PRIMEIRO"), second = p.find("SEGUNDO"), third = p.find("TERCEIRO");
  ASSERT_NE(third, std::string::npos) << p;
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
}

TEST_F(ServeTest, TwoPrintersRunInParallel) {
  HeldWorker held(*service, "a");
  // Printer b finishes a whole sale while a is held in the middle of a call.
  const Reply r = service->calls("b", kSale, "");
  EXPECT_EQ(body(r)["outcome"], "done") << r.body;
  EXPECT_TRUE(held.stillHeld());
}

// ------------------------------------------------------------------ idempotency

TEST_F(ServeTest, ARetryWithTheSameKeyPrintsOneReceipt) {
  const Reply first = service->calls("a", kSale, "venda-1");
  ASSERT_EQ(body(first)["outcome"], "done") << first.body;
  // The same request written differently is the same request.
  const json again = json::parse(kSale);
  const Reply retry = service->calls("a", again.dump(2), "venda-1");
  EXPECT_TRUE(retry.replayed);
  EXPECT_FALSE(first.replayed);
  EXPECT_EQ(retry.body, first.body);
  EXPECT_EQ(countOf(paper("a"), "CAFE TORRADO 500G"), 1u);
  const json coo = body(service->calls("a", R"({"entry": "RetornaNumeroCupom"})", ""));
  EXPECT_EQ(coo["calls"][0]["out"]["strNumeroCupom"], cooOf(first));
  // The key belongs to printer a: on b it is a new request.
  EXPECT_FALSE(service->calls("b", kSale, "venda-1").replayed);
  EXPECT_EQ(countOf(paper("b"), "CAFE TORRADO 500G"), 1u);
}

TEST_F(ServeTest, TheSameKeyWithAnotherBodyIsAConflict) {
  ASSERT_EQ(service->calls("a", R"({"entry": "AbreCupomFiscal"})", "k").status, 200);
  const int frames = service->virtualPrinter("a")->framesReceived();
  const Reply r = service->calls("a", R"({"entry": "CancelaCupomFiscal"})", "k");
  EXPECT_EQ(r.status, 409);
  EXPECT_TRUE(body(r).contains("error"));
  EXPECT_EQ(service->virtualPrinter("a")->framesReceived(), frames);
}

TEST_F(ServeTest, ARetryWhileTheFirstRunsWaitsForItsAnswer) {
  HeldWorker held(*service, "a");
  auto first = service->submitCalls("a", kSale, "lenta");
  auto retry = service->submitCalls("a", kSale, "lenta");
  EXPECT_EQ(service->queueLength("a"), 1u);  // the retry queued nothing
  held.release();
  EXPECT_EQ(retry.get().body, first.get().body);
  EXPECT_TRUE(retry.get().replayed);
  EXPECT_EQ(countOf(paper("a"), "CAFE TORRADO 500G"), 1u);
}

TEST_F(ServeTest, ALineThatDiesMidCommandAnswersUnknownWithTheCounters) {
  // The printer opens the receipt but its answer is cut short.
  ASSERT_TRUE(service->virtualPrinter("a")->setFaults("short,once"));
  const Reply r = service->calls("a", R"({"entry": "AbreCupomFiscal"})", "k");
  const json j = body(r);
  EXPECT_EQ(j["outcome"], "unknown") << r.body;
  ASSERT_TRUE(j["counters"].is_object()) << r.body;
  EXPECT_EQ(j["counters"]["CupomFiscalAberto"], true);
  EXPECT_FALSE(j["counters"]["NumeroCupom"].get<std::string>().empty());
}

// What a failed call answers comes from what happened to the command on the
// line, for every family: refused before it ran, or written and then the reply
// was lost (it may have run, so the client must look before sending it again).
struct LineCase {
  const char* what;
  int model;
  const char* entry;  // one whose first command is the one the fault hits
  const char* faults;
  const char* outcome;
  bool receiptOpen;
};

TEST(ServeOutcome, FollowsWhatHappenedToTheCommandOnEachFamily) {
  const LineCase cases[] = {
      {"Bematech refuses", 1, "AbreCupomFiscal", "nak,once", "failed", false},
      {"Bematech garbled after running", 1, "AbreCupomFiscal", "garbage,once", "unknown", true},
      {"Epson refuses", 24, "AbreCupomFiscal", "nak,once", "failed", false},
      {"Epson garbled after running", 24, "AbreCupomFiscal", "garbage,once", "unknown", true},
      {"FiscNET refuses", 19, "LeituraX", "nak,once", "failed", false},
      {"FiscNET garbled after running", 19, "LeituraX", "garbage,once", "unknown", false},
      {"FiscNET cut short after running", 19, "LeituraX", "short,once", "unknown", false},
      {"2009 set refuses", 54, "AbreCupomFiscal", "nak,once", "failed", false},
      {"2009 set garbled after running", 54, "AbreCupomFiscal", "garbage,once", "unknown", true},
      {"Daruma FS600 refuses", 13, "AbreCupomFiscal", "nak,once", "failed", false},
      {"Daruma FS600 garbled after running", 13, "AbreCupomFiscal", "garbage,once", "unknown", true},
      {"Daruma classic refuses", 11, "LeituraX", "nak,once", "failed", false},
      {"Daruma classic garbled after running", 11, "AbreCupomFiscal", "garbage,once", "unknown", true},
      {"Sweda ST refuses every attempt", 47, "AbreCupomFiscal", "nak", "failed", false},
      {"Sweda ST asks again with the same sequence", 47, "AbreCupomFiscal", "garbage,once", "done", true},
      {"Sweda classic refuses", 39, "LeituraX", "nak,once", "failed", false},
      {"Sweda classic garbled after running", 39, "LeituraX", "garbage,once", "unknown", false},
      {"Schalter refuses", 38, "LeituraX", "nak,once", "failed", false},
      {"Schalter garbled after running", 38, "AbreCupomFiscal", "garbage,once", "unknown", false},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    PrinterConfig config;
    ASSERT_TRUE(tarvion::serve::parseVirtualOption("p=" + std::to_string(c.model), config, error)) << error;
    Service s(optionsFor({config}));
    ASSERT_TRUE(s.start(error)) << error;
    settle(s, "p");
    const int before = s.virtualPrinter("p")->framesReceived();
    ASSERT_TRUE(s.virtualPrinter("p")->setFaults(c.faults));
    const Reply r = s.calls("p", std::string(R"({"entry": ")") + c.entry + "\"}", "k");
    const json j = body(r);
    EXPECT_EQ(j["outcome"], c.outcome) << r.body;
    EXPECT_GT(s.virtualPrinter("p")->framesReceived(), before);
    if (std::string(c.outcome) == "unknown") {
      ASSERT_TRUE(j["counters"].is_object()) << r.body;
      EXPECT_EQ(j["counters"]["CupomFiscalAberto"], c.receiptOpen) << r.body;
    }
  }
}

TEST_F(ServeTest, APrinterThatStopsAnsweringIsOfflineAndTheCountersUnknown) {
  ASSERT_TRUE(service->virtualPrinter("a")->setFaults("noanswer"));
  const json j = body(service->calls("a", R"({"entry": "AbreCupomFiscal"})", ""));
  EXPECT_EQ(j["outcome"], "unknown") << j;
  EXPECT_TRUE(j["counters"].is_null());
  EXPECT_EQ(body(service->printers())[0]["state"], "offline");
  // Offline, a request is refused before it reaches the printer, and a key stays free.
  const Reply refused = service->calls("a", R"({"entry": "LeituraX"})", "x1");
  EXPECT_EQ(refused.status, 503) << refused.body;
  service->virtualPrinter("a")->clearFaults();
  const Reply later = service->calls("a", R"({"entry": "RetornaNumeroCupom"})", "x1");
  EXPECT_EQ(later.status, 200) << later.body;
  EXPECT_FALSE(later.replayed);
  EXPECT_EQ(body(service->printers())[0]["state"], "idle");
}

TEST(ServeRestart, TheJournalKeepsThePromiseAcrossARestart) {
  TempDir tmp;
  const std::string journal = tmp.file("journal"), state = tmp.file("state.json"), paperFile = tmp.file("paper.txt");
  std::string error, firstBody;
  {
    Service s(optionsFor({virtualConfig("a", state, paperFile)}, journal));
    ASSERT_TRUE(s.start(error)) << error;
    const Reply r = s.calls("a", kSale, "venda-7");
    ASSERT_EQ(body(r)["outcome"], "done") << r.body;
    firstBody = r.body;
  }
  Service s(optionsFor({virtualConfig("a", state, paperFile)}, journal));
  ASSERT_TRUE(s.start(error)) << error;
  const Reply retry = s.calls("a", kSale, "venda-7");
  EXPECT_TRUE(retry.replayed);
  EXPECT_EQ(retry.body, firstBody);
  EXPECT_EQ(s.calls("a", R"({"entry": "AbreCupomFiscal"})", "venda-7").status, 409);
  settle(s, "a");
  EXPECT_EQ(countOf(testsupport::readFile(paperFile), "CAFE TORRADO 500G"), 1u);
}

TEST(ServeRestart, ARequestCutByAStopIsUnknownAndNeverRunsAgain) {
  TempDir tmp;
  const std::string dir = tmp.file("journal");
  const std::string request = R"({"entry": "AbreCupomFiscal"})";
  {
    // What the service wrote before it died while the printer worked.
    Journal j;
    std::vector<JournalRecord> none;
    std::string error;
    ASSERT_TRUE(j.open(dir, 1000, 100, none, error)) << error;
    // The hash is of the canonical body, as the service computes it.
    Service probe(optionsFor({virtualConfig("a")}, tmp.file("other")));
    ASSERT_TRUE(probe.start(error)) << error;
    ASSERT_EQ(probe.calls("a", request, "k").status, 200);
    probe.stop();
    std::vector<JournalRecord> written;
    Journal other;
    ASSERT_TRUE(other.open(tmp.file("other"), 1000, 1LL << 40, written, error));
    ASSERT_EQ(written.size(), 2u);
    JournalRecord start = written[0];
    EXPECT_EQ(start.kind, "start");
    ASSERT_TRUE(j.append(start));
  }
  std::string error;
  Service s(optionsFor({virtualConfig("a")}, dir));
  ASSERT_TRUE(s.start(error)) << error;
  settle(s, "a");
  const int frames = s.virtualPrinter("a")->framesReceived();
  const Reply r = s.calls("a", request, "k");
  EXPECT_EQ(body(r)["outcome"], "unknown") << r.body;
  EXPECT_TRUE(r.replayed);
  settle(s, "a");
  EXPECT_EQ(s.virtualPrinter("a")->framesReceived(), frames);
}

// ------------------------------------------------------------------ journal

TEST(ServeJournal, ATornOrDamagedTailIsIgnoredAtEveryCut) {
  const std::string a = tarvion::serve::frameRecord("{\"n\":1}"), b = tarvion::serve::frameRecord("{\"n\":22}");
  const std::string whole = a + b;
  for (size_t cut = 0; cut <= whole.size(); ++cut) {
    size_t good = 0;
    const auto frames = tarvion::serve::readFrames(std::string_view(whole).substr(0, cut), good);
    const size_t expected = cut == whole.size() ? 2 : cut >= a.size() ? 1 : 0;
    ASSERT_EQ(frames.size(), expected) << "cut at " << cut;
    EXPECT_EQ(good, expected == 2 ? whole.size() : expected == 1 ? a.size() : 0u);
  }
  // A flipped byte in the second payload fails its checksum.
  std::string damaged = whole;
  damaged[damaged.size() - 3] ^= 0x01;
  size_t good = 0;
  EXPECT_EQ(tarvion::serve::readFrames(damaged, good).size(), 1u);
  EXPECT_EQ(good, a.size());
  EXPECT_EQ(tarvion::serve::crc32("123456789"), 0xCBF43926u);
}

TEST(ServeJournal, OpeningCutsTheTornTailDropsOldRecordsAndAppendsAfter) {
  TempDir tmp;
  const std::string dir = tmp.file("j");
  std::string error;
  std::vector<JournalRecord> records;
  {
    Journal j;
    ASSERT_TRUE(j.open(dir, 1000, 100, records, error)) << error;
    ASSERT_TRUE(j.append({850, "done", "a", "old", 1, 200, "{}"}));
    ASSERT_TRUE(j.append({990, "start", "a", "k1", 2, 0, ""}));
    ASSERT_TRUE(j.append({995, "done", "a", "k1", 2, 200, "{\"outcome\":\"done\"}"}));
  }
  {
    // The service died inside a write.
    std::ofstream torn(dir + "/journal", std::ios::app | std::ios::binary);
    torn << tarvion::serve::frameRecord("{\"kind\":\"start\"}").substr(0, 12);
  }
  {
    Journal j;
    ASSERT_TRUE(j.open(dir, 1000, 100, records, error)) << error;
    ASSERT_EQ(records.size(), 2u);  // the one from time 850 is past the retention
    EXPECT_EQ(records[1].answer, "{\"outcome\":\"done\"}");
    ASSERT_TRUE(j.append({999, "start", "b", "k2", 3, 0, ""}));
  }
  Journal j;
  ASSERT_TRUE(j.open(dir, 1000, 100, records, error)) << error;
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[2].key, "k2");
}

TEST(ServeJournal, ALongRunKeepsTheJournalToItsRetention) {
  TempDir tmp;
  const std::string dir = tmp.file("j");
  std::string error;
  std::vector<JournalRecord> records;
  Journal j;
  ASSERT_TRUE(j.open(dir, 0, 10, records, error)) << error;
  j.setCompactionFloor(4096);
  // One keyed request a second for 20 minutes: without compaction the file would
  // hold all 2400 records (~300 KB); with it, about the last 10 seconds' worth.
  const std::string answer(40, 'x');
  uint64_t largest = 0;
  for (int64_t t = 1; t <= 1200; ++t) {
    const std::string key = "k" + std::to_string(t);
    ASSERT_TRUE(j.append({t, "start", "a", key, 1, 0, ""}));
    ASSERT_TRUE(j.append({t, "done", "a", key, 1, 200, answer}));
    largest = std::max<uint64_t>(largest, std::filesystem::file_size(j.path()));
  }
  EXPECT_LT(largest, 3u * 4096u);
  Journal again;
  ASSERT_TRUE(again.open(dir, 1200, 10, records, error)) << error;
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back().key, "k1200");  // the newest survive, the oldest are gone
  EXPECT_EQ(records.front().time, 1190);
  EXPECT_EQ(records.size(), 2u * 11u);
}

// ------------------------------------------------------------------ options and security

TEST(ServeOptions, PrinterAndVirtualOptions) {
  struct Case {
    const char* text;
    bool isVirtual, ok;
    int port;
    uint32_t baud;
  };
  const Case cases[] = {
      {"caixa1=1@3", false, true, 3, 9600},       {"caixa1=1@3,115200", false, true, 3, 115200},
      {"caixa1=1", false, false, 0, 0},           {"=1@3", false, false, 0, 0},
      {"caixa 1=1@3", false, false, 0, 0},        {"caixa1=999@3", false, false, 0, 0},
      {"caixa1=1@x", false, false, 0, 0},         {"caixa1=1@3,fast", false, false, 0, 0},
      {"treino=1", true, true, 0, 115200},        {"treino=1,state=s.json,paper=p.txt", true, true, 0, 115200},
      {"treino=1,color=blue", true, false, 0, 0}, {"treino=nenhum", true, false, 0, 0},
  };
  for (const Case& c : cases) {
    PrinterConfig s;
    std::string error;
    const bool ok = c.isVirtual ? tarvion::serve::parseVirtualOption(c.text, s, error)
                                : tarvion::serve::parsePrinterOption(c.text, s, error);
    EXPECT_EQ(ok, c.ok) << c.text << ": " << error;
    if (!ok) {
      EXPECT_FALSE(error.empty()) << c.text;
      continue;
    }
    EXPECT_EQ(s.model, 1) << c.text;
    EXPECT_EQ(s.port, c.port) << c.text;
    EXPECT_EQ(s.baud, c.baud) << c.text;
  }
  PrinterConfig s;
  std::string error;
  ASSERT_TRUE(tarvion::serve::parseVirtualOption("t=1,state=s.json,paper=p.txt", s, error));
  EXPECT_EQ(s.statePath, "s.json");
  EXPECT_EQ(s.paperPath, "p.txt");
}

TEST(ServeOptions, ListenAddressesAndLoopback) {
  std::string host, error;
  int port = 0;
  ASSERT_TRUE(tarvion::serve::parseListen("127.0.0.1:8787", host, port, error));
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, 8787);
  ASSERT_TRUE(tarvion::serve::parseListen("[::1]:80", host, port, error));
  EXPECT_EQ(host, "::1");
  for (const char* bad : {"8787", ":8787", "host:", "host:0", "host:70000", "host:8x"})
    EXPECT_FALSE(tarvion::serve::parseListen(bad, host, port, error)) << bad;
  for (const char* h : {"127.0.0.1", "127.1.2.3", "::1", "localhost"}) EXPECT_TRUE(tarvion::serve::isLoopback(h)) << h;
  for (const char* h : {"0.0.0.0", "192.168.0.10", "::", "10.127.0.1"})
    EXPECT_FALSE(tarvion::serve::isLoopback(h)) << h;
}

TEST(ServeOptions, ConfigFile) {
  TempDir tmp;
  std::ofstream(tmp.file("token")) << "  0123456789abcdef0123  \n";
  std::filesystem::permissions(tmp.file("token"),
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  std::ofstream(tmp.file("c.json")) << R"({"listen": "0.0.0.0:9000", "journal": "/var/j", "token_file": ")"
                                    << tmp.file("token") << R"(",
    "printers": [{"id": "caixa1", "model": 1, "port": 4, "baud": 115200},
                 {"id": "treino", "model": "1", "virtual": true, "paper": "p.txt"}]})";
  Options o;
  std::string error;
  ASSERT_TRUE(tarvion::serve::loadConfig(tmp.file("c.json"), o, error)) << error;
  EXPECT_EQ(o.listen, "0.0.0.0:9000");
  EXPECT_EQ(o.journalDir, "/var/j");
  EXPECT_EQ(o.token, "0123456789abcdef0123");
  ASSERT_EQ(o.printers.size(), 2u);
  EXPECT_EQ(o.printers[0].port, 4);
  EXPECT_EQ(o.printers[0].baud, 115200u);
  EXPECT_TRUE(o.printers[1].isVirtual);
  EXPECT_EQ(o.printers[1].paperPath, "p.txt");
  std::ofstream(tmp.file("bad.json")) << R"({"listen": "x:1", "colour": 1})";
  EXPECT_FALSE(tarvion::serve::loadConfig(tmp.file("bad.json"), o, error));
  EXPECT_NE(error.find("colour"), std::string::npos);
  std::ofstream(tmp.file("short")) << "abc\n";
  EXPECT_FALSE(tarvion::serve::readTokenFile(tmp.file("short"), o.token, error));
}

// A token is held to the same rules wherever it is written: 16 characters at
// least, in a file other users cannot read.
TEST(ServeOptions, TokensAreLongAndPrivateWhereverTheyAreWritten) {
  TempDir tmp;
  namespace fs = std::filesystem;
  const fs::perms own = fs::perms::owner_read | fs::perms::owner_write;
  struct Case {
    const char* name;
    std::string content;
    bool isConfig, worldReadable;
    const char* says;  // empty: accepted
  } cases[] = {
      {"short-in-config.json", R"({"token": "x"})", true, false, "shorter than 16 characters"},
      {"blank-padded.json", R"({"token": "      abc       "})", true, false, "shorter than 16 characters"},
      {"shared-config.json", R"({"token": "0123456789abcdef0123"})", true, true, "readable by every user"},
      {"private-config.json", R"({"token": "0123456789abcdef0123"})", true, false, ""},
      {"shared-token", "0123456789abcdef0123\n", false, true, "readable by every user"},
      {"private-token", "0123456789abcdef0123\n", false, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = tmp.file(c.name);
    std::ofstream(path) << c.content;
    fs::permissions(path, c.worldReadable ? own | fs::perms::others_read : own);
    Options o;
    std::string error;
    const bool ok =
        c.isConfig ? tarvion::serve::loadConfig(path, o, error) : tarvion::serve::readTokenFile(path, o.token, error);
    EXPECT_EQ(ok, !*c.says) << error;
    if (*c.says) {
      EXPECT_NE(error.find(c.says), std::string::npos) << error;
    } else {
      EXPECT_EQ(o.token, "0123456789abcdef0123");
    }
  }
}

TEST(ServeSecurity, ConstantTimeEquals) {
  struct Case {
    const char *a, *b;
    bool equal;
  };
  for (const Case& c : {Case{"secret-token", "secret-token", true}, Case{"secret-token", "secret-tokeN", false},
                        Case{"secret-token", "secret-toke", false}, Case{"secret-toke", "secret-token", false},
                        Case{"", "", true}, Case{"", "x", false}, Case{"Xecret-token", "secret-token", false}})
    EXPECT_EQ(tarvion::serve::constantTimeEquals(c.a, c.b), c.equal) << c.a << " / " << c.b;
}

// ------------------------------------------------------------------ over a socket

class ServeHttp : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    service = std::make_unique<Service>(optionsFor({virtualConfig("a")}));
    ASSERT_TRUE(service->start(error)) << error;
    front = std::make_unique<tarvion::serve::HttpFront>(*service, kToken);
    port = front->bind("127.0.0.1", 0, error);
    ASSERT_GT(port, 0) << error;
    server = std::thread([this] { front->run(); });
    client = std::make_unique<httplib::Client>("127.0.0.1", port);
    client->set_bearer_token_auth(kToken);
  }
  void TearDown() override {
    front->stop();
    if (server.joinable()) server.join();
  }

  static constexpr const char* kToken = "0123456789abcdef-token";
  std::unique_ptr<Service> service;
  std::unique_ptr<tarvion::serve::HttpFront> front;
  std::thread server;
  int port = 0;
  std::unique_ptr<httplib::Client> client;
};

TEST_F(ServeHttp, WithoutTheTokenEverythingButThePageIs401) {
  httplib::Client anonymous("127.0.0.1", port);
  for (const char* path : {"/printers", "/entries", "/printers/a/paper"}) {
    auto r = anonymous.Get(path);
    ASSERT_TRUE(r) << path;
    EXPECT_EQ(r->status, 401) << path;
    EXPECT_TRUE(json::parse(r->body).contains("error"));
  }
  anonymous.set_bearer_token_auth("0123456789abcdef-tokeX");
  auto post = anonymous.Post("/printers/a/calls", "{\"entry\": \"AbreCupomFiscal\"}", "application/json");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 401);
  auto page = httplib::Client("127.0.0.1", port).Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("<script>"), std::string::npos);
  EXPECT_EQ(service->virtualPrinter("a")->printedPaper().find("CUPOM"), std::string::npos);
}

TEST_F(ServeHttp, CallsRetriesAndErrorsOverTheWire) {
  httplib::Headers keyed{{"Idempotency-Key", "http-1"}};
  auto first = client->Post("/printers/a/calls", keyed, kSale, "application/json");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->status, 200) << first->body;
  EXPECT_FALSE(first->has_header("Idempotent-Replayed"));
  auto retry = client->Post("/printers/a/calls", keyed, kSale, "application/json");
  ASSERT_TRUE(retry);
  EXPECT_EQ(retry->get_header_value("Idempotent-Replayed"), "true");
  EXPECT_EQ(retry->body, first->body);
  auto paper = client->Get("/printers/a/paper");
  ASSERT_TRUE(paper);
  EXPECT_EQ(countOf(paper->body, "CAFE TORRADO 500G"), 1u);

  struct Case {
    const char* path;
    std::string body;
    int status;
  };
  const Case bad[] = {{"/printers/a/calls", "not json", 400},
                      {"/printers/zz/calls", "{\"entry\": \"LeituraX\"}", 404},
                      {"/printers/a/nothing", "{}", 404},
                      {"/printers/a/calls", std::string(300 * 1024, ' '), 413}};
  for (const Case& c : bad) {
    auto r = client->Post(c.path, c.body, "application/json");
    ASSERT_TRUE(r) << c.path;
    EXPECT_EQ(r->status, c.status) << c.path << " " << r->body;
    EXPECT_TRUE(json::parse(r->body, nullptr, false).contains("error")) << r->body;
  }
  auto printers = client->Get("/printers");
  ASSERT_TRUE(printers);
  EXPECT_EQ(json::parse(printers->body)[0]["id"], "a");
}

}  // namespace

namespace {

TEST_F(ServeHttp, AClientThatGaveUpRetriesWithTheSameKeyAndGetsTheOneReceipt) {
  httplib::Headers keyed{{"Idempotency-Key", "caixa-1-venda-9"}};
  {
    // The printer is slow; the till stops waiting and the connection drops.
    HeldWorker held(*service, "a");
    httplib::Client impatient("127.0.0.1", port);
    impatient.set_bearer_token_auth(kToken);
    impatient.set_read_timeout(0, 100 * 1000);
    EXPECT_FALSE(impatient.Post("/printers/a/calls", keyed, kSale, "application/json"));
  }
  auto retry = client->Post("/printers/a/calls", keyed, kSale, "application/json");
  ASSERT_TRUE(retry);
  EXPECT_EQ(retry->status, 200);
  EXPECT_EQ(retry->get_header_value("Idempotent-Replayed"), "true");
  EXPECT_EQ(json::parse(retry->body)["outcome"], "done") << retry->body;
  EXPECT_EQ(countOf(service->paper("a").body, "CAFE TORRADO 500G"), 1u);
}

TEST(ServeCommand, RefusesToStartWhereItCannotServeSafely) {
  TempDir tmp;
  std::ofstream(tmp.file("token")) << "0123456789abcdef0123\n";
  struct Case {
    std::string args, says;
  };
  const Case cases[] = {
      {"--listen 0.0.0.0:1 --virtual a=1", "needs a token"},
      {"--virtual a=1 --virtual a=1", "two printers have the id 'a'"},
      {"--listen 127.0.0.1", "expected HOST:PORT"},
      {"--virtual 'a=1,colour=red'", "expected state=FILE or paper=FILE"},
      {"--printer a=1", "expected ID=MODEL@PORT"},
      {"", "no printers"},
      {"--config " + tmp.file("missing.json") + " --virtual a=1", "cannot open"},
      {"--token-file " + tmp.file("nothing") + " --virtual a=1", "cannot read the token file"},
  };
  for (const Case& c : cases) {
    const auto run = testsupport::runCommand(std::string(TARVION_TOOL_PATH) + " serve " + c.args + " 2>&1");
    EXPECT_EQ(run.status, 1) << c.args << "\n" << run.out;
    EXPECT_NE(run.out.find(c.says), std::string::npos) << c.args << "\n" << run.out;
  }
}

}  // namespace

namespace {

TEST(ServeRetention, KeysPastTheRetentionAreForgotten) {
  auto clock = std::make_shared<std::atomic<int64_t>>(1000000);
  Options o = optionsFor({virtualConfig("a")});
  o.retentionSeconds = 3600;
  o.clock = [clock] { return clock->load(); };
  Service s(o);
  std::string error;
  ASSERT_TRUE(s.start(error)) << error;
  const std::string open = R"({"entry": "AbreCupomFiscal"})", cancel = R"({"entry": "CancelaCupomFiscal"})";
  ASSERT_EQ(body(s.calls("a", open, "k")).value("outcome", ""), "done");
  ASSERT_EQ(body(s.calls("a", cancel, "c1")).value("outcome", ""), "done");
  *clock += 3000;  // within the hour: still kept
  EXPECT_EQ(s.calls("a", cancel, "k").status, 409);
  *clock += 700;  // past it: the next new key sweeps the old ones away
  ASSERT_EQ(body(s.calls("a", open, "k2")).value("outcome", ""), "done");
  const Reply again = s.calls("a", cancel, "k");
  EXPECT_EQ(again.status, 200) << again.body;
  EXPECT_FALSE(again.replayed);
  EXPECT_EQ(body(again)["outcome"], "done") << again.body;
}

}  // namespace

// ------------------------------------------------------------------ who may call

TEST(ServeGate, HostsOriginsAndContentTypes) {
  using tarvion::serve::Gate;
  struct HostCase {
    const char* listen;
    const char* host;
    bool allowed;
  } hosts[] = {
      {"127.0.0.1", "127.0.0.1:8787", true},        {"127.0.0.1", "localhost:8787", true},
      {"127.0.0.1", "LOCALHOST:8787", true},        {"127.0.0.1", "[::1]:8787", true},
      {"127.0.0.1", "till.local:8787", true},        // listed
      {"127.0.0.1", "rebound.example:8787", false},  // a page's own name pointed at 127.0.0.1
      {"127.0.0.1", "127.0.0.1:8788", false},       {"127.0.0.1", "127.0.0.1", false},
      {"127.0.0.1", "192.168.0.5:8787", false},     {"127.0.0.1", "", false},
      {"127.0.0.1", "127.0.0.1:87x", false},        {"127.0.0.1", "[::1:8787", false},
      {"0.0.0.0", "192.168.0.5:8787", true},        {"0.0.0.0", "[fe80::1]:8787", true},
      {"0.0.0.0", "caixa.loja:8787", false},        {"192.168.0.5", "192.168.0.5:8787", true},
      {"192.168.0.5", "127.0.0.1:8787", false},
  };
  for (const HostCase& c : hosts) {
    const Gate g(c.listen, 8787, {"Till.Local"}, {});
    EXPECT_EQ(g.hostAllowed(c.host), c.allowed) << c.listen << " / " << c.host;
  }
  const Gate g("127.0.0.1", 8787, {}, {"https://till.example"});
  struct OriginCase {
    const char* origin;
    Gate::Origin from;
  } origins[] = {
      {"", Gate::Origin::None},
      {"http://127.0.0.1:8787", Gate::Origin::Same},
      {"https://TILL.example", Gate::Origin::Listed},
      {"http://127.0.0.1:9999", Gate::Origin::Foreign},  // another loopback service's page
      {"https://127.0.0.1:8787", Gate::Origin::Foreign},
      {"null", Gate::Origin::Foreign},
      {"https://till.example.evil", Gate::Origin::Foreign},
  };
  for (const OriginCase& c : origins) EXPECT_EQ(g.origin(c.origin, "127.0.0.1:8787"), c.from) << c.origin;
  for (const char* t : {"application/json", "Application/JSON; charset=utf-8", " application/json "})
    EXPECT_TRUE(tarvion::serve::isJsonContentType(t)) << t;
  for (const char* t : {"", "text/plain", "application/x-www-form-urlencoded", "multipart/form-data; boundary=x",
                        "application/jsonp", "text/plain; application/json"})
    EXPECT_FALSE(tarvion::serve::isJsonContentType(t)) << t;
}

// A page of another site, or of another service on this machine, cannot make
// the printer print: not with a form, not with a "simple" text request, not
// with a script's JSON; and a name rebound to 127.0.0.1 reads nothing.
TEST(ServeHttpGate, OtherPagesAndForeignHostsAreRefusedBeforeThePrinter) {
  Options o = optionsFor({virtualConfig("a")});
  o.allowedOrigins = {"http://till.example"};
  Service service(o);
  std::string error;
  ASSERT_TRUE(service.start(error)) << error;
  settle(service, "a");
  tarvion::serve::HttpFront front(service, "");  // no token: the default
  const int port = front.bind("127.0.0.1", 0, error);
  ASSERT_GT(port, 0) << error;
  std::thread server([&] { front.run(); });
  const std::string self = "http://127.0.0.1:" + std::to_string(port);
  const std::string item = R"({"entry": "RegistraItemFiscal", "args": ["1", "FROM A WEB PAGE", "UN", 18, 1, 1.00, 0]})";
  struct Case {
    const char* name;
    std::string origin, host, contentType, body;
    int status;
  } cases[] = {
      {"text/plain from another page", "http://127.0.0.1:9999", "", "text/plain", item, 403},
      {"text/plain without an origin", "", "", "text/plain", item, 415},
      {"form from another page", "http://evil.example", "", "application/x-www-form-urlencoded", "a=b", 403},
      {"form without an origin", "", "", "application/x-www-form-urlencoded", "a=b", 415},
      {"JSON from another page", "http://127.0.0.1:9999", "", "application/json", item, 403},
      {"JSON to a rebound name", "", "rebound.example:" + std::to_string(port), "application/json", item, 421},
  };
  httplib::Client client("127.0.0.1", port);
  const int framesBefore = service.virtualPrinter("a")->framesReceived();
  ASSERT_EQ(body(service.calls("a", R"({"entry": "AbreCupomFiscal"})", "")).value("outcome", ""), "done");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    httplib::Headers h;
    if (!c.origin.empty()) h.emplace("Origin", c.origin);
    if (!c.host.empty()) h.emplace("Host", c.host);
    auto r = client.Post("/printers/a/calls", h, c.body, c.contentType.c_str());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, c.status) << r->body;
    EXPECT_TRUE(json::parse(r->body, nullptr, false).contains("error")) << r->body;
  }
  EXPECT_EQ(countOf(service.paper("a").body, "FROM A WEB PAGE"), 0u);
  // Reads by a rebound name, and a preflight from a page not listed.
  auto rebound = client.Get("/printers/a/paper", {{"Host", "rebound.example:" + std::to_string(port)}});
  ASSERT_TRUE(rebound);
  EXPECT_EQ(rebound->status, 421);
  auto preflight = client.Options("/printers/a/calls",
                                  {{"Origin", "http://evil.example"}, {"Access-Control-Request-Method", "POST"}});
  ASSERT_TRUE(preflight);
  EXPECT_EQ(preflight->status, 403);
  EXPECT_FALSE(preflight->has_header("Access-Control-Allow-Origin"));
  // A listed page is answered, its preflight too; the service's own page works.
  auto listed = client.Options("/printers/a/calls",
                               {{"Origin", "http://till.example"}, {"Access-Control-Request-Method", "POST"}});
  ASSERT_TRUE(listed);
  EXPECT_EQ(listed->status, 204);
  EXPECT_EQ(listed->get_header_value("Access-Control-Allow-Origin"), "http://till.example");
  auto fromListed = client.Post("/printers/a/calls", {{"Origin", "http://till.example"}},
                                R"({"entry": "CancelaCupomFiscal"})", "application/json");
  ASSERT_TRUE(fromListed);
  EXPECT_EQ(fromListed->status, 200) << fromListed->body;
  EXPECT_EQ(fromListed->get_header_value("Access-Control-Allow-Origin"), "http://till.example");
  auto fromSelf = client.Post("/printers/a/calls", {{"Origin", self}}, R"({"entry": "LeituraX"})", "application/json");
  ASSERT_TRUE(fromSelf);
  EXPECT_EQ(fromSelf->status, 200) << fromSelf->body;
  auto page = client.Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_GT(service.virtualPrinter("a")->framesReceived(), framesBefore);
  front.stop();
  server.join();
}

// ------------------------------------------------------------------ damaged and planted files

TEST(ServeJournal, DamageBeforeTheLastRecordStopsTheStartUnlessDropped) {
  TempDir tmp;
  const std::string dir = tmp.file("j");
  std::string error;
  std::vector<JournalRecord> records;
  {
    Journal j;
    ASSERT_TRUE(j.open(dir, 1000, 100, records, error)) << error;
    for (const char* key : {"k1", "k2", "k3", "k4"}) ASSERT_TRUE(j.append({990, "done", "a", key, 1, 200, "{}"}));
  }
  std::string data;
  {
    std::ifstream in(dir + "/journal", std::ios::binary);
    data.assign(std::istreambuf_iterator<char>(in), {});
  }
  const size_t second = data.find("TJ1 ", 1);
  ASSERT_NE(second, std::string::npos);
  const size_t third = data.find("TJ1 ", second + 1);
  {
    // One byte of the second record's payload flips on the disk.
    std::string damaged = data;
    damaged[third - 5] ^= 0x20;
    std::ofstream(dir + "/journal", std::ios::binary | std::ios::trunc) << damaged;
  }
  const auto scan = tarvion::serve::scanJournal(data);
  EXPECT_EQ(scan.damagedAt, tarvion::serve::JournalScan::kNone);
  {
    Journal j;
    EXPECT_FALSE(j.open(dir, 1000, 100, records, error));
    EXPECT_NE(error.find(dir + "/journal is damaged at byte " + std::to_string(second)), std::string::npos) << error;
    EXPECT_NE(error.find("2 whole records follow"), std::string::npos) << error;
  }
  {
    Journal j;
    ASSERT_TRUE(j.open(dir, 1000, 100, records, error, true)) << error;
    ASSERT_EQ(records.size(), 3u);  // k2 is lost; the keys after it are not
    EXPECT_EQ(records[0].key, "k1");
    EXPECT_EQ(records[1].key, "k3");
    EXPECT_EQ(records[2].key, "k4");
  }
  // Rewritten without the damage: an ordinary start again.
  Journal j;
  ASSERT_TRUE(j.open(dir, 1000, 100, records, error)) << error;
  EXPECT_EQ(records.size(), 3u);
}

TEST(ServeFiles, TheJournalAndThePaperAreNeverWrittenThroughALink) {
  TempDir tmp;
  namespace fs = std::filesystem;
  const std::string victim = tmp.file("victim.txt");
  std::ofstream(victim) << "precious\n";
  auto victimIntact = [&] {
    std::ifstream in(victim);
    return std::string(std::istreambuf_iterator<char>(in), {}) == "precious\n";
  };
  std::string error;
  std::vector<JournalRecord> records;
  // The journal itself a link: refused at start, with its path.
  fs::create_directories(tmp.file("j1"));
  fs::create_symlink(victim, tmp.file("j1/journal"));
  {
    Journal j;
    EXPECT_FALSE(j.open(tmp.file("j1"), 1000, 100, records, error));
    EXPECT_NE(error.find(tmp.file("j1/journal")), std::string::npos) << error;
  }
  // A planted temporary name: the rewrite (a torn tail forces one) goes
  // elsewhere, and the journal stays a file of its own.
  fs::create_directories(tmp.file("j2"));
  std::ofstream(tmp.file("j2/journal"), std::ios::binary) << tarvion::serve::frameRecord("{}").substr(0, 9);
  fs::create_symlink(victim, tmp.file("j2/journal.tmp"));
  {
    Journal j;
    ASSERT_TRUE(j.open(tmp.file("j2"), 1000, 100, records, error)) << error;
    ASSERT_TRUE(j.append({999, "start", "a", "k", 1, 0, ""}));
  }
  EXPECT_FALSE(fs::is_symlink(tmp.file("j2/journal")));
  EXPECT_TRUE(victimIntact());
  // A paper file that is a link: the virtual printer is refused at start.
  fs::create_symlink(victim, tmp.file("paper.txt"));
  Service service(optionsFor({virtualConfig("a", "", tmp.file("paper.txt"))}));
  EXPECT_FALSE(service.start(error));
  EXPECT_NE(error.find(tmp.file("paper.txt") + " is a symbolic link"), std::string::npos) << error;
  EXPECT_TRUE(victimIntact());
}

TEST(ServeKeys, NewKeysBeyondTheLimitAreRefusedAndNothingIsPrinted) {
  Options o = optionsFor({virtualConfig("a")});
  o.maxKeys = 2;
  Service s(o);
  std::string error;
  ASSERT_TRUE(s.start(error)) << error;
  const std::string x = R"({"entry": "LeituraX"})";
  ASSERT_EQ(s.calls("a", x, "k1").status, 200);
  ASSERT_EQ(s.calls("a", x, "k2").status, 200);
  const int frames = s.virtualPrinter("a")->framesReceived();
  const Reply full = s.calls("a", x, "k3");
  EXPECT_EQ(full.status, 503);
  EXPECT_NE(body(full).value("error", "").find("too many idempotency keys"), std::string::npos) << full.body;
  settle(s, "a");
  EXPECT_EQ(s.virtualPrinter("a")->framesReceived(), frames);
  // Keys already held still answer, and calls without a key still run.
  EXPECT_TRUE(s.calls("a", x, "k1").replayed);
  EXPECT_EQ(s.calls("a", x, "").status, 200);
}

// ------------------------------------------------------------------ metrics

// The value of one sample line of /metrics ("name{labels}" exactly as
// written), or NaN when the series is not there.
double sampleOf(const std::string& text, const std::string& series) {
  const size_t at = text.find('\n' + series + ' ');
  if (at == std::string::npos) return std::nan("");
  return std::stod(text.substr(at + series.size() + 2));
}

std::string metricsOf(const Service& s) {
  const Reply r = s.metrics("");
  EXPECT_EQ(r.contentType, "text/plain; version=0.0.4; charset=utf-8");
  return '\n' + r.body;
}

const char* const kDone = R"(tarvion_printer_calls_total{printer="a",outcome="done"})";
const char* const kFailed = R"(tarvion_printer_calls_total{printer="a",outcome="failed"})";
const char* const kUnknown = R"(tarvion_printer_calls_total{printer="a",outcome="unknown"})";
const char* const kCount = R"(tarvion_printer_call_duration_seconds_count{printer="a"})";
const char* const kInf = R"(tarvion_printer_call_duration_seconds_bucket{printer="a",le="+Inf"})";
const char* const kRefused = R"(tarvion_printer_requests_refused_total{printer="a"})";

TEST_F(ServeTest, MetricsCountEachCallOfABatchByOutcome) {
  const std::string start = metricsOf(*service);
  // Every series is there before the first call, at zero.
  for (const char* series : {kDone, kFailed, kUnknown, kCount, kRefused})
    EXPECT_EQ(sampleOf(start, series), 0) << series;
  const int frames = service->virtualPrinter("a")->framesReceived();
  metricsOf(*service);
  EXPECT_EQ(service->virtualPrinter("a")->framesReceived(), frames) << "reading the figures sent a command";

  ASSERT_EQ(body(service->calls("a", kSale, ""))["outcome"], "done");
  std::string m = metricsOf(*service);
  EXPECT_EQ(sampleOf(m, kDone), 6);
  EXPECT_EQ(sampleOf(m, kCount), 6);
  EXPECT_EQ(sampleOf(m, kInf), 6);
  EXPECT_EQ(sampleOf(m, kFailed), 0);
  // Printer "b" ran nothing.
  EXPECT_EQ(sampleOf(m, R"(tarvion_printer_calls_total{printer="b",outcome="done"})"), 0);
  // The COO the sale read back.
  EXPECT_EQ(sampleOf(m, R"(tarvion_printer_operation_counter{printer="a"})"),
            std::stod(cooOf(service->calls("a", R"({"entry": "RetornaNumeroCupom"})", ""))));

  // A batch stops at the call that fails: the one before counts done, the
  // failing one failed, the one after nothing.
  const json j = body(service->calls(
      "a",
      R"([{"entry": "RetornaNumeroCupom"}, {"entry": "FechaCupomFiscal", "args": ["", 0]}, {"entry": "LeituraX"}])",
      ""));
  ASSERT_EQ(j["outcome"], "failed") << j;
  m = metricsOf(*service);
  EXPECT_EQ(sampleOf(m, kDone), 6 + 1 + 1);
  EXPECT_EQ(sampleOf(m, kFailed), 1);
  EXPECT_EQ(sampleOf(m, kCount), 6 + 1 + 2);
}

TEST_F(ServeTest, MetricsShowTheQueueAndStateOfAHeldPrinter) {
  HeldWorker held(*service, "a");
  auto sale = service->submitCalls("a", kSale, "");
  std::string m = metricsOf(*service);
  EXPECT_EQ(sampleOf(m, R"(tarvion_printer_queue_length{printer="a"})"), 1);
  EXPECT_EQ(sampleOf(m, R"(tarvion_printer_state{printer="a",state="busy"})"), 1);
  EXPECT_EQ(sampleOf(m, R"(tarvion_printer_state{printer="a",state="idle"})"), 0);
  EXPECT_EQ(sampleOf(m, R"(tarvion_printer_state{printer="b",state="idle"})"), 1);
  held.release();
  ASSERT_EQ(body(sale.get())["outcome"], "done");
  m = metricsOf(*service);
  EXPECT_EQ(sampleOf(m, R"(tarvion_printer_queue_length{printer="a"})"), 0);
  EXPECT_EQ(sampleOf(m, R"(tarvion_printer_state{printer="a",state="idle"})"), 1);
  EXPECT_EQ(sampleOf(m, R"(tarvion_printer_state{printer="a",state="busy"})"), 0);
}

TEST_F(ServeTest, MetricsCountALostCallUnknownAndARefusalWhileOffline) {
  ASSERT_TRUE(service->virtualPrinter("a")->setFaults("noanswer"));
  ASSERT_EQ(body(service->calls("a", R"({"entry": "AbreCupomFiscal"})", ""))["outcome"], "unknown");
  ASSERT_EQ(service->calls("a", R"({"entry": "LeituraX"})", "").status, 503);
  const std::string m = metricsOf(*service);
  EXPECT_EQ(sampleOf(m, kUnknown), 1);
  EXPECT_EQ(sampleOf(m, kFailed), 0);
  EXPECT_EQ(sampleOf(m, kRefused), 1);
  EXPECT_EQ(sampleOf(m, kCount), 1);  // the refused batch never reached the printer
  EXPECT_EQ(sampleOf(m, R"(tarvion_printer_state{printer="a",state="offline"})"), 1);
  service->virtualPrinter("a")->clearFaults();
}

// One virtual printer on a service whose clock stands still.
class ServeMetricsAtAFixedTime : public ::testing::Test {
 protected:
  void SetUp() override {
    Options o = optionsFor({virtualConfig("a")});
    o.clock = [] { return int64_t{1700000000}; };
    service = std::make_unique<Service>(o);
    std::string error;
    ASSERT_TRUE(service->start(error)) << error;
  }
  std::unique_ptr<Service> service;
};

TEST_F(ServeMetricsAtAFixedTime, StatusAndZAppearOnceAClientReadsThem) {
  Service& s = *service;
  std::string m = metricsOf(s);
  for (const char* series :
       {R"(tarvion_printer_paper_near_end{printer="a"})", R"(tarvion_printer_drawer_open{printer="a"})",
        R"(tarvion_printer_status_read_timestamp_seconds{printer="a"})",
        R"(tarvion_printer_last_z_reduction_timestamp_seconds{printer="a"})",
        R"(tarvion_printer_z_reduction_counter{printer="a"})"})
    EXPECT_TRUE(std::isnan(sampleOf(m, series))) << series << " before any read";

  s.virtualPrinter("a")->core().setPaperNearEnd(true);
  s.virtualPrinter("a")->setDrawerOpen(true);
  const json status = body(s.calls(
      "a", R"([{"entry": "CashDrawerAttached", "set": true}, {"entry": "LowPaper"}, {"entry": "CashDrawerClosed"}])",
      ""));
  ASSERT_EQ(status["outcome"], "done") << status;
  m = metricsOf(s);
  EXPECT_EQ(sampleOf(m, R"(tarvion_printer_paper_near_end{printer="a"})"), 1) << status;
  EXPECT_EQ(sampleOf(m, R"(tarvion_printer_drawer_open{printer="a"})"), 1) << status;
  EXPECT_EQ(sampleOf(m, R"(tarvion_printer_status_read_timestamp_seconds{printer="a"})"), 1700000000);
  // Read again after a change: the figures follow the printer.
  s.virtualPrinter("a")->core().setPaperNearEnd(false);
  s.virtualPrinter("a")->setDrawerOpen(false);
  s.calls("a", R"([{"entry": "LowPaper"}, {"entry": "CashDrawerClosed"}])", "");
  m = metricsOf(s);
  EXPECT_EQ(sampleOf(m, R"(tarvion_printer_paper_near_end{printer="a"})"), 0);
  EXPECT_EQ(sampleOf(m, R"(tarvion_printer_drawer_open{printer="a"})"), 0);

  // A Z that runs leaves the service's clock, whatever the printer's.
  char today[32];
  const std::time_t t = std::time(nullptr);
  std::strftime(today, sizeof today, "%Y-%m-%dT%H:%M:%S", std::localtime(&t));
  const json z = body(s.calls("a", R"({"entry": "ReducaoZ", "args": [")" + std::string(today) + R"("]})", ""));
  ASSERT_EQ(z["outcome"], "done") << z;
  const json crz = body(s.calls("a", R"({"entry": "ZReportCounter"})", ""));
  m = metricsOf(s);
  EXPECT_EQ(sampleOf(m, R"(tarvion_printer_last_z_reduction_timestamp_seconds{printer="a"})"), 1700000000);
  EXPECT_EQ(sampleOf(m, R"(tarvion_printer_z_reduction_counter{printer="a"})"), crz["calls"][0]["result"].get<double>())
      << crz;
  EXPECT_GE(crz["calls"][0]["result"].get<double>(), 1) << crz;
}

TEST_F(ServeMetricsAtAFixedTime, RepliesThatCarryThePaperSensorsTellThePaperWithoutAStatusRead) {
  // The virtual printer of model 1 answers with the paper bits in every reply.
  Service& s = *service;
  const char* nearEnd = R"(tarvion_printer_paper_near_end{printer="a"})";
  const char* out = R"(tarvion_printer_paper_out{printer="a"})";
  struct Step {
    const char* what;
    bool nearEnd, out;
    const char* calls;
    const char* outcome;
  };
  const Step steps[] = {
      {"a plain read", false, false, R"({"entry": "RetornaNumeroCupom"})", "done"},
      {"near the end, a sale", true, false, kSale, "done"},
      {"out of paper, refused", true, true, R"({"entry": "AbreCupomFiscal"})", "failed"},
      {"paper put back", false, false, R"({"entry": "AbreCupomFiscal"})", "done"},
  };
  for (const Step& step : steps) {
    s.virtualPrinter("a")->core().setPaperNearEnd(step.nearEnd);
    s.virtualPrinter("a")->core().setPaperOut(step.out);
    const json answer = body(s.calls("a", step.calls, ""));
    EXPECT_EQ(answer["outcome"], step.outcome) << step.what << ": " << answer;
    const std::string m = metricsOf(s);
    EXPECT_EQ(sampleOf(m, nearEnd), step.nearEnd ? 1 : 0) << step.what;
    EXPECT_EQ(sampleOf(m, out), step.out ? 1 : 0) << step.what;
    EXPECT_EQ(sampleOf(m, R"(tarvion_printer_status_read_timestamp_seconds{printer="a"})"), 1700000000) << step.what;
  }
  // A call that reaches no printer tells nothing: the last figures stay.
  s.virtualPrinter("a")->core().setPaperOut(true);
  s.calls("a", R"({"entry": "CashDrawerAttached", "set": true})", "");
  EXPECT_EQ(sampleOf(metricsOf(s), out), 0);
}

TEST(ServeMetrics, TheJournalAndTheKeysHeldAreCounted) {
  TempDir tmp;
  Service s(optionsFor({virtualConfig("a")}, tmp.file("j")));
  std::string error;
  ASSERT_TRUE(s.start(error)) << error;
  std::string m = metricsOf(s);
  EXPECT_EQ(sampleOf(m, "tarvion_journal_records"), 0);
  EXPECT_EQ(sampleOf(m, "tarvion_idempotency_keys"), 0);
  ASSERT_EQ(s.calls("a", R"({"entry": "LeituraX"})", "k1").status, 200);
  m = metricsOf(s);
  EXPECT_EQ(sampleOf(m, "tarvion_journal_records"), 2);  // started and done
  EXPECT_EQ(sampleOf(m, "tarvion_journal_size_bytes"),
            static_cast<double>(std::filesystem::file_size(tmp.file("j/journal"))));
  EXPECT_EQ(sampleOf(m, "tarvion_idempotency_keys"), 1);
}
