// Checks on the Bematech family, through the control as a host drives them:
// InitializeCheckPrinter with the check printer names of the family (rows 1 to
// 4 and 7 of the check table), then the check operations on a scripted printer,
// with the operator scripted too.
#include <gtest/gtest.h>

#include "bematech_fake_printer.h"
#include "control/ctrl_state.h"
#include "core/text.h"
#include "tarvion/tarvion.hpp"
#include "test_support.h"

using namespace tarvion;
using namespace bematest;
using text::cp;

namespace {

double day(int y, int m, int d) {
  return DateTime::fromParts(y, m, d).automationDate();
}

// A control with a scripted printer on its port, initialised as a check printer.
class CheckRig {
 public:
  CheckRig(int port, bool fs) : port_(port) {
    printer = std::make_shared<FakeBematech>();
    printer->fs = fs;
    printer->data[{35, 1}] = {0x03, 0x10};
    ports::attachVirtual(port, std::make_shared<VirtualDevice>(printer));
    c = std::make_unique<CTarvionCtrl>();
  }
  ~CheckRig() {
    c.reset();
    ports::detachVirtual(port_);
  }
  bool init(const std::string& name) {
    const bool ok = c->InitializeCheckPrinter(name, port_, 9600, 0, 8, 1) != 0;
    printer->take();
    return ok;
  }
  std::string className() { return c->state().check ? c->state().check->ClassName() : ""; }
  // The check-print command 57 as the printer receives it.
  static ByteArray check57(const std::string& value, const std::string& payee, const std::string& city,
                           const std::string& date, const std::string& bank) {
    ByteArray b = body(57, value + pad(payee, 45) + pad(city, 27) + date + bank + " ");
    b.push_back(0);
    return b;
  }

  std::shared_ptr<FakeBematech> printer;
  std::unique_ptr<CTarvionCtrl> c;

 private:
  int port_;
};

const ByteArray kSensor{62, '0'};

}  // namespace

TEST(BematechChecks, TheMP40PrintsWithCommand57) {
  testsupport::TempDir tmp;
  CheckRig r(330, false);
  ASSERT_TRUE(r.init("BEMATECH MP-40 FI II ECF-IF"));
  EXPECT_EQ(r.className(), "CBematech");
  // The currency names go to the printer (cut to 19 and 22); city and payee wait for the check.
  ASSERT_EQ(r.c->SetCheckConfiguration("Dólar", "Dólares americanos do norte", "Recife", "Maria da Silva",
                                       day(2026, 12, 4), day(2027, 1, 4)),
            1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(58, "Dolar"), body(59, "Dolares americanos do ")}));

  // A bank outside the list prints with "###"; the driver then waits for the
  // document: 0x08 (slot empty) must go and 0x04, 0x20, 0x40 be there.
  int polls = 0;
  r.printer->hook = [&](const ByteArray& b, ByteArray& reply) {
    if (b != kSensor) return false;
    reply = {static_cast<uint8_t>(++polls < 3 ? 0x6C : 0x64), 0, 0};
    return true;
  };
  ASSERT_EQ(r.c->PrintCheck(123.45, "999"), 1) << r.c->UltimoErro();
  EXPECT_EQ(polls, 3);
  EXPECT_EQ(r.printer->take(),
            (std::vector<ByteArray>{CheckRig::check57("00000000012345", "Maria da Silva", "Recife", "04122026", "###"),
                                    kSensor, kSensor, kSensor}));
  // Known banks go as they are, a short number with its zeros.
  polls = 10;
  ASSERT_EQ(r.c->PrintCheck(10, "1"), 1);
  ASSERT_EQ(r.c->PrintCheck(10, "341"), 1);
  ASSERT_EQ(r.c->PrintCheck(10, "342"), 1);
  const auto sent = r.printer->take();
  ASSERT_EQ(sent.size(), 6u);
  EXPECT_EQ(std::string(sent[0].end() - 5, sent[0].end() - 2), "001");
  EXPECT_EQ(std::string(sent[2].end() - 5, sent[2].end() - 2), "341");
  EXPECT_EQ(std::string(sent[4].end() - 5, sent[4].end() - 2), "###");
}

TEST(BematechChecks, TheMP50HasNoReaderButPrints) {
  testsupport::TempDir tmp;
  CheckRig r(331, true);
  ASSERT_TRUE(r.init("BEMATECH MP-50 FI"));
  EXPECT_EQ(r.className(), "CBematechMP25");
  EXPECT_EQ(r.c->CanReadCheck(), 0);
  std::string info = "old";
  ASSERT_EQ(r.c->ReadCheck(1, info), 1);
  EXPECT_EQ(info, "");
  EXPECT_TRUE(r.printer->take().empty());
  r.printer->data[kSensor] = {0x64};
  ASSERT_EQ(r.c->ReadAndPrintCheck(1, "237", info), 1) << r.c->UltimoErro();
  const auto sent = r.printer->take();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0][0], 57);
  EXPECT_EQ(sent[1], kSensor);
}

TEST(BematechChecks, TheMP6000ReadsTheCmc7Line) {
  testsupport::TempDir tmp;
  CheckRig r(332, true);
  ASSERT_TRUE(r.init("BEMATECH MP-6000 TH FI"));
  EXPECT_EQ(r.className(), "CBematechMP6000");
  EXPECT_NE(r.c->CanReadCheck(), 0);
  r.printer->data[{76}] = bytes("<34191570<0180000455>500007651286");
  std::string info;
  ASSERT_EQ(r.c->ReadCheck(0, info), 1) << r.c->UltimoErro();
  EXPECT_EQ(info, "341915700180000455500007651286");
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{76}}));
  // Blanks and every field mark go; the letters stay on this model.
  r.printer->data[{76}] = bytes("=123/456^789 a<b>c" + std::string(14, '0'));
  ASSERT_EQ(r.c->ReadCheck(1, info), 1);
  EXPECT_EQ(info, "123456789abc" + std::string(14, '0'));
  // Too short to hold a CMC-7 line.
  r.printer->data[{76}] = bytes("<3419157");
  EXPECT_EQ(r.c->ReadCheck(1, info), 0);
  EXPECT_EQ(r.c->UltimoErro(), "Não foi possível ler o CMC7 do cheque.");
  r.printer->take();
  // Read, then print on the same check.
  r.printer->data[{76}] = bytes("<34191570<0180000455>500007651286");
  r.printer->data[kSensor] = {0x64};
  ASSERT_EQ(r.c->ReadAndPrintCheck(50, "104", info), 1) << r.c->UltimoErro();
  EXPECT_EQ(info, "341915700180000455500007651286");
  const auto sent = r.printer->take();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], ByteArray{76});
  EXPECT_EQ(sent[1][0], 57);
  EXPECT_EQ(sent[2], kSensor);
}

TEST(BematechChecks, TheMP7000AsksTheOperatorForTheCheck) {
  testsupport::TempDir tmp;
  CheckRig r(333, true);
  ASSERT_TRUE(r.init("BEMATECH MP-7000 TH FI"));
  EXPECT_EQ(r.className(), "CBematechMP7000");
  ASSERT_EQ(r.c->SetCheckConfiguration("", "", "Natal", std::string(90, 'P'), day(2026, 12, 4), day(2026, 12, 4)), 1);
  r.printer->take();

  {
    // The slot is empty and the operator cancels: the check is let go and the call fails.
    ScriptedPrompts operatorSays({ScriptedPrompts::Answer::Cancel});
    r.printer->data[kSensor] = {0x00};
    EXPECT_EQ(r.c->PrintCheck(10, "001"), 0);
    EXPECT_EQ(r.c->UltimoErro(), "Operação cancelada pelo usuário.");
    ASSERT_EQ(operatorSays.asked.size(), 1u);
    EXPECT_EQ(operatorSays.asked[0].kind, ScriptedPrompts::Kind::OkCancel);
    EXPECT_EQ(operatorSays.asked[0].title, cp("Atenção"));
    EXPECT_EQ(operatorSays.asked[0].message, cp("Insira o cheque na impressora."));
    EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{kSensor, {62}}));
    // The reading asks the same way.
    std::string info;
    EXPECT_EQ(r.c->ReadCheck(1, info), 0);
    EXPECT_EQ(r.c->UltimoErro(), "Operação cancelada pelo usuário.");
    EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{kSensor, {62}}));
  }
  {
    // OK after putting the check in: printed with 62 "L" and an 80-column payee,
    // then the operator is told to wait and take the check out.
    ScriptedPrompts operatorSays({ScriptedPrompts::Answer::Ok});
    operatorSays.onAsk = [&](const platform::PromptRequest& q) {
      if (q.kind == ScriptedPrompts::Kind::OkCancel) r.printer->data[kSensor] = {0x49};
    };
    ASSERT_EQ(r.c->PrintCheck(123.45, "033"), 1) << r.c->UltimoErro();
    ASSERT_EQ(operatorSays.asked.size(), 2u);
    EXPECT_EQ(operatorSays.asked[1].kind, ScriptedPrompts::Kind::Ok);
    EXPECT_EQ(operatorSays.asked[1].message, cp("Aguarde o final da impressão e retire o cheque da impressora."));
    ByteArray print = body(62, "L00000000012345" + std::string(80, 'P') + pad("Natal", 27) + "04122026" + "033 ");
    print.push_back(0);
    EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{kSensor, print, kSensor}));
  }
  {
    // A check already in place: no question; the reading drops the letters a to e.
    ScriptedPrompts operatorSays;
    r.printer->data[kSensor] = {0x49};
    r.printer->data[{76}] = bytes("a34191570a0180000455b500007651286c");
    std::string info;
    ASSERT_EQ(r.c->ReadCheck(1, info), 1) << r.c->UltimoErro();
    EXPECT_EQ(info, "341915700180000455500007651286");
    EXPECT_TRUE(operatorSays.asked.empty());
    // The other models' "present" bits are not this model's.
    r.printer->data[kSensor] = {0x64};
    EXPECT_EQ(r.c->ReadCheck(1, info), 0);
    EXPECT_EQ(operatorSays.asked.size(), 1u);
  }
  // Letting the check go on its own: bare 62.
  r.printer->take();
  ASSERT_EQ(r.c->ReleaseCheck(), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{62}}));
}

TEST(BematechChecks, TheIbm4610WaitsForTheDocumentAndGivesUp) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  CheckRig r(334, true);
  ASSERT_TRUE(r.init("IBM 4610 SUREMARK"));
  EXPECT_EQ(r.className(), "CIBM4610");
  std::string info;
  ASSERT_EQ(r.c->ReadCheck(1, info), 1);
  EXPECT_EQ(info, "");
  // The printer takes the check command and then says nothing more.
  r.printer->hook = [&](const ByteArray& b, ByteArray&) {
    if (b[0] == 57) r.printer->silent = true;
    return false;
  };
  auto dev = ports::virtualAt(334);
  const int64_t start = dev->clock().nowUs();
  EXPECT_EQ(r.c->PrintCheck(10, "001"), 0);
  EXPECT_EQ(r.c->UltimoErro(), "Timeout aguardando resposta da impressora.");
  EXPECT_GE(dev->clock().nowUs() - start, 120'000'000);
  EXPECT_LT(dev->clock().nowUs() - start, 121'000'000);
  const std::string log = testsupport::readFile(tmp.logPath());
  EXPECT_NE(log.find("CIBM4610::WaitCheckEvent{Retorno=FALSE}"), std::string::npos);
  EXPECT_NE(log.find("CIBM4610::PrintCheck{Retorno=FALSE}"), std::string::npos);
}
