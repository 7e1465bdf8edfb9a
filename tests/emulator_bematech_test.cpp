// The Bematech virtual printer from the wire: raw frames through a channel of
// the virtual wire, ACK and the status bytes back, the fiscal state behind them,
// the injected faults, and the same face served on a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "core/text.h"
#include "emulator/bematech/printer.h"
#include "emulator/paper.h"
#include "emulator/printers.h"
#include "emulator/pty_host.h"
#include "emulator_rig.h"
#include "test_support.h"

using namespace tarvion;
using namespace tarvion::emulator;
namespace bm = tarvion::emulator::bematech;

namespace {

using emutest::bytes;
using emutest::itemParams;

struct Rig : emutest::EmulatorRig {
  uint8_t prefix;
  explicit Rig(int number = 1) : EmulatorRig(number), prefix(model.prefix) {}
  // The whole answer, ACK included.
  ByteArray send(const ByteArray& command, const std::string& params = {}) { return raw(frame(command, params)); }
  ByteArray send(uint8_t command, const std::string& params = {}) { return send(ByteArray{command}, params); }
  ByteArray read35(uint8_t sub) { return send(ByteArray{bm::cmd::Read, sub}); }
};

// ACK then ST1 ST2 (and ST3 with FS): the data between them.
ByteArray dataOf(const ByteArray& reply, bool fs = false) {
  const size_t st = fs ? 4 : 2;
  if (reply.size() < 1 + st) return {};
  return ByteArray(reply.begin() + 1, reply.end() - static_cast<long>(st));
}

const ByteArray kOk{bm::kACK, 0, 0};

}  // namespace

TEST(BematechPrinter, AWholeSaleOverTheWire) {
  Rig r;
  EXPECT_EQ(r.send(bm::cmd::OpenReceipt), kOk);
  EXPECT_EQ(r.send(bm::cmd::RegisterItem, itemParams("01", "000002990", "0001500", "7891234567890", "REFRIGERANTE")),
            kOk);
  EXPECT_EQ(r.send(bm::cmd::RegisterItem, itemParams("04", "000010000", "0002000", "SRV1", "INSTALACAO")), kOk);
  EXPECT_EQ(r.send(bm::cmd::CancelItem, "0002"), kOk);
  EXPECT_EQ(r.send(bm::cmd::Totalize, "d00000000000048"), kOk);
  EXPECT_EQ(r.send(bm::cmd::Payment,
                   "00"
                   "00000000001000"),
            kOk);
  EXPECT_EQ(r.send(bm::cmd::CloseReceipt, "VOLTE SEMPRE"), kOk);

  const FiscalCore& c = *r.core;
  EXPECT_FALSE(c.receiptOpen());
  EXPECT_EQ(c.lastReceipt().total, 400);
  EXPECT_EQ(c.lastReceipt().change, 600);
  EXPECT_EQ(c.day().gross, 448 + 2000);
  EXPECT_EQ(c.day().cancellations, 2000);
  ASSERT_EQ(c.lastReceipt().items.size(), 2u);
  EXPECT_EQ(c.lastReceipt().items[0].code, "7891234567890");
  EXPECT_EQ(c.lastReceipt().items[0].description, "REFRIGERANTE");
  EXPECT_EQ(c.lastReceipt().items[0].unit, "UN");

  // The counters as the driver reads them: 3 BCD bytes for the receipt number.
  ByteArray coo = r.send(bm::cmd::ReceiptNumber);
  ASSERT_EQ(coo.size(), 6u);
  EXPECT_EQ(emutest::bcdValue(coo.data() + 1, 3), 1u);
  EXPECT_EQ(emutest::bcdValue(dataOf(r.read35(bm::read::GrandTotal)).data(), 9), 2448u);
  EXPECT_EQ(emutest::bcdValue(dataOf(r.read35(bm::read::CancelTotal)).data(), 7), 2000u);
  EXPECT_EQ(emutest::bcdValue(dataOf(r.read35(bm::read::DiscountTotal)).data(), 7), 48u);
  EXPECT_EQ(emutest::bcdValue(dataOf(r.read35(bm::read::LastItem)).data(), 2), 2u);

  const std::string p = r.paper->printed();
  EXPECT_NE(p.find("7891234567890 REFRIGERANTE"), std::string::npos);
  EXPECT_NE(p.find("CANCELAMENTO ITEM 002"), std::string::npos);
  EXPECT_NE(p.find("VOLTE SEMPRE"), std::string::npos);
  EXPECT_NE(p.find("TROCO R$"), std::string::npos);
  EXPECT_NE(p.find("BEMATECH MP-20 FI II ECF-IF"), std::string::npos);
}

TEST(BematechPrinter, WrongStateCommandsGiveTheStatusBitsOfARealPrinter) {
  Rig r;
  const ByteArray notExecuted{bm::kACK, 0, bm::st2::NotExecuted};
  EXPECT_EQ(r.send(bm::cmd::CloseReceipt, "X"), notExecuted);
  ASSERT_EQ(r.send(bm::cmd::OpenReceipt), kOk);
  EXPECT_EQ(r.send(bm::cmd::OpenReceipt), (ByteArray{bm::kACK, bm::st1::ReceiptOpen, 0}));
  EXPECT_EQ(r.send(bm::cmd::LeituraX), (ByteArray{bm::kACK, bm::st1::ReceiptOpen, 0}));
  EXPECT_EQ(r.send(bm::cmd::RegisterItem, itemParams("09", "000001000", "0001000", "1", "PRODUTO")),
            (ByteArray{bm::kACK, 0, bm::st2::TaxNotProgrammed}));
  EXPECT_EQ(r.send(bm::cmd::Payment,
                   "00"
                   "00000000000100"),
            notExecuted);                                                // not totalled
  EXPECT_EQ(r.send(bm::cmd::Totalize, "d00000000000000"), notExecuted);  // no item
  // Unknown command, wrong parameter count, wrong parameter type.
  EXPECT_EQ(r.send(0x7F), (ByteArray{bm::kACK, bm::st1::UnknownCommand, 0}));
  EXPECT_EQ(r.send(bm::cmd::CancelItem, "001"), (ByteArray{bm::kACK, bm::st1::BadParamCount, 0}));
  EXPECT_EQ(r.send(bm::cmd::CancelItem, "00x1"), (ByteArray{bm::kACK, 0, bm::st2::BadParamType}));
  EXPECT_EQ(r.send(bm::cmd::RegisterItem, "01000001000"), (ByteArray{bm::kACK, bm::st1::BadParamCount, 0}));
  EXPECT_EQ(r.send(bm::cmd::CancelReceipt), kOk);
  // Cancelling again: nothing open, and the cancelled receipt was never closed.
  EXPECT_EQ(r.send(bm::cmd::CancelReceipt), (ByteArray{bm::kACK, 0, bm::st2::CancelNotAllowed}));

  // Paper out: the bit in every reply, printing refused.
  r.core->setPaperOut(true);
  EXPECT_EQ(r.send(bm::cmd::Status), (ByteArray{bm::kACK, bm::st1::PaperOut, 0}));
  EXPECT_EQ(r.send(bm::cmd::OpenReceipt), (ByteArray{bm::kACK, bm::st1::PaperOut, 0}));
  r.core->setPaperOut(false);
  r.core->setPaperNearEnd(true);
  // Near the end is a warning, not an error.
  const ByteArray st = r.send(bm::cmd::Status);
  EXPECT_EQ(st, (ByteArray{bm::kACK, bm::st1::NearPaperEnd, 0}));
  // A frame with the other prefix is refused with "first byte not ESC".
  EXPECT_EQ(r.raw(emutest::request(bm::kFS, {bm::cmd::Status}, {})),
            (ByteArray{bm::kACK, bm::st1::FirstNotEsc | bm::st1::NearPaperEnd, 0}));
}

TEST(BematechPrinter, FsModelsAddTheExtendedStatusCode) {
  Rig r(3);  // MP-2100 TH FI: FS prefix, full table
  const ByteArray ok{bm::kACK, 0, 0, 0, 0};
  EXPECT_EQ(r.send(bm::cmd::OpenReceipt), ok);
  ByteArray again = r.send(bm::cmd::OpenReceipt);
  // ST1 "receipt open", ST2 0, ST3 7 "Cupom fiscal aberto." low byte first.
  EXPECT_EQ(again, (ByteArray{0x06, 0x02, 0x00, 0x07, 0x00}));
  auto st3 = [&](uint8_t c, const std::string& params) {
    ByteArray a = r.send(c, params);
    const size_t n = a.size();
    return n >= 5 ? static_cast<uint16_t>(a[n - 2] | a[n - 1] << 8) : uint16_t{0xFFFF};
  };
  EXPECT_EQ(st3(bm::cmd::RegisterItem, itemParams("12", "000001000", "0001000", "1", "PRODUTO")), 14);
  EXPECT_EQ(st3(bm::cmd::CloseReceipt, ""), 23);
  ASSERT_EQ(r.send(bm::cmd::RegisterItem, itemParams("01", "000001000", "0001000", "1", "PRODUTO")), ok);
  ASSERT_EQ(r.send(bm::cmd::Totalize, "a00000000000000"), ok);
  EXPECT_EQ(st3(bm::cmd::Payment,
                "09"
                "00000000000100"),
            20);
  EXPECT_EQ(st3(bm::cmd::CloseReceipt, ""), 37);
  ASSERT_EQ(r.send(bm::cmd::Payment,
                   "01"
                   "00000000000100"),
            ok);
  ASSERT_EQ(r.send(bm::cmd::CloseReceipt, ""), ok);
  EXPECT_EQ(st3(bm::cmd::CloseReceipt, ""), 8);
  // Data commands: data, ST1, ST2, ST3 low, ST3 high.
  ByteArray coo = r.send(bm::cmd::ReceiptNumber);
  ASSERT_EQ(coo.size(), 1u + 3 + 4);
  EXPECT_EQ(emutest::bcdValue(coo.data() + 1, 3), 1u);
  EXPECT_EQ(ByteArray(coo.end() - 4, coo.end()), (ByteArray{0, 0, 0, 0}));

  // Older tables list the same texts under other codes.
  Rig old(2);  // MP-2000 TH FI
  EXPECT_EQ(old.printer->st3For(7), 7);
  EXPECT_EQ(old.printer->st3For(126), 125);
  // A text the model lacks becomes "command not carried out".
  EXPECT_EQ(old.printer->st3For(170), 18);
  Rig esc(6);  // MP-40: ESC, 40 columns, no ST3
  EXPECT_EQ(esc.send(bm::cmd::Status), kOk);
  EXPECT_EQ(esc.paper->columns(), 40);
}

TEST(BematechPrinter, ReadsAnswerInTheLayoutsTheDriverParses) {
  Rig r;
  // Tax table: flags from 35/29, rates from 26.
  ByteArray flags = dataOf(r.read35(bm::read::TaxFlags));
  ASSERT_EQ(flags.size(), 2u);
  EXPECT_EQ(flags[0], 0x10);  // position 4 is ISS
  EXPECT_EQ(flags[1], 0x00);
  ByteArray rates = dataOf(r.send(bm::cmd::TaxRates));
  ASSERT_EQ(rates.size(), 33u);
  EXPECT_EQ(rates[0], 4);
  EXPECT_EQ(emutest::hexDigits(rates.data() + 1, 8), "1800120007000500");

  // A sale paid by card, then the payment table with its amounts.
  ASSERT_EQ(r.send(bm::cmd::OpenReceipt), kOk);
  ASSERT_EQ(r.send(bm::cmd::RegisterItem, itemParams("02", "000012345", "0001000", "1", "PRODUTO")), kOk);
  ASSERT_EQ(r.send(bm::cmd::Totalize, "d00000000000000"), kOk);
  ASSERT_EQ(r.send(bm::cmd::Payment,
                   "02"
                   "00000000001234"),
            kOk);
  ByteArray flags17 = dataOf(r.read35(bm::read::Flags));
  ASSERT_EQ(flags17.size(), 3u);
  EXPECT_EQ(flags17[2] & 0x01, 0x01);  // receipt open, in the last data byte
  ASSERT_EQ(r.send(bm::cmd::CloseReceipt), kOk);
  EXPECT_EQ(dataOf(r.read35(bm::read::Flags))[2] & 0x01, 0);

  ByteArray pay = r.read35(bm::read::PaymentTypes);
  ASSERT_EQ(pay.size(), 1u + 1333 + 2);
  const ByteArray reply(pay.begin() + 1, pay.end());
  EXPECT_EQ(reply[0], 3);
  EXPECT_EQ(text::trimRight(std::string(reply.begin() + 1, reply.begin() + 17)), "Dinheiro");
  EXPECT_EQ(text::trimRight(std::string(reply.begin() + 33, reply.begin() + 49)), "Cartao");
  EXPECT_EQ(text::trimRight(std::string(reply.begin() + 49, reply.begin() + 65)), "");
  // Amounts: ten BCD bytes each from byte 833, read as ten-thousandths.
  EXPECT_EQ(emutest::bcdValue(reply.data() + 833 + 20, 10), 123400u);
  EXPECT_EQ(emutest::bcdValue(reply.data() + 833, 10), 0u);

  ByteArray titles = dataOf(r.read35(bm::read::NonFiscalTitles));
  ASSERT_EQ(titles.size(), 2u * 31);
  EXPECT_EQ(titles[0], 0x01);
  EXPECT_EQ(text::trimRight(std::string(titles.begin() + 12, titles.begin() + 31)), "SANGRIA");
  EXPECT_EQ(titles[31], 0x02);
  EXPECT_EQ(text::trimRight(std::string(titles.begin() + 31 + 12, titles.begin() + 62)), "SUPRIMENTO");

  const ByteArray serial = dataOf(r.read35(bm::read::SerialNumber));
  EXPECT_EQ(std::string(serial.begin(), serial.end()), "BE000000000000000001");
  EXPECT_EQ(emutest::hexDigits(dataOf(r.read35(bm::read::Firmware)).data(), 2), "0330");
  EXPECT_EQ(emutest::hexDigits(dataOf(r.read35(bm::read::DateTime)).data(), 6), "041226100000");
  EXPECT_EQ(emutest::hexDigits(dataOf(r.read35(bm::read::MovementDate)).data(), 3), "041226");
  EXPECT_EQ(emutest::hexDigits(dataOf(r.read35(bm::read::LastReductionDate)).data(), 3), "000000");
  ByteArray start = dataOf(r.read35(bm::read::FiscalStartDate));
  ASSERT_EQ(start.size(), 3u + 16 * 7);
  EXPECT_EQ(emutest::hexDigits(start.data(), 3), "041226");
  EXPECT_EQ(emutest::bcdValue(start.data() + 3 + 7, 7), 1234u);  // position 02
  ByteArray block = dataOf(r.send(ByteArray{bm::cmd::Block, bm::block::DayStart}));
  ASSERT_EQ(block.size(), 296u);
  EXPECT_EQ(emutest::bcdValue(block.data() + 1, 9), 0u);
  EXPECT_EQ(emutest::bcdValue(block.data() + 284, 3), 1u);
  EXPECT_EQ(r.read35(99), (ByteArray{bm::kACK, 0, bm::st2::BadParamType}));

  // Programming: a payment answers its index in two digits.
  ByteArray added = r.send(bm::cmd::AddPayment, "Ticket          ");
  EXPECT_EQ(dataOf(added), bytes("03"));
  EXPECT_EQ(r.core->payments()[3].name, "Ticket");
  EXPECT_EQ(r.send(bm::cmd::RedefinePayments, "TICKET          Vale            "), kOk);
  ASSERT_EQ(r.core->payments().size(), 5u);
  EXPECT_EQ(r.core->payments()[4].name, "Vale");
  EXPECT_EQ(r.send(bm::cmd::AddNonFiscalTitle,
                   "03"
                   "VALE PRESENTE      "),
            kOk);
  EXPECT_EQ(r.core->titles()[2].name, "VALE PRESENTE");
  EXPECT_EQ(r.send(bm::cmd::AddNonFiscalTitle,
                   "03"
                   "VALE PRESENTE      "),
            (ByteArray{bm::kACK, 0, 1}));
  // A new rate waits for a day without movement.
  EXPECT_EQ(r.send(bm::cmd::AddTax, "1500"), (ByteArray{bm::kACK, 0, bm::st2::NotExecuted}));
}

TEST(BematechPrinter, ReportsLinkedAndNonFiscalReceipts) {
  Rig r;
  ASSERT_EQ(r.send(bm::cmd::OpenReceipt), kOk);
  ASSERT_EQ(r.send(bm::cmd::RegisterItem, itemParams("01", "000005000", "0001000", "1", "PRODUTO")), kOk);
  ASSERT_EQ(r.send(bm::cmd::Totalize, "d00000000000000"), kOk);
  ASSERT_EQ(r.send(bm::cmd::Payment,
                   "02"
                   "00000000000500"),
            kOk);
  ASSERT_EQ(r.send(bm::cmd::CloseReceipt), kOk);
  // Linked receipt of the card payment: 66, text, 21.
  EXPECT_EQ(r.send(bm::cmd::OpenLinked, "Dinheiro        "), (ByteArray{bm::kACK, 0, bm::st2::NotExecuted}));
  EXPECT_EQ(r.send(bm::cmd::OpenLinked, "Boleto          "), (ByteArray{bm::kACK, 0, bm::st2::NotExecuted}));
  EXPECT_EQ(r.send(bm::cmd::OpenLinked, "Cartao          00000000000500000001"), kOk);
  EXPECT_EQ(r.send(bm::cmd::LinkedText, "TRANSACAO APROVADA\n"), kOk);
  EXPECT_EQ(r.send(bm::cmd::CloseReport), kOk);
  EXPECT_EQ(r.core->document().kind, DocKind::None);
  EXPECT_EQ(r.send(bm::cmd::LinkedText, "X"), (ByteArray{bm::kACK, 0, bm::st2::NotExecuted}));

  // Management report: 20 opens and prints, 21 closes.
  EXPECT_EQ(r.send(bm::cmd::Report), kOk);
  EXPECT_EQ(r.send(bm::cmd::Report, "LINHA 1\nLINHA 2\n"), kOk);
  EXPECT_EQ(r.send(bm::cmd::OpenReceipt), (ByteArray{bm::kACK, 0, bm::st2::NotExecuted}));
  EXPECT_EQ(r.send(bm::cmd::CloseReport), kOk);
  EXPECT_EQ(r.send(bm::cmd::CloseReport), (ByteArray{bm::kACK, 0, bm::st2::NotExecuted}));

  // Non-fiscal receipts by title code: SU with a payment name, #1 without.
  EXPECT_EQ(r.send(bm::cmd::NonFiscal, "SU00000000010000Dinheiro        "), kOk);
  EXPECT_EQ(r.core->titles()[1].dayAmount, 10000);
  EXPECT_EQ(r.send(bm::cmd::NonFiscal, "#100000000000100"), (ByteArray{bm::kACK, 0, bm::st2::NotExecuted}));
  ASSERT_EQ(r.core->addTitle("VALE"), FiscalError::Ok);
  EXPECT_EQ(r.send(bm::cmd::NonFiscal, "#100000000000100"), kOk);
  EXPECT_EQ(r.core->titles()[2].dayAmount, 100);
  EXPECT_EQ(r.send(bm::cmd::NonFiscal, "SA00000000000100Boleto          "),
            (ByteArray{bm::kACK, 0, bm::st2::NotExecuted}));
  EXPECT_EQ(emutest::bcdValue(dataOf(r.read35(bm::read::NonFiscalCounter)).data(), 3), 4u);

  // Authentication after a receipt, drawer and document sensor.
  EXPECT_EQ(r.send(bm::cmd::Authenticate, "VALOR"), kOk);
  EXPECT_EQ(dataOf(r.send(bm::cmd::DrawerStatus)), ByteArray{0});
  EXPECT_EQ(r.send(bm::cmd::CashDrawer, std::string(1, '\x0A')), kOk);
  EXPECT_EQ(dataOf(r.send(bm::cmd::DrawerStatus)), ByteArray{1});
  r.printer->setDrawerOpen(false);
  EXPECT_EQ(dataOf(r.send(bm::cmd::DrawerStatus)), ByteArray{0});
  EXPECT_EQ(dataOf(r.send(ByteArray{bm::cmd::Block, '0'})), ByteArray{0});
  r.printer->setDocumentInserted(true);
  EXPECT_EQ(dataOf(r.send(ByteArray{bm::cmd::Block, '0'})), ByteArray{0x64});

  const std::string p = r.paper->printed();
  EXPECT_NE(p.find("TRANSACAO APROVADA"), std::string::npos);
  EXPECT_NE(p.find("LINHA 2"), std::string::npos);
  EXPECT_NE(p.find("AUTENTICACAO"), std::string::npos);
}

TEST(BematechPrinter, XReportZReductionAndTheFiscalMemory) {
  Rig r;
  const int gnf = r.core->counters().gnf;
  EXPECT_EQ(r.send(bm::cmd::LeituraX), kOk);
  EXPECT_EQ(r.core->counters().gnf, gnf + 1);
  EXPECT_NE(r.paper->printed().find("LEITURA X"), std::string::npos);

  ASSERT_EQ(r.send(bm::cmd::OpenReceipt), kOk);
  ASSERT_EQ(r.send(bm::cmd::RegisterItem, itemParams("01", "000001000", "0003000", "1", "PRODUTO")), kOk);
  ASSERT_EQ(r.send(bm::cmd::Totalize, "d00000000000000"), kOk);
  ASSERT_EQ(r.send(bm::cmd::Payment,
                   "00"
                   "00000000000300"),
            kOk);
  ASSERT_EQ(r.send(bm::cmd::CloseReceipt), kOk);

  // The X report over the port: status, text, status.
  ByteArray x = r.send(bm::cmd::LeituraXSerial);
  ASSERT_GT(x.size(), 5u);
  EXPECT_EQ(x[1], 0);
  EXPECT_EQ(x[2], 0);
  const std::string xt(x.begin() + 3, x.end() - 2);
  EXPECT_NE(xt.find("GT: 3,00\r\n"), std::string::npos);

  EXPECT_EQ(r.send(bm::cmd::ReducaoZ, "0412261705"), (ByteArray{bm::kACK, bm::st1::BadParamCount, 0}));
  EXPECT_EQ(r.send(bm::cmd::ReducaoZ, "321226170509"), (ByteArray{bm::kACK, 0, bm::st2::BadParamType}));
  EXPECT_EQ(r.send(bm::cmd::ReducaoZ, "041226100200"), kOk);
  // Within a few minutes the host's time sets the clock.
  EXPECT_EQ(r.core->now(), toSeconds(Stamp{2026, 12, 4, 10, 2, 0}));
  EXPECT_EQ(emutest::bcdValue(dataOf(r.read35(bm::read::ZCounter)).data(), 2), 1u);
  EXPECT_EQ(emutest::hexDigits(dataOf(r.read35(bm::read::LastReductionDate)).data(), 3), "041226");
  ASSERT_EQ(r.core->fiscalMemory().size(), 1u);
  EXPECT_EQ(r.core->fiscalMemory()[0].grandTotal, 300);
  EXPECT_NE(r.paper->printed().find("REDUÇÃO Z"), std::string::npos);
  // The day is closed: no sale, no second reduction.
  EXPECT_EQ(r.send(bm::cmd::OpenReceipt), (ByteArray{bm::kACK, 0, bm::st2::NotExecuted}));
  EXPECT_EQ(r.send(bm::cmd::ReducaoZ, "041226100300"), (ByteArray{bm::kACK, 0, bm::st2::NotExecuted}));
  EXPECT_EQ(dataOf(r.read35(bm::read::Flags))[0] & 0x08, 0x08);

  // The fiscal memory over the port, by reduction number and by date.
  ByteArray m = r.send(bm::cmd::FiscalMemory, "000001000001R");
  ASSERT_GT(m.size(), 5u);
  const std::string mt(m.begin() + 3, m.end() - 2);
  EXPECT_NE(mt.find("CRZ 0001"), std::string::npos);
  EXPECT_NE(mt.find("GT 3,00"), std::string::npos);
  ByteArray none = r.send(bm::cmd::FiscalMemory, "010126020126r");
  EXPECT_NE(std::string(none.begin(), none.end()).find("SEM REDU"), std::string::npos);
  const int before = r.core->counters().gnf;
  EXPECT_EQ(r.send(bm::cmd::FiscalMemory, "041226041226I"), kOk);  // printed
  EXPECT_EQ(r.core->counters().gnf, before + 1);
  EXPECT_EQ(r.send(bm::cmd::FiscalMemory, "000002000001i"), (ByteArray{bm::kACK, 0, bm::st2::BadParamType}));

  // Next day: daylight saving may change before the first sale, not after.
  r.hostNow += 86400;
  EXPECT_EQ(r.send(bm::cmd::DaylightSaving), kOk);
  EXPECT_EQ(dataOf(r.read35(bm::read::Flags))[0] & 0x04, 0x04);
  EXPECT_EQ(r.send(bm::cmd::OpenReceipt), kOk);
  EXPECT_EQ(r.send(bm::cmd::CancelReceipt), kOk);
  EXPECT_EQ(r.send(bm::cmd::DaylightSaving), (ByteArray{bm::kACK, 0, bm::st2::NotExecuted}));
}

TEST(BematechPrinter, BadFramesAreRefusedWithNak) {
  Rig r;
  ByteArray f = emutest::request(bm::kESC, {bm::cmd::Status}, {});
  f[f.size() - 2] ^= 0x01;
  EXPECT_EQ(r.raw(f), ByteArray{bm::kNAK});
  // Line noise before a good frame: one NAK for the noise, then the answer.
  ByteArray noisy{0x55, 0xAA};
  const ByteArray good = emutest::request(bm::kESC, {bm::cmd::Status}, {});
  noisy.insert(noisy.end(), good.begin(), good.end());
  EXPECT_EQ(r.raw(noisy), (ByteArray{bm::kNAK, bm::kACK, 0, 0}));
  // A frame in two writes is answered once it is whole.
  EXPECT_EQ(r.raw(ByteArray(good.begin(), good.begin() + 3)), ByteArray{});
  EXPECT_EQ(r.raw(ByteArray(good.begin() + 3, good.end())), kOk);
  // Half a frame abandoned for long is dropped, not glued to the next one.
  EXPECT_EQ(r.raw(ByteArray(good.begin(), good.begin() + 4)), ByteArray{});
  r.dev->clock().sleepMs(1000);
  EXPECT_EQ(r.raw(good), kOk);
  EXPECT_EQ(r.printer->framesReceived(), 3);
}

TEST(BematechPrinter, InjectedFaults) {
  Rig r;
  // noanswer: nothing comes back and nothing is done.
  r.printer->setFaults(FaultSet{true});
  EXPECT_EQ(r.send(bm::cmd::OpenReceipt), ByteArray{});
  EXPECT_FALSE(r.core->receiptOpen());
  // nak: the command is refused whole.
  ASSERT_TRUE(r.printer->setFaults("nak"));
  EXPECT_EQ(r.send(bm::cmd::OpenReceipt), ByteArray{bm::kNAK});
  EXPECT_FALSE(r.core->receiptOpen());
  // garbage: done, but the answer is noise of the same length.
  ASSERT_TRUE(r.printer->setFaults("garbage"));
  ByteArray g = r.send(bm::cmd::ReceiptNumber);
  ASSERT_EQ(g.size(), 6u);
  EXPECT_NE(g[0], bm::kACK);
  EXPECT_NE(g[0], bm::kNAK);
  // short: the answer is cut.
  ASSERT_TRUE(r.printer->setFaults("short"));
  EXPECT_EQ(r.send(bm::cmd::ReceiptNumber), (ByteArray{bm::kACK, 0x00, 0x00}));
  EXPECT_EQ(r.send(bm::cmd::OpenReceipt), ByteArray{bm::kACK});
  EXPECT_TRUE(r.core->receiptOpen());
  ASSERT_EQ(r.send(bm::cmd::CancelReceipt), ByteArray{bm::kACK});

  // slow: the answer arrives two seconds later on the simulated clock.
  ASSERT_TRUE(r.printer->setFaults("slow=2000"));
  const int64_t t0 = r.dev->clock().nowUs();
  EXPECT_EQ(r.send(bm::cmd::Status), kOk);
  EXPECT_GE(r.dev->clock().nowUs() - t0, 2'000'000);
  EXPECT_LT(r.dev->clock().nowUs() - t0, 2'200'000);

  // once: the next command only.
  ASSERT_TRUE(r.printer->setFaults("nak,once"));
  EXPECT_EQ(r.send(bm::cmd::Status), ByteArray{bm::kNAK});
  EXPECT_EQ(r.send(bm::cmd::Status), kOk);

  // cut=2: two answers, then the line is dead.
  ASSERT_TRUE(r.printer->setFaults("cut=2"));
  EXPECT_EQ(r.send(bm::cmd::Status), kOk);
  EXPECT_EQ(r.send(bm::cmd::Status), kOk);
  EXPECT_EQ(r.send(bm::cmd::Status), ByteArray{});
  EXPECT_TRUE(r.dev->isCut());
  EXPECT_TRUE(r.printer->lineCut());
  LineStatus ls;
  EXPECT_FALSE(r.ch->lineStatus(ls));
  // Mended: clearing the faults and the cable brings the printer back.
  r.printer->clearFaults();
  r.dev->cut(false);
  EXPECT_EQ(r.send(bm::cmd::Status), kOk);
}

TEST(BematechPrinter, ReadyMadePrintersKeepTheirStateAndPaper) {
  testsupport::TempDir dir;
  std::string err;
  EXPECT_EQ(makePrinter(31, "", "", &err), nullptr);
  EXPECT_NE(err.find("31"), std::string::npos);
  {
    auto p = makePrinter(6, dir.file("mp40.state"), dir.file("mp40.txt"), &err);
    ASSERT_NE(p, nullptr) << err;
    EXPECT_EQ(p->core().paper()->columns(), 40);
    auto dev = makeVirtualDevice(p);
    auto ch = dev->open();
    const ByteArray f = emutest::request(bm::kESC, {bm::cmd::OpenReceipt}, {});
    size_t w = 0;
    ASSERT_TRUE(ch->write(f.data(), f.size(), w));
  }
  auto again = makePrinter(6, dir.file("mp40.state"), dir.file("mp40.txt"), &err);
  ASSERT_NE(again, nullptr) << err;
  EXPECT_TRUE(again->core().receiptOpen());
  EXPECT_NE(testsupport::readFile(dir.file("mp40.txt")).find("CUPOM FISCAL"), std::string::npos);
  std::ofstream(dir.file("bad.state")) << "tarvion-fiscal-state=1\ncounters=x\nend=1\n";
  EXPECT_EQ(makePrinter(1, dir.file("bad.state"), "", &err), nullptr);
  EXPECT_NE(err.find(dir.file("bad.state")), std::string::npos) << err;
}

TEST(BematechPrinter, FaultListGrammar) {
  FaultSet f;
  std::string err;
  ASSERT_TRUE(FaultSet::parse("slow=300, cut=5,garbage", f, &err)) << err;
  EXPECT_EQ(f.slowMs, 300u);
  EXPECT_EQ(f.cutAfter, 5);
  EXPECT_TRUE(f.garbage);
  EXPECT_FALSE(f.once);
  EXPECT_EQ(f.toString(), "garbage,slow=300,cut=5");
  ASSERT_TRUE(FaultSet::parse("NoAnswer,once", f));
  EXPECT_TRUE(f.noAnswer);
  EXPECT_TRUE(f.once);
  ASSERT_TRUE(FaultSet::parse("", f));
  EXPECT_FALSE(f.any());
  ASSERT_TRUE(FaultSet::parse("none", f));
  EXPECT_EQ(f.toString(), "none");
  EXPECT_FALSE(FaultSet::parse("slow", f, &err));
  EXPECT_NE(err.find("slow=2000"), std::string::npos);
  EXPECT_FALSE(FaultSet::parse("slow=abc", f));
  EXPECT_FALSE(FaultSet::parse("nak=1", f));
  EXPECT_FALSE(FaultSet::parse("jam", f, &err));
  EXPECT_NE(err.find("jam"), std::string::npos);
  BematechModel m;
  EXPECT_TRUE(BematechModel::byNumber(26, m));
  EXPECT_EQ(m.table, bm::St3Table::IBM4610);
  EXPECT_FALSE(BematechModel::byNumber(11, m));
}

namespace {

// Opens the terminal end the way a port would, raw.
int openRaw(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0) return -1;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  return fd;
}

// Reads until n bytes came or the deadline passed; the time of the last byte in out.
ByteArray readFor(int fd, size_t n, int timeoutMs, double* lastMs = nullptr) {
  ByteArray got;
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    if (got.size() >= n || elapsed >= timeoutMs) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeoutMs - elapsed)) <= 0) continue;
    uint8_t buf[512];
    ssize_t k = ::read(fd, buf, sizeof buf);
    if (k > 0) got.insert(got.end(), buf, buf + k);
    if (lastMs) *lastMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  }
  return got;
}

// A face that answers every write with a fixed number of bytes.
class Echo final : public PrinterFace {
 public:
  explicit Echo(size_t n) : n_(n) {}
  void receive(const uint8_t*, size_t, ReplySink& out) override { out.send(ByteArray(n_, 'x'), 0); }
  std::string modelName() const override { return "echo"; }

 private:
  size_t n_;
};

}  // namespace

TEST(PtyHost, ServesTheBematechFaceOnATerminal) {
  testsupport::TempDir dir;
  auto core = std::make_shared<FiscalCore>();
  BematechModel m;
  ASSERT_TRUE(BematechModel::byNumber(3, m));
  auto printer = std::make_shared<BematechPrinter>(core, m);
  PtyHost host(printer, PtyOptions{dir.file("ttyECF"), 115200});
  std::string err;
  ASSERT_TRUE(host.start(&err)) << err;
  EXPECT_EQ(host.path().rfind("/dev/pts/", 0), 0u);
  EXPECT_EQ(std::filesystem::read_symlink(dir.file("ttyECF")).string(), host.path());
  host.startThread();
  int fd = openRaw(dir.file("ttyECF"));
  ASSERT_GE(fd, 0);
  const ByteArray frame = emutest::request(bm::kFS, {bm::cmd::Status}, {});
  ASSERT_EQ(::write(fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
  EXPECT_EQ(readFor(fd, 5, 2000), (ByteArray{bm::kACK, 0, 0, 0, 0}));
  const ByteArray open = emutest::request(bm::kFS, {bm::cmd::OpenReceipt}, {});
  ASSERT_EQ(::write(fd, open.data(), open.size()), static_cast<ssize_t>(open.size()));
  EXPECT_EQ(readFor(fd, 5, 2000), (ByteArray{bm::kACK, 0, 0, 0, 0}));
  {
    std::lock_guard<std::mutex> lock(printer->mutex());
    EXPECT_TRUE(core->receiptOpen());
  }
  ::close(fd);
  host.stop();
  EXPECT_EQ(host.bytesIn(), frame.size() + open.size());
}

TEST(PtyHost, PacesTheAnswerAtTheBaudRate) {
  PtyHost host(std::make_shared<Echo>(100), PtyOptions{"", 9600});
  ASSERT_TRUE(host.start());
  std::atomic<bool> stop{false};
  std::thread t([&] { host.runUntil(stop); });
  int fd = openRaw(host.path());
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "?", 1), 1);
  double lastMs = 0;
  // 100 bytes of 10 bits at 9600 baud take about 104 ms.
  const ByteArray got = readFor(fd, 100, 3000, &lastMs);
  EXPECT_EQ(got.size(), 100u);
  EXPECT_GE(lastMs, 90.0);
  EXPECT_LT(lastMs, 1000.0);
  ::close(fd);
  stop = true;
  t.join();
  EXPECT_EQ(host.bytesOut(), 100u);
}
