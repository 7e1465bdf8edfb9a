// The FS-prefixed Bematech models of the virtual printer (MP-2000 family, MP-25,
// MP-6000, MP-7000, IBM 4610) from the wire: raw frames in, ACK, data and the
// ST1/ST2/ST3 status out, the fiscal state and the paper behind them.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/text.h"
#include "emulator/bematech/printer.h"
#include "emulator/paper.h"
#include "emulator/printers.h"
#include "emulator_rig.h"
#include "test_support.h"

using namespace tarvion;
using namespace tarvion::emulator;
namespace bm = tarvion::emulator::bematech;

namespace {

using emutest::bytes;
using emutest::itemParams;
using emutest::pad;

struct Rig : emutest::EmulatorRig {
  explicit Rig(int number = 3, const std::string& statePath = "") : EmulatorRig(number, statePath) {}
  // The whole answer, ACK included.
  ByteArray send(const ByteArray& command, const std::string& params = {}) { return raw(frame(command, params)); }
  ByteArray send(uint8_t command, const std::string& params = {}) { return send(ByteArray{command}, params); }
  ByteArray read35(uint8_t sub) { return send(ByteArray{bm::cmd::Read, sub}); }
};

// A literal with its zero bytes kept.
template <size_t N>
std::string raw(const char (&s)[N]) {
  return std::string(s, N - 1);
}

using emutest::kDone;
using emutest::St;
using emutest::tail;

// The data of an FS data-command reply: between the ACK and the four status bytes.
ByteArray dataOf(const ByteArray& reply) {
  if (reply.size() < 5) return {};
  return ByteArray(reply.begin() + 1, reply.end() - 4);
}

std::string textOf(const ByteArray& data, size_t off, size_t len) {
  return text::trimRight(
      std::string(data.begin() + static_cast<long>(off), data.begin() + static_cast<long>(off + len)));
}

uint64_t bcdAt(const ByteArray& data, size_t off, size_t len) {
  return emutest::bcdValue(data.data() + off, len);
}

bool has(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

// A fiscal receipt with one item of 10.00 at 18 %, paid with the given payment index.
void sale(Rig& r, const std::string& payment = "00") {
  ASSERT_EQ(tail(r.send(bm::cmd::OpenReceipt)), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::RegisterItem, itemParams("01", "000010000", "0001000", "7", "CAFE"))), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::Totalize, "d00000000000000")), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::Payment, payment + "00000000001000")), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::CloseReceipt)), kDone);
}

}  // namespace

TEST(FsModels, ModelsByNumberAndByTheirTableNames) {
  struct Want {
    int number;
    uint8_t prefix;
    bm::St3Table table;
    bool mp7000;
  };
  const Want want[] = {{1, bm::kESC, bm::St3Table::Full, false},   {2, bm::kFS, bm::St3Table::MP2000, false},
                       {3, bm::kFS, bm::St3Table::Full, false},    {4, bm::kFS, bm::St3Table::MP25, false},
                       {5, bm::kFS, bm::St3Table::Full, false},    {6, bm::kESC, bm::St3Table::Full, false},
                       {7, bm::kFS, bm::St3Table::Full, false},    {8, bm::kFS, bm::St3Table::MP25, false},
                       {9, bm::kFS, bm::St3Table::Full, false},    {10, bm::kFS, bm::St3Table::Full, true},
                       {26, bm::kFS, bm::St3Table::IBM4610, false}};
  for (const Want& w : want) {
    BematechModel m;
    ASSERT_TRUE(BematechModel::byNumber(w.number, m)) << w.number;
    EXPECT_EQ(m.prefix, w.prefix) << w.number;
    EXPECT_EQ(m.table, w.table) << w.number;
    EXPECT_EQ(m.mp7000, w.mp7000) << w.number;
    // Every model answers to its own name too, whatever the case.
    EXPECT_EQ(virtualModelNumber(" " + text::upper(m.name) + " "), w.number) << m.name;
    EXPECT_EQ(virtualModelNumber(std::to_string(w.number)), w.number);
  }
  // The check printer table's Bematech classes are fiscal models of the same printers.
  EXPECT_EQ(virtualModelNumber("BEMATECH MP-40 FI II ECF-IF"), 6);
  EXPECT_EQ(virtualModelNumber("BEMATECH MP-50 FI"), 8);
  EXPECT_EQ(virtualModelNumber("BEMATECH MP-6000 TH FI"), 9);
  EXPECT_EQ(virtualModelNumber("BEMATECH MP-7000 TH FI"), 10);
  EXPECT_EQ(virtualModelNumber("IBM 4610 SUREMARK"), 26);
  EXPECT_EQ(virtualModelNumber("bematech mp-7000 th fi  "), 10);
  // Check printers of their own family go by 100 and their check table number;
  // PERTOPAY's printer sits behind the maker's library and has none.
  EXPECT_EQ(virtualModelNumber("CHRONOS CHECK-PRONTO"), 105);
  for (const char* none : {"", "0", "31", "27", "-1", "10x", "BEMATECH", "PERTOPAY", "111", "NCR ECF-IF-02-01"})
    EXPECT_EQ(virtualModelNumber(none), 0) << none;

  std::string err;
  auto ibm = makePrinter("IBM 4610 SUREMARK", "", "", &err);
  ASSERT_NE(ibm, nullptr) << err;
  EXPECT_EQ(ibm->modelName(), "IBM 4610 SUREMARK");
  EXPECT_EQ(makePrinter("PERTOPAY", "", "", &err), nullptr);
  EXPECT_TRUE(has(err, "PERTOPAY")) << err;
}

TEST(FsModels, ReadsInTheLayoutsOfTheMp2000Family) {
  Rig r(3);
  // 35/40: the serial number in 20 characters; 35/41: firmware in 3 BCD bytes.
  ByteArray serial = dataOf(r.read35(40));
  ASSERT_EQ(serial.size(), 20u);
  EXPECT_EQ(textOf(serial, 0, 20), "BE000000000000000001");
  EXPECT_EQ(emutest::hexDigits(dataOf(r.read35(41)).data(), 3), "033000");

  // 35/17 byte 0 bit 0x01 follows the receipt; 35/6 is the COO in 3 BCD bytes.
  EXPECT_EQ(dataOf(r.read35(17))[0] & 0x01, 0);
  ASSERT_EQ(tail(r.send(bm::cmd::OpenReceipt)), kDone);
  EXPECT_EQ(dataOf(r.read35(17))[0] & 0x01, 0x01);
  ASSERT_EQ(dataOf(r.read35(6)).size(), 3u);
  EXPECT_EQ(bcdAt(dataOf(r.read35(6)), 0, 3), 1u);
  ASSERT_EQ(tail(r.send(bm::cmd::CancelReceipt)), kDone);
  EXPECT_EQ(dataOf(r.read35(17))[0] & 0x01, 0);

  // 35/49: 20 names of 16 bytes, then 20 amounts of 7 BCD bytes from byte 320.
  sale(r, "02");
  ByteArray pay = dataOf(r.read35(49));
  ASSERT_EQ(pay.size(), 20u * 16 + 20 * 7);
  EXPECT_EQ(textOf(pay, 0, 16), "Dinheiro");
  EXPECT_EQ(textOf(pay, 32, 16), "Cartao");
  EXPECT_EQ(textOf(pay, 48, 16), "");
  EXPECT_EQ(bcdAt(pay, 320 + 7 * 2, 7), 1000u);
  EXPECT_EQ(bcdAt(pay, 320, 7), 0u);

  // 35/50: one 30-byte record per totaliser after SANGRIA and SUPRIMENTO.
  EXPECT_TRUE(dataOf(r.read35(50)).empty());
  ASSERT_EQ(r.core->addTitle("VALE PRESENTE"), FiscalError::Ok);
  ASSERT_EQ(r.core->addTitle("DESPESAS"), FiscalError::Ok);
  ASSERT_EQ(tail(r.send(bm::cmd::NonFiscal,
                        "#2"
                        "00000000000250"
                        "Dinheiro        ")),
            kDone);
  ByteArray titles = dataOf(r.read35(50));
  ASSERT_EQ(titles.size(), 2u * 30);
  EXPECT_EQ(titles[0], 0x03);
  EXPECT_EQ(bcdAt(titles, 1, 10), 0u);
  EXPECT_EQ(textOf(titles, 11, 19), "VALE PRESENTE");
  EXPECT_EQ(titles[30], 0x04);
  EXPECT_EQ(bcdAt(titles, 31, 10), 250u);
  EXPECT_EQ(textOf(titles, 41, 19), "DESPESAS");

  // 35/60: mark (15), model (20), type (7).
  ByteArray eq = dataOf(r.read35(60));
  ASSERT_EQ(eq.size(), 42u);
  EXPECT_EQ(textOf(eq, 0, 15), "BEMATECH");
  EXPECT_EQ(textOf(eq, 15, 20), "MP-2100 TH FI");
  EXPECT_EQ(textOf(eq, 35, 7), "ECF-IF");
  Rig ibm(26);
  ByteArray ibmEq = dataOf(ibm.read35(60));
  ASSERT_EQ(ibmEq.size(), 42u);
  EXPECT_EQ(textOf(ibmEq, 0, 15), "IBM");
  EXPECT_EQ(textOf(ibmEq, 15, 20), "IBM 4610 SUREMARK");

  // Counters: 35/55 fiscal receipts (3 BCD), 35/52 linked receipts (2 BCD),
  // 35/54 management reports (3 BCD).
  ASSERT_EQ(tail(r.send(bm::cmd::OpenLinked,
                        "Cartao          "
                        "00000000001000"
                        "000002")),
            kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::CloseReport)), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::Report, "X\n")), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::CloseReport)), kDone);
  ByteArray ccf = dataOf(r.read35(55)), cdc = dataOf(r.read35(52)), grg = dataOf(r.read35(54));
  ASSERT_EQ(ccf.size(), 3u);
  ASSERT_EQ(cdc.size(), 2u);
  ASSERT_EQ(grg.size(), 3u);
  EXPECT_EQ(bcdAt(ccf, 0, 3), 2u);
  EXPECT_EQ(bcdAt(cdc, 0, 2), 1u);
  EXPECT_EQ(bcdAt(grg, 0, 3), 1u);

  // 35/64: the last document's date and time, 6 BCD bytes, not the clock's.
  r.hostNow += 3600;
  EXPECT_EQ(emutest::hexDigits(dataOf(r.read35(64)).data(), 6), "041226100000");
  ASSERT_EQ(tail(r.send(bm::cmd::LeituraX)), kDone);
  EXPECT_EQ(emutest::hexDigits(dataOf(r.read35(64)).data(), 6), "041226110000");

  // 87: the per-tax totals in the layout of 27, the status first as well.
  ByteArray t87 = r.send(87);
  ByteArray t27 = dataOf(r.send(bm::cmd::TaxTotals));
  ASSERT_EQ(t27.size(), 22u * 7);
  ASSERT_EQ(t87.size(), 1 + 2 + t27.size() + 4);
  EXPECT_EQ(t87[1], 0);
  EXPECT_EQ(t87[2], 0);
  EXPECT_EQ(ByteArray(t87.begin() + 3, t87.end() - 4), t27);
  EXPECT_EQ(bcdAt(t27, 0, 7), 1000u);  // the sale of 10.00 at position 01
  EXPECT_EQ(tail(t87), kDone);
  EXPECT_EQ(tail(r.send(87, "1")), (St{bm::st1::BadParamCount, 0, 3}));
}

TEST(FsModels, IssDiscountsOfTheDay) {
  Rig r(5);
  ASSERT_EQ(tail(r.send(bm::cmd::OpenReceipt)), kDone);
  // Position 04 is ISS (5 %), 01 is ICMS: only the ISS items' discounts count.
  ASSERT_EQ(tail(r.send(bm::cmd::RegisterItem, itemParams("04", "000020000", "0001000", "1", "SERVICO", "0000000150"))),
            kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::RegisterItem, itemParams("01", "000020000", "0001000", "2", "PRODUTO", "0000000300"))),
            kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::RegisterItem, itemParams("SI", "000010000", "0001000", "3", "ISENTO ISS"))), kDone);
  ASSERT_EQ(tail(r.send(93, "D00300000025")), kDone);
  ByteArray iss = dataOf(r.read35(76));
  ASSERT_EQ(iss.size(), 7u);
  EXPECT_EQ(bcdAt(iss, 0, 7), 175u);
  // Its cancellation takes it back out.
  ASSERT_EQ(tail(r.send(114, "D003")), kDone);
  EXPECT_EQ(bcdAt(dataOf(r.read35(76)), 0, 7), 150u);
  // The Z reduction starts a new day.
  ASSERT_EQ(tail(r.send(bm::cmd::ReducaoZ)), kDone);
  EXPECT_EQ(bcdAt(dataOf(r.read35(76)), 0, 7), 0u);
}

TEST(FsModels, ProgrammingPaymentsAndNamedReports) {
  Rig r(3);
  // 71 answers the new payment's index; a name already there is refused.
  ByteArray added = r.send(bm::cmd::AddPayment, pad("Ticket", 16));
  EXPECT_EQ(dataOf(added), bytes("03"));
  EXPECT_EQ(tail(added), kDone);
  EXPECT_EQ(tail(r.send(bm::cmd::AddPayment, pad("TICKET", 16))), (St{0, bm::st2::NotExecuted, 155}));
  Rig old(2);  // the MP-2000's own table lists that text one code lower
  EXPECT_EQ(tail(old.send(bm::cmd::AddPayment, pad("Dinheiro", 16))), (St{0, bm::st2::NotExecuted, 154}));

  // 82: number (2) and name (17).
  EXPECT_EQ(tail(r.send(82, "02" + pad("VENDAS", 17))), kDone);
  EXPECT_EQ(tail(r.send(82, "09" + pad("TROCAS", 17))), kDone);  // past the next free: takes it
  ASSERT_EQ(r.core->reports().size(), 3u);
  EXPECT_EQ(r.core->reports()[2].name, "TROCAS");
  EXPECT_EQ(tail(r.send(82, "02" + pad("OUTRO", 17))), (St{0, bm::st2::NotExecuted, 40}));
  EXPECT_EQ(tail(r.send(82, "04" + pad("vendas", 17))), (St{0, bm::st2::NotExecuted, 40}));
  EXPECT_EQ(tail(r.send(82, "21" + pad("MUITOS", 17))), (St{0, bm::st2::BadParamType, 105}));
  EXPECT_EQ(tail(r.send(82, "04" + pad("", 17))), (St{0, bm::st2::BadParamType, 111}));
  EXPECT_EQ(tail(r.send(82, "4" + pad("CURTO", 17))), (St{bm::st1::BadParamCount, 0, 3}));
  EXPECT_EQ(tail(r.send(82, "0X" + pad("LETRA", 17))), (St{0, bm::st2::BadParamType, 4}));
  // "Relatório já programado." reads "Já programado." on the MP-2000, same code.
  EXPECT_EQ(tail(old.send(82, "01" + pad("GERAL", 17))), (St{0, bm::st2::NotExecuted, 40}));

  // 35/51: one 17-byte record per report, in number order.
  ByteArray names = dataOf(r.read35(51));
  ASSERT_EQ(names.size(), 3u * 17);
  EXPECT_EQ(textOf(names, 0, 17), "GERAL");
  EXPECT_EQ(textOf(names, 17, 17), "VENDAS");
  EXPECT_EQ(textOf(names, 34, 17), "TROCAS");

  // 83 opens a report by its number; 20 prints in it, 21 closes it.
  EXPECT_EQ(tail(r.send(83, "09")), (St{0, bm::st2::NotExecuted, 41}));
  EXPECT_EQ(tail(r.send(83, "00")), (St{0, bm::st2::NotExecuted, 41}));
  EXPECT_EQ(tail(r.send(83, "2")), (St{bm::st1::BadParamCount, 0, 3}));
  ASSERT_EQ(tail(r.send(83, "02")), kDone);
  EXPECT_EQ(r.core->document().report, 1);
  EXPECT_EQ(tail(r.send(83, "03")), (St{0, bm::st2::NotExecuted, 48}));  // a report is open
  EXPECT_EQ(tail(r.send(82, "04" + pad("NOVO", 17))), (St{0, bm::st2::NotExecuted, 48}));
  ASSERT_EQ(tail(r.send(bm::cmd::Report, "TOTAL DO TURNO\n")), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::CloseReport)), kDone);
  EXPECT_EQ(r.core->reports()[1].dayCount, 1);
  const std::string p = r.printed();
  EXPECT_TRUE(has(p, "VENDAS")) << p;
  EXPECT_TRUE(has(p, "TOTAL DO TURNO")) << p;
}

TEST(FsModels, DiscountsAndIncreasesAfterTheItem) {
  Rig r(3);
  // Without a receipt: not carried out, "Cupom fiscal fechado.".
  EXPECT_EQ(tail(r.send(93, "D00100000050")), (St{0, bm::st2::NotExecuted, 8}));
  ASSERT_EQ(tail(r.send(bm::cmd::OpenReceipt)), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::RegisterItem, itemParams("01", "000010000", "0001000", "1", "CAFE"))), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::RegisterItem, itemParams("02", "000005000", "0001000", "2", "LEITE"))), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::RegisterItem, itemParams("03", "000002000", "0001000", "3", "PAO"))), kDone);

  // An item that does not exist: ST2 bit 0 and "Item não existe ou já cancelado.".
  const ByteArray missing = r.send(93, "D00900000050");
  EXPECT_EQ(tail(missing), (St{0, bm::st2::NotExecuted, 115}));
  EXPECT_EQ(tail(r.send(93, "D00000000050")), (St{0, bm::st2::NotExecuted, 184}));

  ASSERT_EQ(tail(r.send(93, "D00100000050")), kDone);
  EXPECT_EQ(r.core->document().items[0].discount, 50);
  EXPECT_EQ(tail(r.send(93, "D00100000010")), (St{0, bm::st2::NotExecuted, 122}));
  ASSERT_EQ(tail(r.send(93, "A00100000100")), kDone);
  EXPECT_EQ(r.core->document().items[0].increase, 100);
  EXPECT_EQ(tail(r.send(93, "A00100000100")), (St{0, bm::st2::NotExecuted, 121}));
  EXPECT_EQ(tail(r.send(93, "A00200000000")), (St{0, bm::st2::NotExecuted, 174}));
  EXPECT_EQ(tail(r.send(93, "D00200000000")), (St{0, bm::st2::NotExecuted, 175}));
  EXPECT_EQ(tail(r.send(93, "D00200000500")), (St{0, bm::st2::NotExecuted, 119}));  // the whole item
  EXPECT_EQ(tail(r.send(93, "A00200000501")), (St{0, bm::st2::NotExecuted, 118}));
  EXPECT_EQ(tail(r.send(93, "X00200000010")), (St{0, bm::st2::BadParamType, 4}));
  EXPECT_EQ(tail(r.send(93, "D0020000001")), (St{bm::st1::BadParamCount, 0, 3}));
  ASSERT_EQ(tail(r.send(93, "D00200000499")), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::CancelItem, "0003")), kDone);
  EXPECT_EQ(tail(r.send(93, "D00300000010")), (St{0, bm::st2::NotExecuted, 115}));
  // 10.00 - 0.50 + 1.00, and 5.00 - 4.99.
  EXPECT_EQ(r.core->document().itemsTotal(), 1050 + 1);
  EXPECT_EQ(r.core->day().discounts, 50 + 499);
  EXPECT_EQ(r.core->day().increases, 100);
  EXPECT_EQ(r.core->day().perTax.at("01"), 1050);
  EXPECT_EQ(r.core->day().perTax.at("02"), 1);

  // 114 takes a discount or an increase back, once.
  EXPECT_EQ(tail(r.send(114, "D009")), (St{0, bm::st2::NotExecuted, 115}));
  ASSERT_EQ(tail(r.send(114, "D001")), kDone);
  EXPECT_EQ(r.core->document().items[0].discount, 0);
  EXPECT_EQ(tail(r.send(114, "D001")), (St{0, bm::st2::NotExecuted, 182}));
  ASSERT_EQ(tail(r.send(114, "A001")), kDone);
  EXPECT_EQ(tail(r.send(114, "A001")), (St{0, bm::st2::NotExecuted, 181}));
  EXPECT_EQ(tail(r.send(114, "A02")), (St{bm::st1::BadParamCount, 0, 3}));
  EXPECT_EQ(r.core->document().items[0].net(), 1000);
  EXPECT_EQ(r.core->day().discounts, 499);
  EXPECT_EQ(r.core->day().perTax.at("01"), 1000);
  // The increase reached the grand total and stays there, its cancellation on record.
  EXPECT_EQ(r.core->grandTotal(), 1000 + 500 + 200 + 100);
  EXPECT_EQ(r.core->day().cancellations, 200 + 100);

  // After the subtotal nothing changes on the items.
  ASSERT_EQ(tail(r.send(bm::cmd::Totalize, "d00000000000000")), kDone);
  EXPECT_EQ(tail(r.send(93, "D00100000010")), (St{0, bm::st2::NotExecuted, 170}));
  EXPECT_EQ(tail(r.send(114, "D002")), (St{0, bm::st2::NotExecuted, 170}));
  ASSERT_EQ(tail(r.send(bm::cmd::Payment,
                        "00"
                        "00000000001001")),
            kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::CloseReceipt)), kDone);

  const std::string p = r.printed();
  EXPECT_TRUE(has(p, "desconto item 001")) << p;
  EXPECT_TRUE(has(p, "acréscimo item 001")) << p;
  EXPECT_TRUE(has(p, "cancelamento desconto item 001")) << p;
  EXPECT_TRUE(has(p, "cancelamento acréscimo item 001")) << p;
  EXPECT_TRUE(has(p, "TOTAL R$")) << p;
  EXPECT_TRUE(has(p, "10,01")) << p;

  // Every FS model's table keeps "Item não existe ou já cancelado." at 115.
  for (int n : {2, 4, 5, 7, 8, 9, 10, 26}) {
    Rig m(n);
    ASSERT_EQ(tail(m.send(bm::cmd::OpenReceipt)), kDone) << n;
    const St s = tail(m.send(93, "D00100000050"));
    EXPECT_EQ(s.st1, 0) << n;
    EXPECT_EQ(s.st2, bm::st2::NotExecuted) << n;
    EXPECT_EQ(s.st3, 115) << n;
  }
}

TEST(FsModels, SecondCopyOfTheLinkedReceipt) {
  Rig r(9);
  EXPECT_EQ(tail(r.send(85)), (St{0, bm::st2::NotExecuted, 80}));
  sale(r, "02");
  ASSERT_EQ(tail(r.send(bm::cmd::OpenLinked,
                        "Cartao          "
                        "00000000001000"
                        "000001")),
            kDone);
  // Not while it is still open.
  EXPECT_EQ(tail(r.send(85)), (St{0, bm::st2::NotExecuted, 82}));
  ASSERT_EQ(tail(r.send(bm::cmd::LinkedText, "TRANSACAO APROVADA\nAUT 123456\n")), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::CloseReport)), kDone);
  const int coo = r.core->counters().coo;
  EXPECT_EQ(tail(r.send(85, "1")), (St{bm::st1::BadParamCount, 0, 3}));
  ASSERT_EQ(tail(r.send(85)), kDone);
  EXPECT_EQ(r.core->counters().coo, coo + 1);
  const std::string p = r.printed();
  EXPECT_EQ(testsupport::countOf(p, "TRANSACAO APROVADA"), 2u) << p;
  EXPECT_EQ(testsupport::countOf(p, "AUT 123456"), 2u) << p;
  EXPECT_TRUE(has(p, "SEGUNDA VIA")) << p;
  // Once only.
  EXPECT_EQ(tail(r.send(85)), (St{0, bm::st2::NotExecuted, 80}));

  // Any other document in between ends the chance.
  ASSERT_EQ(tail(r.send(bm::cmd::OpenReceipt)), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::RegisterItem, itemParams("01", "000010000", "0001000", "7", "CAFE"))), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::Totalize, "d00000000000000")), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::Payment,
                        "02"
                        "00000000001000")),
            kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::CloseReceipt)), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::OpenLinked, pad("Cartao", 16))), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::CloseReport)), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::LeituraX)), kDone);
  EXPECT_EQ(tail(r.send(85)), (St{0, bm::st2::NotExecuted, 80}));
}

TEST(FsModels, CustomerFieldsAndCodePage850Text) {
  Rig r(2);
  const std::string customer =
      pad("123.456.789-09", 29) + pad("FULANO DE TAL", 30) + pad(text::cp("RUA DA CONCEIÇÃO, 12"), 80);
  EXPECT_EQ(tail(r.send(bm::cmd::OpenReceipt, customer + "X")), (St{bm::st1::BadParamCount, 0, 3}));
  ASSERT_EQ(tail(r.send(bm::cmd::OpenReceipt, customer)), kDone);
  EXPECT_EQ(r.core->document().customer, "123.456.789-09");
  EXPECT_EQ(r.core->document().customerName, "FULANO DE TAL");
  EXPECT_EQ(r.core->document().customerAddress, text::cp("RUA DA CONCEIÇÃO, 12"));
  std::string p = r.printed();
  EXPECT_TRUE(has(p, "CPF/CNPJ consumidor: 123.456.789-09")) << p;
  EXPECT_TRUE(has(p, "Nome: FULANO DE TAL")) << p;
  EXPECT_TRUE(has(p, "Endereço: RUA DA CONCEIÇÃO, 12")) << p;
  ASSERT_EQ(tail(r.send(bm::cmd::CancelReceipt)), kDone);
  // The code alone, as the driver sends it when only the code is set.
  ASSERT_EQ(tail(r.send(bm::cmd::OpenReceipt, pad("98765432100", 29))), kDone);
  EXPECT_EQ(r.core->document().customer, "98765432100");
  EXPECT_EQ(r.core->document().customerName, "");
  ASSERT_EQ(tail(r.send(bm::cmd::CancelReceipt)), kDone);

  // The thermal models' text: ESC 't' 2, then code page 850 with ESC E / ESC F
  // for bold. "Ação" is 41 87 C6 6F there.
  r.paper->clear();
  ASSERT_EQ(tail(r.send(bm::cmd::Report, raw("\x1B\x74\x02\x41\x87\xC6\x6F\n"))), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::Report, raw("\x1B\x74\x02\x1B\x45NEGRITO\x1B\x46 E N\x82O\n"))), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::CloseReport)), kDone);
  p = r.printed();
  EXPECT_TRUE(has(p, "\nAção\n")) << p;
  EXPECT_TRUE(has(p, "\nNEGRITO E NéO\n")) << p;
  // The closing message of a receipt goes the same way.
  ASSERT_EQ(tail(r.send(bm::cmd::OpenReceipt)), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::RegisterItem, itemParams("01", "000001000", "0001000", "1", "BALA"))), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::Totalize, "d00000000000000")), kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::Payment,
                        "00"
                        "00000000000100")),
            kDone);
  ASSERT_EQ(tail(r.send(bm::cmd::CloseReceipt, raw("\x1B\x74\x02OBRIGADO PELA PREFER\xD2NCIA\n"))), kDone);
  EXPECT_TRUE(has(r.printed(), "OBRIGADO PELA PREFERÊNCIA")) << r.printed();
}

TEST(FsModels, PaperCutAndTheApplicationIdentification) {
  Rig r(7);  // MP-4000 TH FI: the driver feeds 5 lines before its cut
  r.paper->clear();
  ASSERT_EQ(tail(r.send(ByteArray{bm::cmd::Block}, raw("K\x05\x01"))), kDone);
  std::string p = r.printed();
  EXPECT_EQ(p, "\n\n\n\n\n✂ corte " + std::string(48 - 1 - 7, '-') + "\n");
  ASSERT_EQ(tail(r.send(ByteArray{bm::cmd::Block}, raw("K\x00\x00"))), kDone);
  EXPECT_TRUE(has(r.printed(), "✂ corte parcial ---")) << r.printed();
  EXPECT_EQ(tail(r.send(ByteArray{bm::cmd::Block}, "K")), (St{bm::st1::BadParamCount, 0, 3}));
  EXPECT_EQ(tail(r.send(ByteArray{bm::cmd::Block}, raw("K\x05\x02"))), (St{0, bm::st2::BadParamType, 4}));
  r.core->setPaperOut(true);
  const size_t lines = r.paper->lineCount();
  EXPECT_EQ(tail(r.send(ByteArray{bm::cmd::Block}, raw("K\x00\x01"))), (St{bm::st1::PaperOut, 0, 11}));
  EXPECT_EQ(r.paper->lineCount(), lines);
  r.core->setPaperOut(false);

  // 62 '@': line 1 (48) and line 2 (36), printed under the printer's own reports.
  const std::string id = pad("MD5: 0123456789ABCDEF0123456789ABCDEF", 48) + pad("TARVION PDV 1.0", 36);
  EXPECT_EQ(tail(r.send(ByteArray{bm::cmd::Block}, "@" + id.substr(1))), (St{bm::st1::BadParamCount, 0, 3}));
  ASSERT_EQ(tail(r.send(ByteArray{bm::cmd::Block}, "@" + id)), kDone);
  EXPECT_EQ(r.core->identity().appLine1, "MD5: 0123456789ABCDEF0123456789ABCDEF");
  EXPECT_EQ(r.core->identity().appLine2, "TARVION PDV 1.0");
  r.paper->clear();
  ASSERT_EQ(tail(r.send(bm::cmd::LeituraX)), kDone);
  p = r.printed();
  EXPECT_TRUE(has(p, "\nMD5: 0123456789ABCDEF0123456789ABCDEF\nTARVION PDV 1.0\n")) << p;
  // Not in the middle of a document.
  ASSERT_EQ(tail(r.send(bm::cmd::OpenReceipt)), kDone);
  EXPECT_EQ(tail(r.send(ByteArray{bm::cmd::Block}, "@" + std::string(84, ' '))), (St{bm::st1::ReceiptOpen, 0, 7}));
  ASSERT_EQ(tail(r.send(bm::cmd::CancelReceipt)), kDone);
  // Blank lines take the identification away.
  ASSERT_EQ(tail(r.send(ByteArray{bm::cmd::Block}, "@" + std::string(84, ' '))), kDone);
  r.paper->clear();
  ASSERT_EQ(tail(r.send(bm::cmd::LeituraX)), kDone);
  EXPECT_FALSE(has(r.printed(), "TARVION PDV")) << r.printed();
}

TEST(FsModels, TheMp7000RegistersItemsWithItsOwnCommand) {
  Rig r(10);
  // code(14) tax(2) unit(2) quantity(7) price(8) discount(8) increase(8) description NUL
  auto item = [](const std::string& tax, const std::string& qty, const std::string& price, const std::string& disc,
                 const std::string& inc) {
    return std::string("I") + pad("7891234567890", 14) + tax + "KG" + qty + price + disc + inc +
           text::cp("FEIJÃO CARIOCA") + std::string(1, '\0');
  };
  EXPECT_EQ(tail(r.send(ByteArray{bm::cmd::Block}, item("01", "0001500", "00002990", "00000000", "00000000"))),
            (St{0, bm::st2::NotExecuted, 8}));
  ASSERT_EQ(tail(r.send(bm::cmd::OpenReceipt)), kDone);
  ASSERT_EQ(tail(r.send(ByteArray{bm::cmd::Block}, item("01", "0001500", "00002990", "00000050", "00000000"))), kDone);
  ASSERT_EQ(r.core->document().items.size(), 1u);
  const Item& it = r.core->document().items[0];
  EXPECT_EQ(it.code, "7891234567890");
  EXPECT_EQ(it.tax, "01");
  EXPECT_EQ(it.unit, "KG");
  EXPECT_EQ(it.quantity, 1500);
  EXPECT_EQ(it.unitPrice, 2990);
  EXPECT_EQ(it.discount, 50);
  EXPECT_EQ(it.description, text::cp("FEIJÃO CARIOCA"));
  EXPECT_EQ(it.net(), 448 - 50);
  ASSERT_EQ(tail(r.send(ByteArray{bm::cmd::Block}, item("FF", "0001000", "00001000", "00000000", "00000025"))), kDone);
  EXPECT_EQ(r.core->document().items[1].increase, 25);
  EXPECT_EQ(tail(r.send(ByteArray{bm::cmd::Block}, item("12", "0001000", "00001000", "00000000", "00000000"))),
            (St{0, bm::st2::TaxNotProgrammed, 14}));
  EXPECT_EQ(tail(r.send(ByteArray{bm::cmd::Block}, item("01", "00010X0", "00001000", "00000000", "00000000"))),
            (St{0, bm::st2::BadParamType, 4}));
  EXPECT_EQ(tail(r.send(ByteArray{bm::cmd::Block}, "I" + pad("1", 30))), (St{bm::st1::BadParamCount, 0, 3}));
  EXPECT_TRUE(has(r.printed(), "FEIJÃO CARIOCA")) << r.printed();
  // Only the MP-7000 knows the command.
  Rig other(9);
  ASSERT_EQ(tail(other.send(bm::cmd::OpenReceipt)), kDone);
  EXPECT_EQ(tail(other.send(ByteArray{bm::cmd::Block}, item("01", "0001000", "00001000", "00000000", "00000000"))),
            (St{bm::st1::UnknownCommand, 0, 1}));
  EXPECT_TRUE(other.core->document().items.empty());
}

TEST(FsModels, NewSettingsAndDocumentsSurviveARestart) {
  testsupport::TempDir dir;
  const std::string state = dir.file("mp2100.state");
  {
    Rig r(3, state);
    ASSERT_EQ(tail(r.send(ByteArray{bm::cmd::Block}, "@" + pad("LINHA UM", 48) + pad("LINHA DOIS", 36))), kDone);
    ASSERT_EQ(tail(r.send(58, "Dolar")), kDone);
    ASSERT_EQ(tail(r.send(59, "Dolares")), kDone);
    sale(r, "02");
    ASSERT_EQ(tail(r.send(bm::cmd::OpenLinked, pad("Cartao", 16))), kDone);
    ASSERT_EQ(tail(r.send(bm::cmd::LinkedText, "VIA DO CLIENTE\n")), kDone);
    ASSERT_EQ(tail(r.send(bm::cmd::CloseReport)), kDone);
    ASSERT_EQ(tail(r.send(bm::cmd::OpenReceipt, pad("1", 29) + pad("MARIA", 30) + pad("RUA A", 80))), kDone);
    ASSERT_EQ(tail(r.send(bm::cmd::RegisterItem, itemParams("04", "000010000", "0001000", "1", "SERVICO"))), kDone);
    ASSERT_EQ(tail(r.send(93, "D00100000100")), kDone);
  }
  Rig again(3, state);
  EXPECT_EQ(again.core->loadError(), "");
  EXPECT_EQ(again.core->identity().appLine1, "LINHA UM");
  EXPECT_EQ(again.core->identity().appLine2, "LINHA DOIS");
  EXPECT_EQ(again.core->identity().currencySingular, "Dolar");
  EXPECT_EQ(again.core->identity().currencyPlural, "Dolares");
  EXPECT_EQ(again.core->document().customerName, "MARIA");
  EXPECT_EQ(again.core->document().customerAddress, "RUA A");
  EXPECT_EQ(again.core->document().items.at(0).discount, 100);
  EXPECT_EQ(bcdAt(dataOf(again.read35(76)), 0, 7), 100u);
  EXPECT_EQ(again.core->lastLinked().text, "VIA DO CLIENTE\n");
  // The receipt opened after the linked one took its second copy away.
  EXPECT_FALSE(again.core->lastLinked().allowed);

  // Every one of these fields is part of the state: a file without one is
  // refused, naming it, rather than read with a default in its place.
  const std::string saved = testsupport::readFile(state);
  for (const std::string field : {"appLine1", "currencyPlural", "issDiscounts", "customerName", "lastLinked"}) {
    std::string cut = saved;
    const size_t at = cut.find("\"" + field + "\"");
    ASSERT_NE(at, std::string::npos) << field;
    cut.replace(at + 1, field.size(), "x" + field);
    FiscalCore plain;
    std::string err;
    EXPECT_FALSE(plain.deserialize(cut, &err)) << field;
    EXPECT_NE(err.find(field + ": is missing"), std::string::npos) << err;
  }
}
