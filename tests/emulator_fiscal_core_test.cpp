// The fiscal half of the virtual printers: the document state machine and its
// refusals, the totals and counters it keeps, the Z reduction and its fiscal
// memory, and the state file that survives a killed emulator.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "core/text.h"
#include "emulator/fiscal_core.h"
#include "emulator/paper.h"
#include "test_support.h"

using namespace tarvion;
using namespace tarvion::emulator;

namespace {

// A host clock the test moves by hand: 4 December 2026, 10:00:00.
struct Clock {
  int64_t now = toSeconds(Stamp{2026, 12, 4, 10, 0, 0});
  std::function<int64_t()> fn() {
    return [this] { return now; };
  }
};

FiscalCore::ItemInput item(const std::string& code, int64_t qty, int64_t price, const std::string& tax = "01",
                           Cents discount = 0, Cents increase = 0) {
  FiscalCore::ItemInput in;
  in.code = code;
  in.description = "PRODUTO " + code;
  in.unit = "UN";
  in.quantity = qty;
  in.unitPrice = price;
  in.tax = tax;
  in.discount = discount;
  in.increase = increase;
  return in;
}

struct Fixture {
  Clock clock;
  std::shared_ptr<Paper> paper = std::make_shared<Paper>(48);
  FiscalCore core;
  explicit Fixture(const std::string& path = {}) : core(FiscalCore::Options{path, clock.fn()}) { core.setPaper(paper); }
  // A receipt of one item of the given value, paid in cash, closed.
  void sale(Cents value, int payment = 0) {
    ASSERT_EQ(core.openReceipt(), FiscalError::Ok);
    ASSERT_EQ(core.registerItem(item("1", 1000, value * 10)), FiscalError::Ok);
    ASSERT_EQ(core.totalize(0, 0), FiscalError::Ok);
    ASSERT_EQ(core.pay(payment, value), FiscalError::Ok);
    ASSERT_EQ(core.closeReceipt(""), FiscalError::Ok);
  }
};

}  // namespace

TEST(FiscalCore, AFreshPrinterHasTheDefaultTables) {
  Fixture f;
  const auto& t = f.core.taxes();
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0].kind, 'T');
  EXPECT_EQ(t[0].rate, 1800);
  EXPECT_EQ(t[2].rate, 700);
  EXPECT_EQ(t[3].kind, 'S');
  EXPECT_EQ(t[3].rate, 500);
  ASSERT_EQ(f.core.payments().size(), 3u);
  EXPECT_EQ(f.core.payments()[0].name, "Dinheiro");
  EXPECT_EQ(f.core.paymentIndex(" cartao "), 2);
  EXPECT_EQ(f.core.titleIndex("suprimento"), 1);
  EXPECT_EQ(f.core.identity().serial, "BE000000000000000001");
  EXPECT_EQ(f.core.identity().serial.size(), Identity::kSerialLength);
  EXPECT_EQ(f.core.counters().coo, 0);
  EXPECT_EQ(f.core.counters().crz, 0);
  EXPECT_EQ(f.core.counters().cro, 1);
  EXPECT_EQ(f.core.grandTotal(), 0);
  EXPECT_FALSE(f.core.receiptOpen());
}

TEST(FiscalCore, AWholeSaleKeepsTotalsCountersAndPaper) {
  Fixture f;
  ASSERT_EQ(f.core.openReceipt("12345678909"), FiscalError::Ok);
  EXPECT_EQ(f.core.counters().coo, 1);
  EXPECT_EQ(f.core.counters().ccf, 1);
  int n = 0;
  // 1.5 x 2.99 = 4.485, truncated to 4.48; with 0.10 off.
  ASSERT_EQ(f.core.registerItem(item("789", 1500, 2990, "01", 10), &n), FiscalError::Ok);
  EXPECT_EQ(n, 1);
  ASSERT_EQ(f.core.registerItem(item("111", 2000, 5000, "04"), &n), FiscalError::Ok);
  ASSERT_EQ(f.core.registerItem(item("222", 1000, 1000, "II")), FiscalError::Ok);
  EXPECT_EQ(f.core.counters().lastItem, 3);
  ASSERT_EQ(f.core.cancelItem(2), FiscalError::Ok);
  EXPECT_EQ(f.core.document().itemsTotal(), 438 + 100);
  ASSERT_EQ(f.core.totalize(38, 0), FiscalError::Ok);
  EXPECT_EQ(f.core.document().total(), 500);
  ASSERT_EQ(f.core.pay(2, 200), FiscalError::Ok);
  ASSERT_EQ(f.core.pay(0, 1000), FiscalError::Ok);
  ASSERT_EQ(f.core.closeReceipt("OBRIGADO PELA PREFERENCIA"), FiscalError::Ok);
  EXPECT_FALSE(f.core.receiptOpen());

  const DayTotals& d = f.core.day();
  EXPECT_EQ(d.gross, 448 + 1000 + 100);
  EXPECT_EQ(d.cancellations, 1000);
  EXPECT_EQ(d.discounts, 10 + 38);
  EXPECT_EQ(d.perTax.at("01"), 438);
  EXPECT_EQ(d.perTax.at("04"), 0);
  EXPECT_EQ(d.perTax.at("II"), 100);
  EXPECT_EQ(f.core.grandTotal(), 1548);
  // The change (7.00) leaves the cash drawer: cash kept 3.00, the card 2.00.
  EXPECT_EQ(f.core.payments()[0].dayAmount, 300);
  EXPECT_EQ(f.core.payments()[2].dayAmount, 200);
  EXPECT_EQ(f.core.lastReceipt().change, 700);
  EXPECT_EQ(f.core.lastReceipt().total, 500);

  const std::string p = f.paper->printed();
  EXPECT_NE(p.find("CUPOM FISCAL"), std::string::npos);
  EXPECT_NE(p.find("COO:000001"), std::string::npos);
  EXPECT_NE(p.find("1,500 UN X 2,990 T18,00%"), std::string::npos);
  EXPECT_NE(p.find("CANCELAMENTO ITEM 002"), std::string::npos);
  EXPECT_NE(p.find("DESCONTO R$"), std::string::npos);
  EXPECT_NE(p.find("TROCO R$"), std::string::npos);
  EXPECT_NE(p.find("7,00"), std::string::npos);
  EXPECT_NE(p.find("OBRIGADO PELA PREFERENCIA"), std::string::npos);
  for (size_t start = 0, e; start < p.size(); start = e + 1) {
    e = p.find('\n', start);
    // Columns are counted in characters: accented letters take two UTF-8 bytes.
    std::string l = text::utf8ToCp1252(p.substr(start, e - start));
    EXPECT_LE(l.size(), 48u) << l;
  }
}

TEST(FiscalCore, ReceiptRefusalsFollowTheState) {
  Fixture f;
  EXPECT_EQ(f.core.registerItem(item("1", 1000, 1000)), FiscalError::NoReceiptOpen);
  EXPECT_EQ(f.core.totalize(0, 0), FiscalError::NoReceiptOpen);
  EXPECT_EQ(f.core.pay(0, 100), FiscalError::NoReceiptOpen);
  EXPECT_EQ(f.core.closeReceipt(""), FiscalError::NoReceiptOpen);
  EXPECT_EQ(f.core.cancelItem(1), FiscalError::NoReceiptOpen);

  ASSERT_EQ(f.core.openReceipt(), FiscalError::Ok);
  EXPECT_EQ(f.core.openReceipt(), FiscalError::ReceiptAlreadyOpen);
  EXPECT_EQ(f.core.xReport(), FiscalError::ReceiptAlreadyOpen);
  EXPECT_EQ(f.core.openReport(), FiscalError::ReceiptAlreadyOpen);
  EXPECT_EQ(f.core.totalize(0, 0), FiscalError::NoItems);
  EXPECT_EQ(f.core.registerItem(item("1", 1000, 1000, "05")), FiscalError::TaxNotProgrammed);
  EXPECT_EQ(f.core.registerItem(item("1", 1000, 1000, "x1")), FiscalError::InvalidParameter);
  EXPECT_EQ(f.core.registerItem(item("1", 1000, 0)), FiscalError::ZeroValue);
  EXPECT_EQ(f.core.registerItem(item("1", 1000, 1000, "01", 100)), FiscalError::DiscountTooLarge);
  ASSERT_EQ(f.core.registerItem(item("1", 1000, 1000)), FiscalError::Ok);
  EXPECT_EQ(f.core.cancelItem(2), FiscalError::ItemNotFound);
  EXPECT_EQ(f.core.pay(0, 100), FiscalError::NotTotalized);
  EXPECT_EQ(f.core.closeReceipt(""), FiscalError::NotTotalized);
  EXPECT_EQ(f.core.totalize(100, 0), FiscalError::DiscountTooLarge);
  ASSERT_EQ(f.core.totalize(0, 50), FiscalError::Ok);
  EXPECT_EQ(f.core.totalize(0, 0), FiscalError::AlreadyTotalized);
  EXPECT_EQ(f.core.registerItem(item("2", 1000, 1000)), FiscalError::AlreadyTotalized);
  EXPECT_EQ(f.core.cancelItem(1), FiscalError::AlreadyTotalized);
  EXPECT_EQ(f.core.pay(7, 100), FiscalError::PaymentNotProgrammed);
  EXPECT_EQ(f.core.pay(0, 0), FiscalError::ZeroValue);
  ASSERT_EQ(f.core.pay(0, 100), FiscalError::Ok);
  EXPECT_EQ(f.core.closeReceipt(""), FiscalError::PaymentsNotFinished);
  ASSERT_EQ(f.core.pay(1, 50), FiscalError::Ok);
  EXPECT_EQ(f.core.pay(0, 10), FiscalError::PaymentsFinished);
  EXPECT_EQ(f.core.closeReceipt(""), FiscalError::Ok);
  EXPECT_EQ(f.core.grandTotal(), 150);

  // An item cancelled once cannot be cancelled again; with no item left there is nothing to total.
  ASSERT_EQ(f.core.openReceipt(), FiscalError::Ok);
  ASSERT_EQ(f.core.registerItem(item("1", 1000, 1000)), FiscalError::Ok);
  ASSERT_EQ(f.core.cancelLastItem(), FiscalError::Ok);
  EXPECT_EQ(f.core.cancelItem(1), FiscalError::ItemAlreadyCancelled);
  EXPECT_EQ(f.core.totalize(0, 0), FiscalError::NoItems);
}

TEST(FiscalCore, CancellingTheOpenOrTheLastReceipt) {
  Fixture f;
  ASSERT_EQ(f.core.openReceipt(), FiscalError::Ok);
  ASSERT_EQ(f.core.registerItem(item("1", 2000, 15000)), FiscalError::Ok);  // 30.00
  ASSERT_EQ(f.core.totalize(500, 0), FiscalError::Ok);
  ASSERT_EQ(f.core.cancelReceipt(), FiscalError::Ok);
  EXPECT_FALSE(f.core.receiptOpen());
  EXPECT_EQ(f.core.counters().cfc, 1);
  EXPECT_EQ(f.core.day().cancellations, 2500);
  EXPECT_EQ(f.core.day().perTax.at("01"), 0);
  // Net sale of the day: gross - cancellations - discounts + increases.
  const DayTotals& d = f.core.day();
  EXPECT_EQ(d.gross - d.cancellations - d.discounts + d.increases, 0);
  // The cancelled open receipt was the last one: nothing closed to cancel any more.
  EXPECT_EQ(f.core.cancelReceipt(), FiscalError::CancelNotAllowed);

  f.sale(1234, 1);
  EXPECT_EQ(f.core.payments()[1].dayAmount, 1234);
  const int cooBefore = f.core.counters().coo;
  ASSERT_EQ(f.core.cancelReceipt(), FiscalError::Ok);
  EXPECT_EQ(f.core.counters().coo, cooBefore + 1);  // the cancellation is a document of its own
  EXPECT_EQ(f.core.payments()[1].dayAmount, 0);
  EXPECT_EQ(f.core.day().cancellations, 2500 + 1234);
  EXPECT_EQ(f.core.cancelReceipt(), FiscalError::AlreadyCancelled);

  f.sale(100);
  ASSERT_EQ(f.core.xReport(), FiscalError::Ok);
  EXPECT_EQ(f.core.cancelReceipt(), FiscalError::CancelNotAllowed);
  EXPECT_NE(f.paper->printed().find("CUPOM FISCAL CANCELADO"), std::string::npos);
}

TEST(FiscalCore, LinkedReceiptsReportsAndNonFiscalReceipts) {
  Fixture f;
  EXPECT_EQ(f.core.openLinked(2), FiscalError::LinkedNotAllowed);  // no receipt yet
  ASSERT_EQ(f.core.openReceipt(), FiscalError::Ok);
  ASSERT_EQ(f.core.registerItem(item("1", 1000, 10000)), FiscalError::Ok);
  ASSERT_EQ(f.core.totalize(0, 0), FiscalError::Ok);
  ASSERT_EQ(f.core.pay(2, 1000), FiscalError::Ok);
  ASSERT_EQ(f.core.closeReceipt(""), FiscalError::Ok);
  const int receiptCoo = f.core.lastReceipt().coo;
  const int gnf = f.core.counters().gnf;

  EXPECT_EQ(f.core.openLinked(0), FiscalError::LinkedNotAllowed);        // not paid in cash
  EXPECT_EQ(f.core.openLinked(2, 2000), FiscalError::LinkedNotAllowed);  // more than paid
  EXPECT_EQ(f.core.openLinked(2, 0, receiptCoo + 5), FiscalError::LinkedNotAllowed);
  EXPECT_EQ(f.core.openLinked(9), FiscalError::PaymentNotProgrammed);
  ASSERT_EQ(f.core.openLinked(2, 1000, receiptCoo), FiscalError::Ok);
  EXPECT_EQ(f.core.openReceipt(), FiscalError::DocumentOpen);
  EXPECT_EQ(f.core.reportText("x"), FiscalError::NoReportOpen);
  ASSERT_EQ(f.core.linkedText("VIA DO CLIENTE\nAPROVADO"), FiscalError::Ok);
  ASSERT_EQ(f.core.closeLinked(), FiscalError::Ok);
  EXPECT_EQ(f.core.closeLinked(), FiscalError::NoLinkedOpen);
  EXPECT_EQ(f.core.openLinked(2), FiscalError::LinkedNotAllowed);  // one per payment
  EXPECT_EQ(f.core.counters().gnf, gnf + 1);
  EXPECT_EQ(f.core.counters().cdc, 1);

  ASSERT_EQ(f.core.openReport(), FiscalError::Ok);
  EXPECT_EQ(f.core.openReport(), FiscalError::DocumentOpen);
  ASSERT_EQ(f.core.reportText("LINHA DO RELATORIO"), FiscalError::Ok);
  ASSERT_EQ(f.core.closeReport(), FiscalError::Ok);
  EXPECT_EQ(f.core.counters().grg, 1);
  EXPECT_EQ(f.core.openReport(3), FiscalError::ReportNotProgrammed);

  EXPECT_EQ(f.core.nonFiscalReceipt(9, 100, 0), FiscalError::TitleNotProgrammed);
  EXPECT_EQ(f.core.nonFiscalReceipt(1, 0, 0), FiscalError::ZeroValue);
  ASSERT_EQ(f.core.nonFiscalReceipt(1, 5000, 0), FiscalError::Ok);
  EXPECT_EQ(f.core.titles()[1].dayAmount, 5000);
  EXPECT_EQ(f.core.titles()[1].dayCount, 1);
  EXPECT_EQ(f.core.day().nonFiscal, 5000);
  EXPECT_EQ(f.core.payments()[0].dayAmount, 5000);
  EXPECT_EQ(f.core.grandTotal(), 1000);  // non-fiscal values stay out of the grand total
  EXPECT_EQ(f.core.counters().gnf, gnf + 3);

  const std::string p = f.paper->printed();
  EXPECT_NE(p.find("COMPROVANTE CRÉDITO OU DÉBITO"), std::string::npos);
  EXPECT_NE(p.find("APROVADO"), std::string::npos);
  EXPECT_NE(p.find("RELATÓRIO GERENCIAL"), std::string::npos);
  EXPECT_NE(p.find("LINHA DO RELATORIO"), std::string::npos);
  EXPECT_NE(p.find("COMPROVANTE NÃO-FISCAL"), std::string::npos);
  EXPECT_NE(p.find("SUPRIMENTO"), std::string::npos);
}

TEST(FiscalCore, ZReductionClosesTheDayIntoTheFiscalMemory) {
  Fixture f;
  f.sale(1000);
  f.sale(250, 1);
  const int coo = f.core.counters().coo;
  // The next day the sale is blocked until the pending reduction.
  f.clock.now += 86400;
  EXPECT_TRUE(f.core.zPending());
  EXPECT_EQ(f.core.openReceipt(), FiscalError::ZPending);
  EXPECT_EQ(f.core.xReport(), FiscalError::Ok);  // reports are still allowed
  ASSERT_EQ(f.core.zReduction(), FiscalError::Ok);
  EXPECT_EQ(f.core.counters().crz, 1);
  EXPECT_EQ(f.core.counters().coo, coo + 2);
  ASSERT_EQ(f.core.fiscalMemory().size(), 1u);
  const ZRecord& z = f.core.fiscalMemory()[0];
  EXPECT_EQ(z.crz, 1);
  EXPECT_EQ(z.coo, coo + 2);
  EXPECT_EQ(z.grandTotal, 1250);
  EXPECT_EQ(z.gross, 1250);
  EXPECT_EQ(z.perTax.at("01"), 1250);
  EXPECT_EQ(z.movementDay, dayNumber(f.clock.now) - 1);  // the day it closes, not the day it ran
  EXPECT_EQ(f.core.day().gross, 0);
  EXPECT_EQ(f.core.payments()[0].dayAmount, 0);
  EXPECT_EQ(f.core.day().initialGrandTotal, 1250);

  // It closed yesterday; today is open. Today's own reduction closes today.
  f.sale(300);
  ASSERT_EQ(f.core.zReduction(), FiscalError::Ok);
  EXPECT_TRUE(f.core.dayClosed());
  EXPECT_EQ(f.core.openReceipt(), FiscalError::ZAlreadyDone);
  EXPECT_EQ(f.core.zReduction(), FiscalError::ZAlreadyDone);
  f.clock.now += 86400;
  EXPECT_FALSE(f.core.dayClosed());
  EXPECT_EQ(f.core.openReceipt(), FiscalError::Ok);
  // A reduction cancels the receipt it finds open.
  ASSERT_EQ(f.core.registerItem(item("1", 1000, 2000)), FiscalError::Ok);
  ASSERT_EQ(f.core.zReduction(), FiscalError::Ok);
  EXPECT_FALSE(f.core.receiptOpen());
  EXPECT_EQ(f.core.fiscalMemory().back().cancellations, 200);

  std::vector<ZRecord> recs;
  MemoryRange byCrz{false, 2, 3};
  ASSERT_EQ(f.core.readFiscalMemory(byCrz, true, &recs, false), FiscalError::Ok);
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].crz, 2);
  EXPECT_EQ(recs[1].crz, 3);
  MemoryRange byDate{true, dayNumber(f.clock.now) - 2, dayNumber(f.clock.now) - 2};
  ASSERT_EQ(f.core.readFiscalMemory(byDate, false, &recs, false), FiscalError::Ok);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].crz, 1);
  EXPECT_EQ(f.core.readFiscalMemory(MemoryRange{false, 3, 2}, false, &recs, false), FiscalError::InvalidRange);
  const int gnf = f.core.counters().gnf;
  ASSERT_EQ(f.core.readFiscalMemory(byCrz, false), FiscalError::Ok);  // printed: a document
  EXPECT_EQ(f.core.counters().gnf, gnf + 1);
  const std::string p = f.paper->printed();
  EXPECT_NE(p.find("REDUÇÃO Z"), std::string::npos);
  EXPECT_NE(p.find("CRZ 0002"), std::string::npos);
}

TEST(FiscalCore, TablesClockPaperAndAuthentication) {
  Fixture f;
  int pos = -1;
  ASSERT_EQ(f.core.addTax('S', 200, &pos), FiscalError::Ok);
  EXPECT_EQ(pos, 4);
  EXPECT_EQ(f.core.addTax('X', 200), FiscalError::InvalidParameter);
  EXPECT_EQ(f.core.addTax('T', 0), FiscalError::InvalidParameter);
  while (f.core.taxes().size() < 16) ASSERT_EQ(f.core.addTax('T', 100), FiscalError::Ok);
  EXPECT_EQ(f.core.addTax('T', 100), FiscalError::TaxTableFull);
  EXPECT_EQ(f.core.addPayment("dinheiro"), FiscalError::PaymentAlreadyProgrammed);
  EXPECT_EQ(f.core.addPayment("  "), FiscalError::InvalidParameter);
  int idx = -1;
  ASSERT_EQ(f.core.addPayment("Ticket", &idx), FiscalError::Ok);
  EXPECT_EQ(idx, 3);
  while (f.core.payments().size() < 20)
    ASSERT_EQ(f.core.addPayment("P" + std::to_string(f.core.payments().size())), FiscalError::Ok);
  EXPECT_EQ(f.core.addPayment("Mais uma"), FiscalError::PaymentTableFull);
  EXPECT_EQ(f.core.addTitle("sangria"), FiscalError::TitleAlreadyProgrammed);
  ASSERT_EQ(f.core.addTitle("VALE", &idx), FiscalError::Ok);
  EXPECT_EQ(idx, 2);

  // Daylight saving moves the clock an hour, only on a day without movement.
  const int64_t before = f.core.now();
  ASSERT_EQ(f.core.setDaylightSaving(true), FiscalError::Ok);
  EXPECT_EQ(f.core.now(), before + 3600);
  EXPECT_TRUE(f.core.daylightSaving());
  f.sale(100);
  EXPECT_EQ(f.core.setDaylightSaving(false), FiscalError::DaylightSavingNotAllowed);
  EXPECT_EQ(f.core.addTax('T', 500), FiscalError::TaxTableFull);
  f.core.setClock(toSeconds(Stamp{2027, 1, 2, 8, 30, 0}));
  EXPECT_EQ(f.core.now(), toSeconds(Stamp{2027, 1, 2, 8, 30, 0}));
  f.clock.now += 60;
  EXPECT_EQ(f.core.now(), toSeconds(Stamp{2027, 1, 2, 8, 31, 0}));  // the offset follows the host clock

  // Authentication: only after a receipt, four times.
  f.core.setClock(toSeconds(Stamp{2026, 12, 4, 11, 0, 0}));
  f.sale(100);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(f.core.authenticate("AUT"), FiscalError::Ok);
  EXPECT_EQ(f.core.authenticate("AUT"), FiscalError::AuthenticationNotAllowed);

  f.core.setPaperOut(true);
  EXPECT_EQ(f.core.openReceipt(), FiscalError::PaperOut);
  EXPECT_EQ(f.core.xReport(), FiscalError::PaperOut);
  EXPECT_EQ(f.core.zReduction(), FiscalError::PaperOut);
  f.core.setPaperOut(false);
  EXPECT_EQ(f.core.openReceipt(), FiscalError::Ok);
}

TEST(FiscalCore, StateSurvivesAKillMidReceipt) {
  testsupport::TempDir dir;
  const std::string path = dir.file("ecf.state");
  {
    Fixture f(path);
    ASSERT_TRUE(f.core.load());
    ASSERT_TRUE(std::filesystem::exists(path));  // a new printer writes its first state at once
    f.sale(990, 2);
    ASSERT_EQ(f.core.addPayment("Vale|%Refeição\n"), FiscalError::Ok);
    ASSERT_EQ(f.core.openReceipt("CPF 123"), FiscalError::Ok);
    ASSERT_EQ(f.core.registerItem(item("A|B", 3000, 1250, "04", 5, 0)), FiscalError::Ok);
    f.core.setClock(f.core.now() + 120);
    // No save, no close: the object simply goes away, as a killed process would.
  }
  std::string saved;
  std::map<std::string, Cents> perTax;
  {
    Fixture g(path);
    std::string err;
    ASSERT_TRUE(g.core.load(&err)) << err;
    ASSERT_TRUE(g.core.receiptOpen());
    const Document& d = g.core.document();
    ASSERT_EQ(d.items.size(), 1u);
    EXPECT_EQ(d.items[0].code, "A|B");
    EXPECT_EQ(d.items[0].quantity, 3000);
    EXPECT_EQ(d.items[0].discount, 5);
    EXPECT_EQ(d.customer, "CPF 123");
    EXPECT_EQ(g.core.payments()[3].name, "Vale|%Refeição");
    EXPECT_EQ(g.core.payments()[2].dayAmount, 990);
    EXPECT_EQ(g.core.clockOffset(), 120);
    EXPECT_EQ(g.core.counters().coo, 2);
    EXPECT_EQ(g.core.grandTotal(), 990 + 375);
    // The reloaded printer carries on where the other stopped.
    ASSERT_EQ(g.core.totalize(0, 0), FiscalError::Ok);
    ASSERT_EQ(g.core.pay(0, 5000), FiscalError::Ok);
    ASSERT_EQ(g.core.closeReceipt(""), FiscalError::Ok);
    ASSERT_EQ(g.core.zReduction(), FiscalError::Ok);
    saved = g.core.serialize();
    perTax = g.core.fiscalMemory()[0].perTax;
  }

  Fixture h(path);
  ASSERT_TRUE(h.core.load());
  EXPECT_EQ(h.core.serialize(), saved);
  ASSERT_EQ(h.core.fiscalMemory().size(), 1u);
  EXPECT_EQ(h.core.fiscalMemory()[0].perTax, perTax);
}

TEST(FiscalCore, TheStateFileIsReplacedWholeNeverTorn) {
  testsupport::TempDir dir;
  const std::string path = dir.file("ecf.state");
  std::string content, torn;
  {
    Fixture f(path);
    ASSERT_TRUE(f.core.load());
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    ASSERT_EQ(f.core.openReceipt(), FiscalError::Ok);
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    // A new file took the name: the old one was never rewritten in place, and
    // no temporary file is left behind.
    EXPECT_NE(before.st_ino, after.st_ino);
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"ecf.state", "ecf.state.lock"}));
    content = testsupport::readFile(path);
    EXPECT_EQ(content, f.core.serialize());

    // A half-written file (what an in-place write would leave) is refused whole,
    // and the printer that refused it keeps its own state but may not change it
    // until the file is sound again.
    torn = content.substr(0, content.size() / 2);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << torn;
    std::string err;
    EXPECT_FALSE(f.core.load(&err));
    EXPECT_NE(err.find(path), std::string::npos) << err;
    EXPECT_NE(err.find("cut short"), std::string::npos) << err;
    EXPECT_TRUE(f.core.receiptOpen());
    EXPECT_EQ(f.core.registerItem(item("1", 1000, 1000)), FiscalError::MemoryWrite);
    EXPECT_TRUE(f.core.document().items.empty());
    EXPECT_EQ(testsupport::readFile(path), torn);
  }
  // A printer started on a file it cannot read stays fresh and leaves the file alone.
  Fixture fresh(path);
  EXPECT_NE(fresh.core.loadError().find("cut short"), std::string::npos);
  EXPECT_FALSE(fresh.core.receiptOpen());
  EXPECT_EQ(fresh.core.openReceipt(), FiscalError::MemoryWrite);
  EXPECT_FALSE(fresh.core.receiptOpen());
  EXPECT_EQ(testsupport::readFile(path), torn);
  ASSERT_EQ(fresh.core.factoryReset(), FiscalError::Ok);
  EXPECT_EQ(testsupport::readFile(path), fresh.core.serialize());
  EXPECT_EQ(fresh.core.openReceipt(), FiscalError::Ok);
}

TEST(FiscalCore, PaperFormatsMoneyAndWrapsAtTheColumns) {
  EXPECT_EQ(money(0), "0,00");
  EXPECT_EQ(money(5), "0,05");
  EXPECT_EQ(money(123456789), "1.234.567,89");
  EXPECT_EQ(money(-50), "-0,50");
  EXPECT_EQ(quantity(1500), "1,500");
  EXPECT_EQ(dateTimeText(toSeconds(Stamp{2026, 12, 4, 17, 5, 9})), "04/12/2026 17:05:09");
  Paper p(20);
  p.line(std::string(25, 'x'));
  p.leftRight("TOTAL", "1,00");
  p.text("a\r\nb\rc\nd");
  EXPECT_EQ(p.printed(), std::string(20, 'x') + "\nxxxxx\nTOTAL" + std::string(11, ' ') + "1,00\na\nb\nc\nd\n");
  testsupport::TempDir dir;
  Paper file(dir.file("paper.txt"), 40);
  file.line(text::cp("Ação"));
  EXPECT_EQ(testsupport::readFile(dir.file("paper.txt")), "Ação\n");
}

TEST(FiscalCore, CalendarArithmetic) {
  Stamp s{2024, 2, 29, 23, 59, 59};
  ASSERT_TRUE(validStamp(s));
  const int64_t t = toSeconds(s);
  Stamp back = fromSeconds(t + 1);
  EXPECT_EQ(back.year, 2024);
  EXPECT_EQ(back.month, 3);
  EXPECT_EQ(back.day, 1);
  EXPECT_EQ(back.hour, 0);
  EXPECT_EQ(dayNumber(t + 1) - dayNumber(t), 1);
  EXPECT_FALSE(validStamp(Stamp{2026, 2, 29}));
  EXPECT_FALSE(validStamp(Stamp{2026, 1, 1, 24}));
  EXPECT_EQ(toSeconds(Stamp{1970, 1, 1}), 0);
  Stamp old = fromSeconds(-1);
  EXPECT_EQ(old.year, 1969);
  EXPECT_EQ(old.second, 59);
}
