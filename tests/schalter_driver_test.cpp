// The Schalter driver on the virtual wire (simulated clock) against a scripted
// printer: the frames each operation writes, the pending linked-receipt walk,
// the table reads, refusals before anything is sent, and what becomes of a
// command whose answer is missing or cut.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "core/text.h"
#include "core/virtual_wire.h"
#include "driver_port.h"
#include "drivers/schalter/CSchalterECFIF.h"
#include "emulator/printer_face.h"

using namespace tarvion;
using namespace tarvion::emulator;
using text::cp;

namespace {

ByteArray bytes(const std::string& s) {
  return ByteArray(s.begin(), s.end());
}

// A reply of `size` bytes: the status, then `body` from the second byte, NULs after.
ByteArray reply(uint8_t status, size_t size = 1, const std::string& body = {}) {
  ByteArray r(size, 0);
  r[0] = status;
  for (size_t i = 0; i < body.size() && i + 1 < size; ++i) r[i + 1] = static_cast<uint8_t>(body[i]);
  return r;
}

// The end of the pending registers.
ByteArray noPending() {
  return reply(0, 60, "00N");
}

// Answers each write with the next scripted reply and keeps the writes.
class ScriptFace final : public PrinterFace {
 public:
  void receive(const uint8_t* data, size_t n, ReplySink& out) override {
    requests.emplace_back(data, data + n);
    if (replies.empty()) return;
    out.send(replies.front(), 0);
    replies.pop_front();
  }
  std::string modelName() const override { return "SCRIPT"; }
  std::deque<ByteArray> replies;
  std::vector<ByteArray> requests;
};

struct Rig {
  static constexpr int kPort = 761;
  std::shared_ptr<ScriptFace> face = std::make_shared<ScriptFace>();
  std::shared_ptr<VirtualDevice> dev;
  CSchalterECFIF d;
  Rig() {
    dev = makeVirtualDevice(face);
    ports::attachVirtual(kPort, dev);
    testsupport::usePort(d, kPort);
    EXPECT_TRUE(d.OpenComm(0)) << d.strLastError;
    d.arTaxes = {"00,18,00", "01,07,00"};
    d.arPaymentTypes = {"00,DINHEIRO", "01,CARTAO"};
  }
  ~Rig() {
    d.CloseComm();
    ports::detachVirtual(kPort);
  }
};

}  // namespace

TEST(SchalterDriver, OpeningWalksThePendingRegistersFirst) {
  Rig r;
  r.face->replies = {noPending(), reply(27)};
  ASSERT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;  // status 27 is a success
  ASSERT_EQ(r.face->requests.size(), 2u);
  EXPECT_EQ(r.face->requests[0], (ByteArray{0x1B, 0x66, 0xE7, 0x30, 0x30, 0x38}));
  EXPECT_EQ(r.face->requests[1], (ByteArray{0x1B, 0x66, 0x01, 0x26, 0x58}));
}

TEST(SchalterDriver, APendingLinkedReceiptIsPrintedAndClosed) {
  Rig r;
  // Register 00 holds 12,50 of CARTAO; register 01 ends the walk.
  std::string pending = "00S" + std::string("CARTAO") + std::string(14, ' ') + "000000001250";
  r.face->replies = {reply(0, 60, pending),
                     reply(0, 31, "000001" + std::string(1, '\0') + "000042"),
                     reply(0),
                     reply(0),
                     noPending(),
                     reply(0)};
  ASSERT_TRUE(r.d.LeituraX()) << r.d.strLastError;
  ASSERT_EQ(r.face->requests.size(), 6u);
  // The linked receipt: receipt 42, printer index 01, 12,50.
  const std::string open =
      "\x1B\x66\xDE"
      "000042"
      "01"
      "000001250";
  ByteArray expected = bytes(open);
  unsigned sum = 0;
  for (uint8_t b : expected) sum += b;
  expected.push_back(static_cast<uint8_t>(0x100 - (sum & 0xFF)));
  EXPECT_EQ(r.face->requests[2], expected);
  EXPECT_EQ(r.face->requests[3], bytes(std::string("\x1B\x66\x06\x00\x00        \x79", 14)));
  EXPECT_EQ(r.face->requests[4], (ByteArray{0x1B, 0x66, 0xE7, 0x30, 0x31, 0x37}));
  EXPECT_EQ(r.face->requests[5][2], 0x14);
}

TEST(SchalterDriver, ItemTaxCodesAndTheDiscountThatFollows) {
  struct Case {
    double rate;
    const char* code;
  };
  const Case cases[] = {{0, "17"}, {-1, "16"}, {-2, "18"}, {18, "00"}, {7, "01"}};
  for (const Case& c : cases) {
    Rig r;
    r.face->replies = {reply(0)};
    ASSERT_TRUE(r.d.RegistraItemFiscal("789", "CAFE", "", c.rate, 1.5, 3.5, 0)) << r.d.strLastError;
    ASSERT_EQ(r.face->requests.size(), 1u);
    const ByteArray& f = r.face->requests[0];
    ASSERT_EQ(f.size(), 3u + 4 + 13 + 1 + 62 + 7 + 1 + 2 + 10 + 9 + 2 + 1);
    const std::string params(f.begin() + 3, f.end() - 1);
    EXPECT_EQ(params, std::string(4, '\0') + "789          " + std::string(1, '\0') + "CAFE" + std::string(58, ' ') +
                          "001,500" + "x" + "PC" + std::string(10, '\0') + "000000350" + c.code)
        << c.rate;
  }
  Rig r;
  r.face->replies = {reply(0), reply(0)};
  ASSERT_TRUE(r.d.RegistraItemFiscal("1", "A", "KG", 0, 1500, 1, 0.5)) << r.d.strLastError;
  ASSERT_EQ(r.face->requests.size(), 2u);
  EXPECT_NE(std::string(r.face->requests[0].begin(), r.face->requests[0].end()).find("01500,0xKG"), std::string::npos);
  ByteArray discount{0x1B, 0x66, 0xD3, 0x03, 0x00, 0x00};
  discount.insert(discount.end(), 65, 0x00);
  for (char ch : std::string("000000050")) discount.push_back(static_cast<uint8_t>(ch));
  discount.push_back(0xF4);
  EXPECT_EQ(r.face->requests[1], discount);
}

TEST(SchalterDriver, RefusedBeforeAnythingIsSent) {
  Rig r;
  EXPECT_FALSE(r.d.RegistraItemFiscal("1", "A", "UN", 0, 1, 1, -0.01));
  EXPECT_EQ(r.d.strLastError, cp("Este ECF não permite o lançamento de acréscimo no item."));
  EXPECT_FALSE(r.d.RegistraItemFiscal("1", "A", "UN", 12, 1, 1, 0));
  EXPECT_EQ(r.d.strLastError, cp("Alíquota de 12,00% não cadastrada na impressora."));
  EXPECT_FALSE(r.d.RegistraItemFiscal("1", "A", "UN", 0, 1, 10000000, 0));  // price wider than its field
  EXPECT_FALSE(r.d.RegistraPagamento("CHEQUE", 10));
  EXPECT_EQ(r.d.strLastError, cp("Forma de pagamento não cadastrada na impressora."));
  EXPECT_FALSE(r.d.NonFiscalReceipt(0, "SANGRIA", ""));
  EXPECT_EQ(r.d.strLastError, "O valor deve ser maior que zero.");
  std::string report;
  EXPECT_FALSE(r.d.LeituraXSerial(report));
  EXPECT_EQ(r.d.strLastError, cp("Este ECF não permite leitura X pela interface serial."));
  EXPECT_TRUE(r.face->requests.empty());
}

TEST(SchalterDriver, StatusRefusalsAndUnreadableAnswers) {
  {
    Rig r;
    r.face->replies = {reply(69)};
    EXPECT_FALSE(r.d.CancelaItemFiscal(2, "", 0, 0, 0, 0));
    EXPECT_EQ(r.d.strLastError, cp("Não começou venda"));
    EXPECT_EQ(r.d.lastOutcome, exchange::Outcome::Refused);
    ByteArray cancel = bytes(
        "\x1B\x66\xD4"
        "0002");
    cancel.insert(cancel.end(), 30, 0x00);
    cancel.push_back(0xE9);
    EXPECT_EQ(r.face->requests.at(0), cancel);
  }
  {
    Rig r;
    // A first byte that is no status is noise: the command may have run.
    r.face->replies = {reply(200)};
    EXPECT_FALSE(r.d.OpenCashDrawer());
    EXPECT_EQ(r.d.strLastError, cp("Resposta inválida da impressora."));
    EXPECT_EQ(r.d.lastOutcome, exchange::Outcome::MayHaveRun);
    EXPECT_EQ(r.face->requests.size(), 1u);
  }
  {
    // No answer at all: the command may have run and is not written again.
    Rig r;
    EXPECT_FALSE(r.d.RegistraPagamento("CARTAO", 10));
    EXPECT_EQ(r.d.lastOutcome, exchange::Outcome::MayHaveRun);
    EXPECT_EQ(r.face->requests.size(), 1u);
  }
  {
    // A read answered with success but cut short.
    Rig r;
    r.face->replies = {reply(0, 10)};
    std::string n;
    EXPECT_FALSE(r.d.RetornaNumeroCupom(n));
    EXPECT_EQ(r.d.strLastError, cp("Resposta inválida da impressora."));
    EXPECT_EQ(r.face->requests.size(), 1u);
  }
}

TEST(SchalterDriver, TablesAreReadEntryByEntry) {
  Rig r;
  for (int i = 0; i < 16; ++i) r.face->replies.push_back(i == 2 ? reply(0, 9, "02T17,50") : reply(0, 9, "00N"));
  ASSERT_TRUE(r.d.LoadTaxes()) << r.d.strLastError;
  EXPECT_EQ(r.d.arTaxes, std::vector<std::string>{"02,17,50"});
  EXPECT_EQ(r.face->requests.size(), 16u);
  EXPECT_EQ(r.face->requests[15], (ByteArray{0x1B, 0x66, 0xE1, '1', '5', 0x38}));
  EXPECT_EQ(r.d.TaxCode(17.5), "02");

  r.face->requests.clear();
  for (int i = 0; i < 20; ++i)
    r.face->replies.push_back(
        i == 1 ? reply(0, 41, "01S" + std::string(1, '\0') + "CHEQUE" + std::string(15, ' ') + "          80,25")
               : reply(0, 41, "00N"));
  ASSERT_TRUE(r.d.LoadPaymentTypes(kTrue)) << r.d.strLastError;
  EXPECT_EQ(r.d.arPaymentTypes, std::vector<std::string>{"01,CHEQUE"});
  ASSERT_EQ(r.d.arPaymentValues.size(), 1u);
  EXPECT_DOUBLE_EQ(r.d.arPaymentValues[0], 80.25);
  EXPECT_EQ(r.d.PaymentIndex("cheque"), "01");

  r.face->requests.clear();
  for (int i = 0; i < 20; ++i) r.face->replies.push_back(i == 0 ? reply(0, 24, "00SSANGRIA") : reply(0, 24, "00N"));
  ASSERT_TRUE(r.d.LoadNonFiscalTitles()) << r.d.strLastError;
  EXPECT_EQ(r.d.arNonFiscalTitles, std::vector<std::string>{"00,&,SANGRIA"});
}

TEST(SchalterDriver, ReportLinesGoRawOneCommandEach) {
  Rig r;
  r.face->replies = {reply(0), reply(0)};
  ASSERT_TRUE(r.d.ImprimeRelatorioGerencial("AB\nCD")) << r.d.strLastError;
  ASSERT_EQ(r.face->requests.size(), 2u);
  EXPECT_EQ(r.face->requests[0], (ByteArray{0x1B, 0x6E, 'A', 'B', 0x00, 0x0A}));
  EXPECT_EQ(r.face->requests[1], (ByteArray{0x1B, 0x6E, 'C', 'D', 0x00, 0x0A}));
}

TEST(SchalterDriver, TheIdentityReadIsAskedOnceMoreWhenCutShort) {
  {
    Rig r;
    r.face->replies = {reply(0, 10), reply(0, 45, std::string(34, ' ') + "SC0012345"),
                       reply(0, 31, "000007" + std::string(1, '\0') + "000123")};
    ASSERT_TRUE(r.d.ReadFiscalInformation()) << r.d.strLastError;
    EXPECT_EQ(r.d.strSerialNumber, "SC0012345");
    EXPECT_EQ(r.d.intPrinterID, 7);
    EXPECT_EQ(r.d.intFinalOperation, 123);
    EXPECT_EQ(r.face->requests.size(), 3u);
  }
  {
    Rig r;
    r.face->replies = {reply(0, 10), reply(0, 10)};
    EXPECT_FALSE(r.d.ReadFiscalInformation());
    EXPECT_EQ(r.d.strLastError, cp("Não foi possível ler o número de série."));
    EXPECT_EQ(r.face->requests.size(), 2u);
  }
}
