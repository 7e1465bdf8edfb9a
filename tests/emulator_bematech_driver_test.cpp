// The library's own Bematech driver against the virtual printer, end to end on
// the virtual wire: what a POS developer sees when testing without hardware.
#include <gtest/gtest.h>

#include "core/text.h"
#include "driver_port.h"
#include "drivers/bematech/CBematech.h"
#include "drivers/bematech/CBematech2100.h"
#include "emulator/bematech/printer.h"
#include "emulator/paper.h"
#include "emulator/printers.h"
#include "tap_face.h"
#include "tarvion/tarvion.hpp"

using namespace tarvion;
using namespace tarvion::emulator;

namespace {

using testsupport::Tap;

template <class Driver>
struct DriverRig {
  static constexpr int kPort = 741;
  int64_t hostNow = toSeconds(Stamp{2026, 12, 4, 9, 30, 0});
  std::shared_ptr<FiscalCore> core;
  std::shared_ptr<Paper> paper = std::make_shared<Paper>(48);
  std::shared_ptr<BematechPrinter> printer;
  std::shared_ptr<Tap> tap;
  std::shared_ptr<VirtualDevice> dev;
  Driver d;

  explicit DriverRig(int model) {
    core = std::make_shared<FiscalCore>(FiscalCore::Options{"", [this] { return hostNow; }});
    core->setPaper(paper);
    BematechModel m;
    EXPECT_TRUE(BematechModel::byNumber(model, m));
    printer = std::make_shared<BematechPrinter>(core, m);
    tap = std::make_shared<Tap>(printer);
    dev = makeVirtualDevice(tap);
    ports::attachVirtual(kPort, dev);
    testsupport::usePort(d, kPort);
  }
  ~DriverRig() {
    d.CloseComm();
    ports::detachVirtual(kPort);
  }
};

}  // namespace

TEST(EmulatedBematech, TheDriverSellsReadsAndClosesTheDay) {
  DriverRig<CBematech> r(1);
  ASSERT_TRUE(r.d.OpenComm(0)) << r.d.strLastError;
  ASSERT_TRUE(r.d.LoadTaxes()) << r.d.strLastError;
  ASSERT_EQ(r.d.arTaxes.size(), 5u);
  EXPECT_EQ(r.d.arTaxes[1], "T18.00");
  EXPECT_EQ(r.d.arTaxes[4], "S05.00");
  ASSERT_TRUE(r.d.LoadPaymentTypes(kTrue)) << r.d.strLastError;
  ASSERT_GE(r.d.arPaymentTypes.size(), 3u);
  EXPECT_EQ(r.d.arPaymentTypes[2], "Cartao");

  ASSERT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;
  BOOL open = kFalse;
  ASSERT_TRUE(r.d.CupomFiscalAberto(open));
  EXPECT_TRUE(open);
  // A second opening: the printer's own refusal, in the driver's words.
  EXPECT_FALSE(r.d.AbreCupomFiscal());
  EXPECT_NE(r.d.strLastError.find(text::cp("Cupom aberto.")), std::string::npos);
  ASSERT_TRUE(r.d.RegistraItemFiscal("7891234567890", "CAFE 500G", "UN", 18.0, 2.0, 12.5, 0.0)) << r.d.strLastError;
  ASSERT_TRUE(r.d.RegisterService("S1", "ENTREGA", "UN", 5.0, 1.0, 7.0, 0.0)) << r.d.strLastError;
  ASSERT_TRUE(r.d.TotalizaCupomFiscalDesconto(2.0, 0)) << r.d.strLastError;
  ASSERT_TRUE(r.d.RegistraPagamento("Cartao", 10.0)) << r.d.strLastError;
  ASSERT_TRUE(r.d.RegistraPagamento("Dinheiro", 50.0)) << r.d.strLastError;
  ASSERT_TRUE(r.d.FechaCupomFiscal("OBRIGADO", 0)) << r.d.strLastError;
  EXPECT_FALSE(r.core->receiptOpen());
  EXPECT_EQ(r.core->lastReceipt().total, 2500 + 700 - 200);
  EXPECT_EQ(r.core->lastReceipt().change, 3000);
  EXPECT_EQ(r.core->day().perTax.at("01"), 2500);
  EXPECT_EQ(r.core->day().perTax.at("04"), 700);
  std::string number;
  ASSERT_TRUE(r.d.RetornaNumeroCupom(number));
  EXPECT_EQ(number, "000001");
  EXPECT_NEAR(r.d.GetFinalGrandTotal(), 32.00, 1e-9);
  EXPECT_NEAR(r.d.GetDiscountTotal(), 2.00, 1e-9);
  EXPECT_NEAR(r.d.GetSaleTotal(), 32.00, 1e-9);

  std::string x;
  ASSERT_TRUE(r.d.LeituraXSerial(x)) << r.d.strLastError;
  EXPECT_NE(x.find("GT: 32,00"), std::string::npos);
  ASSERT_TRUE(r.d.ReducaoZ(DateTime::fromParts(2026, 12, 4, 9, 31, 0))) << r.d.strLastError;
  EXPECT_EQ(r.d.GetZReportCounter(), 1);
  EXPECT_EQ(r.core->fiscalMemory().size(), 1u);
  // After its reduction the day takes no more sales.
  EXPECT_FALSE(r.d.AbreCupomFiscal());
  std::string memory;
  ASSERT_TRUE(r.d.LeituraMFSerialReducao(1, 1, memory, kFalse)) << r.d.strLastError;
  EXPECT_NE(memory.find("CRZ 0001"), std::string::npos);
  EXPECT_NE(r.paper->printed().find("CAFE 500G"), std::string::npos);
}

TEST(EmulatedBematech, AnFsModelReportsTheExtendedStatusText) {
  DriverRig<CBematech2100> r(3);
  ASSERT_TRUE(r.d.OpenComm(0)) << r.d.strLastError;
  ASSERT_TRUE(r.d.LoadTaxes()) << r.d.strLastError;
  // Closing with nothing open: ST2 "command not executed" and ST3 "receipt closed".
  EXPECT_FALSE(r.d.FechaCupomFiscal("", 0));
  EXPECT_NE(r.d.strLastError.find(text::cp("Comando não executado.")), std::string::npos) << r.d.strLastError;
  EXPECT_NE(r.d.strLastError.find(text::cp("Cupom fiscal fechado.")), std::string::npos) << r.d.strLastError;
  // The link goes dead after two more commands: the driver reports the failure.
  r.printer->setFaults("cut=2");
  EXPECT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;
  EXPECT_TRUE(r.d.CancelaCupomFiscal()) << r.d.strLastError;
  EXPECT_FALSE(r.d.AbreCupomFiscal());
  EXPECT_FALSE(r.core->receiptOpen());
  EXPECT_FALSE(r.d.strLastError.empty());
}

// Each injected fault ends in the driver's message within its time limit on the
// simulated clock: never a hang, and the next command works again.
TEST(EmulatedBematech, FaultsGiveTheirMessagesWithinTheTimeLimits) {
  DriverRig<CBematech> r(1);
  ASSERT_EQ(r.d.OpenComm(0), 1) << r.d.strLastError;
  VirtualClock& clock = r.dev->clock();
  auto elapsedMs = [&](int64_t t0) { return (clock.nowUs() - t0) / 1000; };

  r.printer->setFaults("nak,once");
  int64_t t0 = clock.nowUs();
  EXPECT_EQ(r.d.AbreCupomFiscal(), 0);
  EXPECT_EQ(r.d.strLastError, "Timeout enviando comando para a impressora.");
  EXPECT_LT(elapsedMs(t0), 1000);
  EXPECT_FALSE(r.core->receiptOpen());  // a refused frame is not executed

  r.printer->setFaults("noanswer,once");
  t0 = clock.nowUs();
  EXPECT_EQ(r.d.AbreCupomFiscal(), 0);
  EXPECT_EQ(r.d.strLastError, "Timeout aguardando resposta da impressora.");
  EXPECT_GE(elapsedMs(t0), 120000);
  EXPECT_LT(elapsedMs(t0), 121000);

  r.printer->setFaults("garbage,once");
  t0 = clock.nowUs();
  EXPECT_EQ(r.d.LeituraX(), 0);  // noise: read as error bits, or too few bytes to ever finish
  EXPECT_FALSE(r.d.strLastError.empty());
  EXPECT_LE(elapsedMs(t0), 120400);

  r.printer->setFaults("slow=2000,once");
  t0 = clock.nowUs();
  EXPECT_EQ(r.d.AbreCupomFiscal(), 1) << r.d.strLastError;  // a slow printer is still within the wait
  EXPECT_GE(elapsedMs(t0), 2000);
  EXPECT_TRUE(r.core->receiptOpen());

  r.printer->setFaults("short,once");
  t0 = clock.nowUs();
  // The printer carried the command out, but its status never arrives whole.
  EXPECT_EQ(r.d.CancelaCupomFiscal(), 0);
  EXPECT_EQ(r.d.strLastError, "Timeout aguardando resposta da impressora.");
  EXPECT_LE(elapsedMs(t0), 120400);
  EXPECT_FALSE(r.core->receiptOpen());

  r.printer->setFaults("cut=1");
  EXPECT_EQ(r.d.AbreCupomFiscal(), 1) << r.d.strLastError;
  t0 = clock.nowUs();
  EXPECT_EQ(r.d.CancelaCupomFiscal(), 0);
  EXPECT_EQ(r.d.strLastError.rfind("(", 0), 0u) << r.d.strLastError;  // the system's error of a dead line
  EXPECT_LT(elapsedMs(t0), 121000);
}

// What a host sees right after opening the port with information reading: the
// printer's tax table through the control's tax properties.
TEST(EmulatedBematech, TaxTableIsReadableRightAfterOpening) {
  auto printer = makePrinter(1, "", "");
  ASSERT_NE(printer, nullptr);
  ports::attachVirtual(742, makeVirtualDevice(printer));
  CTarvionCtrl c;
  ASSERT_EQ(c.InitializeECF(1, 742, 9600, 0, 8, 1, 0, 1, 1), 1) << c.UltimoErro();
  EXPECT_EQ(c.TaxesCount(), 4);
  EXPECT_DOUBLE_EQ(c.TaxPercents(0), 18.0);
  EXPECT_DOUBLE_EQ(c.TaxPercents(2), 7.0);
  EXPECT_EQ(c.TaxTitles(3), "S05.00");
  EXPECT_DOUBLE_EQ(c.TaxPercents(4), 0.0);
  std::string list;
  c.RetornaAliquotas(list);
  EXPECT_EQ(list, "T18.00, T12.00, T07.00, S05.00");
  c.CloseComm();
  ports::detachVirtual(742);
}

// The bytes on the line, pinned: what the driver sends for a few operations and
// what the virtual printer answers, each written out by hand. A framing,
// checksum or status mistake on either side changes one of them.
TEST(EmulatedBematech, TheBytesOnTheLineForEachSide) {
  struct Case {
    const char* what;
    int model;
    ByteArray request, reply;
  };
  const Case cases[] = {
      {"status probe, ESC", 1, {0x02, 0x04, 0x00, 0x1B, 0x13, 0x2E, 0x00}, {0x06, 0x00, 0x00}},
      {"status probe, FS", 3, {0x02, 0x04, 0x00, 0x1C, 0x13, 0x2F, 0x00}, {0x06, 0x00, 0x00, 0x00, 0x00}},
      // Firmware 3.30: two BCD bytes before the status.
      {"firmware read, ESC", 1, {0x02, 0x05, 0x00, 0x1B, 0x23, 0x01, 0x3F, 0x00}, {0x06, 0x03, 0x30, 0x00, 0x00}},
      {"firmware read, FS",
       3,
       {0x02, 0x05, 0x00, 0x1C, 0x23, 0x01, 0x40, 0x00},
       {0x06, 0x03, 0x30, 0x00, 0x00, 0x00, 0x00}},
      // A sum above 255: the checksum's high byte is 3.
      {"discount on the subtotal",
       1,
       {0x02, 0x13, 0x00, 0x1B, 0x20, 'd', '0', '0', '0', '0',  '0',
        '0',  '0',  '0',  '0',  '0',  '0', '0', '4', '8', 0x4B, 0x03},
       {0x06, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto run = [&](auto& r) {
      ASSERT_TRUE(r.d.OpenComm(0)) << r.d.strLastError;
      if (c.request[4] == 0x20) {
        ASSERT_TRUE(r.d.LoadTaxes()) << r.d.strLastError;
        ASSERT_TRUE(r.d.AbreCupomFiscal()) << r.d.strLastError;
        ASSERT_TRUE(r.d.RegistraItemFiscal("1", "CAFE", "UN", 18.0, 1.0, 10.0, 0.0)) << r.d.strLastError;
      }
      r.tap->clear();
      if (c.request[4] == 0x13) {
        EXPECT_TRUE(r.d.ECFOnline()) << r.d.strLastError;
      } else if (c.request[4] == 0x23) {
        EXPECT_TRUE(r.d.InitialConfiguration()) << r.d.strLastError;
        EXPECT_DOUBLE_EQ(r.d.nFirmware, 3.30);
      } else {
        EXPECT_TRUE(r.d.TotalizaCupomFiscalDesconto(0.48, 0)) << r.d.strLastError;
      }
      EXPECT_EQ(r.tap->in, c.request);
      EXPECT_EQ(r.tap->out, c.reply);
    };
    if (c.model == 1) {
      DriverRig<CBematech> r(1);
      run(r);
    } else {
      DriverRig<CBematech2100> r(c.model);
      run(r);
    }
  }
}
