// The classic Sweda driver: register reads and check commands with their
// literal frames and replies, the three ways an answer is read (document
// prompt, report in parts, busy polling), and the operations against the
// virtual classic printer, wrong-state refusals included.
#include <gtest/gtest.h>

#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <string>

#include "core/capabilities.h"
#include "core/text.h"
#include "core/virtual_wire.h"
#include "driver_port.h"
#include "drivers/sweda/CSweda.h"
#include "drivers/sweda/sweda_protocol.h"
#include "emulator/paper.h"
#include "emulator/sweda/printer.h"
#include "platform/prompt.h"

using namespace tarvion;
using emulator::FiscalCore;
using emulator::Hardware;
using emulator::makeVirtualDevice;
using emulator::Paper;
using emulator::Stamp;
using emulator::SwedaClassicPrinter;
using emulator::toSeconds;
using text::cp;

namespace {

// A classic printer that answers each frame from a script: the frame's text
// (ESC included) to the reply; "\x1B.23}" answers ".+000000}" (idle, a
// document in the station) unless scripted. Every frame written is kept.
struct Scripted {
  static constexpr int kPort = 791;
  std::map<std::string, std::deque<std::string>> replies;
  std::vector<std::string> seen;
  std::shared_ptr<VirtualDevice> dev;
  CSweda d;
  Scripted() {
    dev = std::make_shared<VirtualDevice>(std::make_shared<ScriptedPeer>([this](const ByteArray& req, VirtualLink& l) {
      const std::string s(req.begin(), req.end());
      seen.push_back(s);
      auto at = replies.find(s);
      if (at != replies.end() && !at->second.empty()) {
        const std::string r = at->second.front();
        if (at->second.size() > 1) at->second.pop_front();  // the last one stays
        if (!r.empty()) l.send(r);
        return;
      }
      if (s == "\x1B.23}") l.send(std::string(".+000000}"));
    }));
    ports::attachVirtual(kPort, dev);
    testsupport::usePort(d, kPort);
    EXPECT_TRUE(d.OpenComm(0)) << d.strLastError;
  }
  ~Scripted() {
    d.CloseComm();
    ports::detachVirtual(kPort);
  }
};

TEST(SwedaClassicRegisters, EachReadSendsItsLetterAndTakesTheValueBetweenCodeAndBrace) {
  struct Case {
    const char* what;
    const char* frame;
    const char* reply;
    std::function<std::string(CSweda&)> read;
    std::string want;
  };
  const Case cases[] = {
      {"COO", "\x1B.271}", ".+27000042}", [](CSweda& d) { return std::to_string(d.GetOperationCounter()); }, "42"},
      {"CRZ", "\x1B.273}", ".+270012}", [](CSweda& d) { return std::to_string(d.GetZReportCounter()); }, "12"},
      {"CRO", "\x1B.276}", ".+270003}", [](CSweda& d) { return std::to_string(d.GetRestartCounter()); }, "3"},
      {"CCF", "\x1B.277}", ".+27000107}", [](CSweda& d) { return std::to_string(d.GetFiscalReceiptCounter()); }, "107"},
      {"grand total", "\x1B.27F}", ".+27000000000000123456}",
       [](CSweda& d) { return text::format("%.2f", d.GetFinalGrandTotal()); }, "1234.56"},
      {"serial", "\x1B.27G}", ".+27SW0400123   }",
       [](CSweda& d) {
         std::string s;
         return d.ReadSerialNumber(s) ? s : "failed";
       },
       "SW0400123"},
      // A counter that is not digits is not a number.
      {"garbled counter", "\x1B.273}", ".+2700A2}", [](CSweda& d) { return std::to_string(d.GetZReportCounter()); },
       "-1"},
      {"refused", "\x1B.277}", ".-0029COMANDO NAO RECONHECIDO}",
       [](CSweda& d) { return std::to_string(d.GetFiscalReceiptCounter()); }, "-1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Scripted s;
    s.replies[c.frame] = {c.reply};
    EXPECT_EQ(c.read(s.d), c.want);
    ASSERT_FALSE(s.seen.empty());
    EXPECT_EQ(s.seen[0], c.frame);
  }
  Scripted s;
  s.replies["\x1B.277}"] = {".-0029COMANDO NAO RECONHECIDO}"};
  EXPECT_EQ(s.d.GetFiscalReceiptCounter(), -1);
  EXPECT_EQ(s.d.strLastError, "(0029) COMANDO NAO RECONHECIDO");
}

TEST(SwedaClassicRegisters, TheGrandTotalOfAReportLine) {
  struct Case {
    const char* report;
    bool ok;
    double value;
  };
  const Case cases[] = {
      {"CRZ 0001 COO 000004\n  GT 1.234,56  VB 5,00", true, 1234.56},
      {"  GT 0,00", true, 0.0},
      {"GT 12.345.678,90", true, 12345678.90},
      {"GT 12", false, 0},
      {"GT ,50", false, 0},
      {"GT 1,5", false, 0},
      {"SEM REDUCOES", false, 0},
      {"GT 1234567890123456789,00", false, 0},
  };
  for (const Case& c : cases) {
    double v = -1;
    EXPECT_EQ(tarvion::sweda::reportGrandTotal(c.report, v), c.ok) << c.report;
    if (c.ok) {
      EXPECT_DOUBLE_EQ(v, c.value) << c.report;
    }
  }
  int64_t n = 0;
  EXPECT_TRUE(tarvion::sweda::classicDigits("000123", n));
  EXPECT_EQ(n, 123);
  EXPECT_FALSE(tarvion::sweda::classicDigits("", n));
  EXPECT_FALSE(tarvion::sweda::classicDigits("12 3", n));
  EXPECT_FALSE(tarvion::sweda::classicDigits(std::string(19, '9'), n));
}

std::string today() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  char b[16];
  std::strftime(b, sizeof b, "%d%m%Y", &tm);
  return b;
}

TEST(SwedaClassicChecks, TheLayoutAndTheReadAndPrintFrames) {
  {
    SCOPED_TRACE("layout");
    Scripted s;
    s.replies["\x1B.44" + std::string("REAL") + std::string(76, ' ') + "REAIS" + std::string(25, ' ') + "SAO PAULO" +
              std::string(11, ' ') + "JOSE" + std::string(16, ' ') + "}"] = {".+44}"};
    EXPECT_TRUE(s.d.SetCheckConfiguration("REAL", "REAIS", "SAO PAULO", "JOSE", DateTime(), DateTime()))
        << s.d.strLastError;
    ASSERT_GE(s.seen.size(), 1u);
    EXPECT_EQ(s.seen[0].size(), 5u + 150u);
  }
  {
    SCOPED_TRACE("read and print");
    Scripted s;
    const std::string frame =
        "\x1B.51N000000012345N" + std::string("001") + std::string(117, ' ') + "2" + today() + "}";
    s.replies[frame] = {".+51<00100011<0010000000010>100000000001^}"};
    std::string cmc7;
    EXPECT_TRUE(s.d.ReadAndPrintCheck(123.45, "001", cmc7)) << s.d.strLastError;
    // The document is asked for first, then the command, then the poll.
    ASSERT_EQ(s.seen.size(), 3u);
    EXPECT_EQ(s.seen[0], "\x1B.23}");
    EXPECT_EQ(s.seen[1], frame);
    EXPECT_EQ(s.seen[2], "\x1B.23}");
    EXPECT_EQ(cmc7, "<00100011<0010000000010>100000000001");
  }
  {
    SCOPED_TRACE("a value too wide sends nothing");
    Scripted s;
    std::string cmc7;
    EXPECT_FALSE(s.d.ReadAndPrintCheck(1e10, "001", cmc7));
    EXPECT_TRUE(s.seen.empty());
  }
}

TEST(SwedaClassicOperations, ANonFiscalReceiptByTitleName) {
  {
    Scripted s;
    s.d.arNonFiscalTitles = {"01,-,SANGRIA", "02,+,SUPRIMENTO"};
    s.d.arPaymentTypes = {"Dinheiro"};
    s.replies["\x1B.0702000000001000 " + std::string(40, ' ') + "}"] = {".+07}"};
    s.replies["\x1B.1001000000001000}"] = {".+10}"};
    s.replies["\x1B.12SNN0}"] = {".+12}"};
    EXPECT_TRUE(s.d.NonFiscalReceipt(10, "suprimento", "Dinheiro")) << s.d.strLastError;
    const std::vector<std::string> want = {"\x1B.0702000000001000 " + std::string(40, ' ') + "}",
                                           "\x1B.23}",
                                           "\x1B.1001000000001000}",
                                           "\x1B.23}",
                                           "\x1B.12SNN0}",
                                           "\x1B.23}"};
    EXPECT_EQ(s.seen, want);
  }
  {
    Scripted s;
    s.d.arNonFiscalTitles = {"01,-,SANGRIA"};
    s.d.arPaymentTypes = {"Dinheiro"};
    EXPECT_FALSE(s.d.NonFiscalReceipt(10, "TROCO", "Dinheiro"));
    EXPECT_EQ(s.d.strLastError, cp("Totalizador não fiscal não cadastrado na impressora."));
    EXPECT_TRUE(s.seen.empty());
  }
}

// The station stays empty and the operator gives up: the command itself is
// never written, only status requests were.
TEST(SwedaClassicExchange, CancellingTheDocumentPromptWritesNoCommand) {
  const std::function<BOOL(CSweda&)> ops[] = {[](CSweda& d) {
                                                std::string cmc7;
                                                return d.ReadCheck(kTrue, cmc7);
                                              },
                                              [](CSweda& d) { return d.PrintCheck(10, "001"); },
                                              [](CSweda& d) {
                                                std::string cmc7;
                                                return d.ReadAndPrintCheck(10, "001", cmc7);
                                              }};
  for (const auto& op : ops) {
    for (int okBeforeCancel : {0, 2}) {
      SCOPED_TRACE(okBeforeCancel);
      Scripted s;
      s.replies["\x1B.23}"] = {".+005000}"};
      int prompts = 0;
      platform::setPromptHandler([&](const platform::PromptRequest& r) {
        EXPECT_EQ(r.title, cp("Atenção"));
        return ++prompts > okBeforeCancel ? platform::PromptAnswer::Cancel : platform::PromptAnswer::Ok;
      });
      EXPECT_FALSE(op(s.d));
      platform::setPromptHandler(nullptr);
      EXPECT_EQ(s.d.strLastError, cp("Operação cancelada pelo usuário."));
      EXPECT_EQ(s.d.lastOutcome, exchange::Outcome::NotWritten);
      EXPECT_EQ(prompts, okBeforeCancel + 1);
      // One status request before each prompt, and nothing else.
      EXPECT_EQ(s.seen, std::vector<std::string>(okBeforeCancel + 1, "\x1B.23}"));
    }
  }
}

TEST(SwedaClassicExchange, AReportInPartsIsAskedForPieceByPiece) {
  {
    SCOPED_TRACE("three parts and the end");
    Scripted s;
    s.replies["\x1B.13X}"] = {".+13+LEITURA X\n}"};
    s.replies["\x1B.++}"] = {".+13+TOTAL 5,00\n}", ".+13+FIM}", ".]}"};
    std::string x;
    EXPECT_TRUE(s.d.LeituraXSerial(x)) << s.d.strLastError;
    EXPECT_EQ(x, "LEITURA X\nTOTAL 5,00\nFIM");
    const std::vector<std::string> want = {"\x1B.13X}", "\x1B.++}", "\x1B.++}", "\x1B.++}", "\x1B.23}"};
    EXPECT_EQ(s.seen, want);
  }
  {
    SCOPED_TRACE("refused half-way: the refusal is the answer");
    Scripted s;
    s.replies["\x1B.13X}"] = {".+13+LEITURA X\n}"};
    s.replies["\x1B.++}"] = {".-0134LEITURA ABORTADA}"};
    std::string x = "before";
    EXPECT_FALSE(s.d.LeituraXSerial(x));
    EXPECT_EQ(s.d.strLastError, "(0134) LEITURA ABORTADA");
    EXPECT_EQ(x, "before");
  }
  {
    SCOPED_TRACE("refused at once");
    Scripted s;
    s.replies["\x1B.1500010002X}"] = {".-0031FAIXA INVALIDA}"};
    std::string m;
    EXPECT_FALSE(s.d.LeituraMFSerialReducao(1, 2, m, kFalse));
    EXPECT_EQ(s.d.strLastError, "(0031) FAIXA INVALIDA");
    // No continuation request after a refusal; the busy poll still follows.
    EXPECT_EQ(s.seen, (std::vector<std::string>{"\x1B.1500010002X}", "\x1B.23}"}));
  }
  {
    SCOPED_TRACE("the printer stops sending parts");
    Scripted s;
    s.replies["\x1B.13X}"] = {".+13+LEITURA X\n}"};
    s.replies["\x1B.++}"] = {""};
    std::string x;
    const int64_t t0 = s.dev->clock().nowUs();
    EXPECT_FALSE(s.d.LeituraXSerial(x));
    EXPECT_LE(s.dev->clock().nowUs() - t0, int64_t{s.d.nAnswerTimeout} * 1000 + 1'000'000);
    EXPECT_EQ(s.d.lastOutcome, exchange::Outcome::MayHaveRun);
  }
}

// Busy polling follows the command only where the printer may still be
// printing; the reads that clear it send one frame.
TEST(SwedaClassicExchange, BusyPollingEndsWhenTheStatusSaysIdle) {
  Scripted s;
  s.replies["\x1B.1500010001}"] = {".+15}"};
  s.replies["\x1B.23}"] = {".+010000}", ".+060000}", ".+000000}"};
  EXPECT_TRUE(s.d.LeituraMFReducao(1, 1, kFalse)) << s.d.strLastError;
  EXPECT_EQ(s.seen.size(), 4u);  // the command and three status requests
  Scripted t;
  t.replies["\x1B.271}"] = {".+27000042}"};
  std::string coo;
  EXPECT_TRUE(t.d.RetornaNumeroCupom(coo));
  EXPECT_EQ(coo, "000042");
  EXPECT_EQ(t.seen.size(), 1u);
}

// A read whose reply names its command is not held back on a fresh line: a
// reply left from before is told by its code, the line drained and the read
// asked once more. A refusal is the read's own answer.
TEST(SwedaClassicExchange, AStaleReplyToTheFirstReadIsDrainedAndTheReadRepeated) {
  {
    Scripted s;
    s.replies["\x1B.28}"] = {".+17}.+28041226093000NN}", ".+28041226093000NN}"};
    EXPECT_TRUE(s.d.ECFOnline()) << s.d.strLastError;
    EXPECT_EQ(s.seen, (std::vector<std::string>{"\x1B.28}", "\x1B.28}"}));
    // The line has answered: a later read is taken as it comes.
    s.seen.clear();
    EXPECT_TRUE(s.d.ECFOnline());
    EXPECT_EQ(s.seen.size(), 1u);
  }
  {
    Scripted s;
    s.replies["\x1B.28}"] = {".-0029COMANDO NAO RECONHECIDO}"};
    EXPECT_FALSE(s.d.ECFOnline());
    EXPECT_EQ(s.d.strLastError, "(0029) COMANDO NAO RECONHECIDO");
    EXPECT_EQ(s.seen.size(), 1u);
  }
  struct Case {
    const char* frame;
    const char* reply;
    bool read, answers;
  };
  const Case cases[] = {
      {"\x1B.28}", ".+28041226093000NN}", true, true},
      {"\x1B.273}", ".+270004}", true, true},
      {"\x1B.293}", ".+29|T1800}", true, true},
      {"\x1B.273}", ".+28041226093000NN}", true, false},
      {"\x1B.28}", ".-0029X}", true, true},
      {"\x1B.28}", "NN}", true, false},
      {"\x1B.23}", ".+000000}", false, false},
      {"\x1B.17}", ".+17}", false, true},
  };
  for (const Case& c : cases) {
    const std::string f = c.frame, r = c.reply;
    const ByteArray frame(f.begin(), f.end()), reply(r.begin(), r.end());
    EXPECT_EQ(tarvion::sweda::classicRead(frame), c.read) << c.frame;
    EXPECT_EQ(tarvion::sweda::classicAnswers(frame, reply), c.answers) << c.frame << " " << c.reply;
  }
}

// ---- against the virtual classic printer

struct Rig {
  static constexpr int kPort = 792;
  std::shared_ptr<FiscalCore> core;
  std::shared_ptr<SwedaClassicPrinter> printer;
  std::shared_ptr<VirtualDevice> dev;
  CSweda d;
  explicit Rig(bool checkStation = false) {
    core = std::make_shared<FiscalCore>(FiscalCore::Options{"", [] {
                                                              return toSeconds(Stamp{2026, 12, 4, 9, 30, 0});
                                                            }});
    core->setPaper(std::make_shared<Paper>(48));
    printer = std::make_shared<SwedaClassicPrinter>(core, caps::fiscalModel(39)->name, Hardware{48, checkStation});
    dev = makeVirtualDevice(printer);
    ports::attachVirtual(kPort, dev);
    testsupport::usePort(d, kPort);
    EXPECT_TRUE(d.OpenComm(1)) << d.strLastError;
  }
  ~Rig() {
    d.CloseComm();
    ports::detachVirtual(kPort);
  }
  void sale(double price) {
    ASSERT_TRUE(d.AbreCupomFiscal()) << d.strLastError;
    ASSERT_TRUE(d.RegistraItemFiscal("789", "ARROZ", "UN", 18, 1, price, 0)) << d.strLastError;
    ASSERT_TRUE(d.RegistraPagamento(d.arPaymentTypes.at(0), price)) << d.strLastError;
    ASSERT_TRUE(d.FechaCupomFiscal("", 0)) << d.strLastError;
  }
};

TEST(SwedaClassicVirtual, RegistersFollowThePrinter) {
  Rig r;
  EXPECT_EQ(r.d.GetUserGrandTotal(), 0.0);  // no reduction yet
  r.sale(5);
  r.sale(2.5);
  EXPECT_EQ(r.d.GetOperationCounter(), r.core->counters().coo);
  EXPECT_EQ(r.d.GetFiscalReceiptCounter(), 2);
  EXPECT_DOUBLE_EQ(r.d.GetFinalGrandTotal(), 7.5);
  EXPECT_EQ(r.d.GetZReportCounter(), 0);
  ASSERT_TRUE(r.d.ReducaoZ(DateTime::fromParts(2026, 12, 4, 18, 0, 0))) << r.d.strLastError;
  EXPECT_EQ(r.d.GetZReportCounter(), 1);
  EXPECT_DOUBLE_EQ(r.d.GetUserGrandTotal(), 7.5);
  std::string serial;
  ASSERT_TRUE(r.d.ReadSerialNumber(serial));
  EXPECT_EQ(serial, text::trim(r.core->identity().serial));
  EXPECT_EQ(r.d.GetRestartCounter(), r.core->counters().cro);
}

TEST(SwedaClassicVirtual, ResettingTheTitlesReadsThemBack) {
  Rig r;
  ASSERT_LT(r.core->titleIndex("TROCO"), 0);  // the fresh printer lacks it
  r.d.arNonFiscalTitles.clear();
  ASSERT_TRUE(r.d.ResetNonFiscalTitles()) << r.d.strLastError;
  auto has = [&](const std::string& entry) {
    for (const std::string& t : r.d.arNonFiscalTitles)
      if (t.size() > 3 && t.substr(3) == entry) return true;
    return false;
  };
  EXPECT_TRUE(has("-,SANGRIA")) << testing::PrintToString(r.d.arNonFiscalTitles);
  EXPECT_TRUE(has("+,TROCO")) << testing::PrintToString(r.d.arNonFiscalTitles);
  EXPECT_GE(r.core->titleIndex("PAGAMENTO VALE"), 0);
  // The titles read back are the ones a receipt is given by name.
  const int64_t before = r.core->counters().coo;
  EXPECT_TRUE(r.d.NonFiscalReceipt(10, "TROCO", r.d.arPaymentTypes.at(0))) << r.d.strLastError;
  EXPECT_EQ(r.core->counters().coo, before + 1);
  EXPECT_FALSE(r.core->receiptOpen());
}

TEST(SwedaClassicVirtual, ChecksInTheStation) {
  Rig r(true);
  platform::setPromptHandler([&](const platform::PromptRequest&) {
    r.printer->setDocumentInserted(true);
    return platform::PromptAnswer::Ok;
  });
  std::string cmc7;
  EXPECT_TRUE(r.d.SetCheckConfiguration("REAL", "REAIS", "SAO PAULO", "", DateTime(), DateTime())) << r.d.strLastError;
  EXPECT_TRUE(r.d.ReadAndPrintCheck(10, "001", cmc7)) << r.d.strLastError;
  EXPECT_EQ(cmc7.size(), 30u);
  platform::setPromptHandler(nullptr);
}

// A command the printer's state does not allow is answered with its code and
// text, and the driver's message carries both.
TEST(SwedaClassicVirtual, WrongStateCommandsGetTheBracketedRefusal) {
  struct Case {
    const char* what;
    std::function<BOOL(CSweda&)> run;
    const char* error;
  };
  const Case closed[] = {
      {"pay with no receipt", [](CSweda& d) { return d.RegistraPagamento(d.arPaymentTypes.at(0), 1); },
       "(0058) CUPOM NAO ABERTO"},
      {"cancel an item with no receipt", [](CSweda& d) { return d.CancelaItemFiscal(1, "", 0, 0, 0, 0); },
       "(0058) CUPOM NAO ABERTO"},
      {"sell with no receipt", [](CSweda& d) { return d.RegistraItemFiscal("1", "X", "UN", 18, 1, 1, 0); },
       "(0058) CUPOM NAO ABERTO"},
  };
  Rig r;
  for (const Case& c : closed) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(c.run(r.d));
    EXPECT_EQ(r.d.strLastError, c.error);
    EXPECT_EQ(r.d.lastOutcome, exchange::Outcome::Refused);
  }
  ASSERT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;
  const Case open[] = {
      {"open twice", [](CSweda& d) { return d.AbreCupomFiscal(); }, "(0058) CUPOM JA ABERTO"},
      {"cancel a missing item", [](CSweda& d) { return d.CancelaItemFiscal(9, "", 0, 0, 0, 0); },
       "(0006) ITEM INVALIDO"},
      {"discount before any item", [](CSweda& d) { return d.TotalizaCupomFiscalDesconto(1, 0); },
       "(0008) TOTAL IGUAL A ZERO"},
  };
  for (const Case& c : open) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(c.run(r.d));
    EXPECT_EQ(r.d.strLastError, c.error);
  }
  EXPECT_TRUE(r.core->receiptOpen());
}

}  // namespace
