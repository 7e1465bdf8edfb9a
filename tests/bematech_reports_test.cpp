// Reports, fiscal-memory reads, printer state, counters, totals and dates on a
// CBematech over the virtual wire.
#include <gtest/gtest.h>

#include "bematech_fake_printer.h"
#include "core/text.h"
#include "drivers/bematech/CBematech2000.h"
#include "test_support.h"

using namespace tarvion;
using namespace bematest;
using text::cp;

namespace {

DateParts partsOf(const DateTime& dt) {
  DateParts p;
  EXPECT_TRUE(dt.parts(p));
  return p;
}

ByteArray concat(std::initializer_list<ByteArray> parts) {
  ByteArray out;
  for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace

TEST(BematechReports, XAndZ) {
  Rig<> r(60);
  ASSERT_TRUE(r.open());
  r.d.arPaymentTypes = {"Dinheiro", "Cheque", "Cartao"};
  r.d.arPaymentValues = {1, 2, 3};
  r.d.strLastItemCode = "x";
  ASSERT_EQ(r.d.LeituraX(), 1);
  EXPECT_EQ(r.d.LastItemCode(), "");  // the sale fields are reset
  ASSERT_EQ(r.d.ReducaoZ(DateTime::fromParts(2026, 12, 4, 17, 5, 9)), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(6, ""), body(5, "041226170509")}));
  // The payment types after the first two end with the day.
  EXPECT_EQ(r.d.arPaymentTypes, (std::vector<std::string>{"Dinheiro", "Cheque"}));
  EXPECT_EQ(r.d.arPaymentValues.size(), 2u);
  // Without a valid date the printer closes the day on its own clock.
  ASSERT_EQ(r.d.ReducaoZ(DateTime::invalid()), 1);
  EXPECT_EQ(r.printer->take(), std::vector<ByteArray>{body(5, "")});

  Rig<CBematech2000> fs(61, true);
  ASSERT_TRUE(fs.open());
  fs.d.arPaymentTypes = {"Dinheiro", "Cheque", "Cartao"};
  ASSERT_EQ(fs.d.ReducaoZ(DateTime::fromParts(2026, 1, 2, 3, 4, 5)), 1);
  EXPECT_EQ(fs.printer->take(), std::vector<ByteArray>{body(5, "020126030405")});
  EXPECT_EQ(fs.d.arPaymentTypes.size(), 3u);
}

TEST(BematechReports, FiscalMemoryReads) {
  Rig<> r(62);
  ASSERT_TRUE(r.open());
  const DateTime from = DateTime::fromParts(2026, 1, 1), to = DateTime::fromParts(2026, 12, 31);
  ASSERT_EQ(r.d.LeituraMemoriaFiscal(from, to, kTrue), 1);
  ASSERT_EQ(r.d.LeituraMemoriaFiscal(from, to, kFalse), 1);
  ASSERT_EQ(r.d.LeituraMFReducao(1, 25, kTrue), 1);
  ASSERT_EQ(r.d.LeituraMFReducao(1, 25, kFalse), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(8, "010126311226i"), body(8, "010126311226I"),
                                                       body(8, "000001000025i"), body(8, "000001000025I")}));
  r.printer->data[{8}] = bytes("REDUCAO 000001\r\nREDUCAO 000002\r\n");
  std::string text;
  ASSERT_EQ(r.d.LeituraMFSerialReducao(1, 2, text, kFalse), 1);
  EXPECT_EQ(text, "REDUCAO 000001\r\nREDUCAO 000002\r\n");
  ASSERT_EQ(r.d.LeituraMemoriaFiscalSerial(from, to, text, kTrue), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(8, "000001000002R"), body(8, "010126311226r")}));
  // A refused read leaves the text alone.
  r.printer->st1 = 0x04;
  text = "antes";
  EXPECT_EQ(r.d.LeituraMFSerialReducao(1, 2, text, kTrue), 0);
  EXPECT_EQ(text, "antes");
  EXPECT_EQ(r.d.strLastError, "Comando inexistente.\n");
}

TEST(BematechReports, TextReadsDoNotWaitForCts) {
  Rig<> r(63);
  ASSERT_TRUE(r.open());
  r.printer->data[{69}] = bytes("LEITURA X\r\nTOTAL 10,00\r\n");
  r.printer->holdCts = true;  // the printer holds CTS while it still sends
  std::string text;
  ASSERT_EQ(r.d.LeituraXSerial(text), 1);
  EXPECT_EQ(text, "LEITURA X\r\nTOTAL 10,00\r\n");
  // An ordinary command waits for CTS and so never sees that answer.
  r.printer->holdCts = false;
  VirtualLink link(*r.dev);
  link.setHolds(false, false);
  r.printer->hook = [&link](const ByteArray&, ByteArray& reply) {
    reply = {0x00, 0x00};
    link.setHolds(true, false);
    return true;
  };
  r.d.nAnswerTimeout = 2000;
  EXPECT_EQ(r.d.LeituraX(), 0);
  EXPECT_EQ(r.d.strLastError, "Timeout aguardando resposta da impressora.");
  link.setHolds(false, false);

  // With FS the text ends with four status bytes.
  Rig<CBematech2000> fs(64, true);
  ASSERT_TRUE(fs.open());
  fs.printer->data[{69}] = bytes("TEXTO");
  fs.printer->st3 = 0x0101;
  ASSERT_EQ(fs.d.LeituraXSerial(text), 1);
  EXPECT_EQ(text, "TEXTO");
}

TEST(BematechReports, DaylightSavingAndReceiptState) {
  Rig<> r(65);
  ASSERT_TRUE(r.open());
  r.printer->data[{35, 17}] = {0x04, 0x00, 0x00};
  BOOL flag = kFalse;
  ASSERT_EQ(r.d.VerificaHorarioVerao(flag), 1);
  EXPECT_TRUE(flag);
  // Already in the asked state: only the read goes out.
  ASSERT_EQ(r.d.MudaHorarioVerao(kTrue), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 17}, {35, 17}}));
  ASSERT_EQ(r.d.MudaHorarioVerao(kFalse), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 17}, {18}}));
  r.printer->data[{35, 17}] = {0x00, 0x00, 0x00};
  ASSERT_EQ(r.d.VerificaHorarioVerao(flag), 1);
  EXPECT_FALSE(flag);
  r.printer->st2 = 0x01;
  EXPECT_EQ(r.d.MudaHorarioVerao(kTrue), 0);
  EXPECT_EQ(r.printer->take().size(), 2u);  // the read only
  r.printer->st2 = 0;

  // The receipt flag is the last data byte.
  r.printer->data[{35, 17}] = {0x00, 0x00, 0x01};
  ASSERT_EQ(r.d.CupomFiscalAberto(flag), 1);
  EXPECT_TRUE(flag);
  r.printer->data[{35, 17}] = {0x01, 0x00, 0x00};
  ASSERT_EQ(r.d.CupomFiscalAberto(flag), 1);
  EXPECT_FALSE(flag);
  r.printer->hook = [](const ByteArray&, ByteArray& reply) {
    reply = {0x00};
    return true;
  };
  EXPECT_EQ(r.d.CupomFiscalAberto(flag), 0);
}

TEST(BematechReports, DrawerPaperAndAuthentication) {
  Rig<> r(66);
  ASSERT_TRUE(r.open());
  r.printer->st2 = 0x01;  // even refused pulses count as done
  EXPECT_EQ(r.d.OpenCashDrawer(), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{22, 10}, {22, 255}, {22, 127}, {22, 0}}));
  r.printer->st2 = 0;
  // No drawer: closed, without asking.
  EXPECT_EQ(r.d.IsCashDrawerClosed(), 1);
  EXPECT_TRUE(r.printer->take().empty());
  r.d.CashDrawerAttached = kTrue;
  r.printer->data[{23}] = {0x00};
  EXPECT_EQ(r.d.IsCashDrawerClosed(), 1);
  r.printer->data[{23}] = {0x01};
  EXPECT_EQ(r.d.IsCashDrawerClosed(), 0);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{23}, {23}}));
  r.printer->st1 = 0x40;
  EXPECT_EQ(r.d.IsLowPaper(), 1);
  r.printer->st1 = 0x00;
  EXPECT_EQ(r.d.IsLowPaper(), 0);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{19}, {19}}));
  EXPECT_EQ(r.d.AuthenticateDocument("extra"), 1);
  EXPECT_EQ(r.printer->take(), std::vector<ByteArray>{{16}});
  // Accepted without a printer command.
  EXPECT_EQ(r.d.DisplaySubtotal(), 1);
  EXPECT_EQ(r.d.SetOperator("Ana"), 1);
  EXPECT_EQ(r.d.DisplayText("a", "b"), 1);
  EXPECT_EQ(r.d.IsDocumentInserted(), 1);
  EXPECT_EQ(r.d.PrintSecondReceipt(), 1);
  EXPECT_EQ(r.d.PrintSecondReport(), 1);
  EXPECT_EQ(r.d.CanCancelReceipt(), 1);
  EXPECT_TRUE(r.printer->take().empty());
}

TEST(BematechReports, IdentityAndClock) {
  Rig<> r(67);
  ASSERT_TRUE(r.open());
  r.printer->data[{35, 0}] = bytes("BE091210100011223344");
  std::string serial;
  ASSERT_EQ(r.d.ReadSerialNumber(serial), 1);
  EXPECT_EQ(serial, "BE0912101000112");
  r.printer->data[{35, 23}] = {0x04, 0x12, 0x26, 0x17, 0x05, 0x09};
  DateTime now = DateTime::invalid();
  ASSERT_EQ(r.d.ReadDateTime(now), 1);
  DateParts p = partsOf(now);
  EXPECT_EQ(p.day, 4);
  EXPECT_EQ(p.month, 12);
  EXPECT_EQ(p.year, 2026);
  EXPECT_EQ(p.hour, 17);
  EXPECT_EQ(p.minute, 5);
  EXPECT_EQ(p.second, 9);
  r.printer->data[{35, 23}] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(r.d.ReadDateTime(now), 0);
  EXPECT_EQ(partsOf(now).day, 4);  // untouched
  r.printer->data[{35, 1}] = {0x03, 0x10};
  EXPECT_EQ(r.d.GetFirmwareVersion(), "0310");
}

TEST(BematechReports, FiscalInformation) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  Rig<> r(68);
  ASSERT_TRUE(r.open());
  auto& data = r.printer->data;
  data[{35, 0}] = bytes("BE091210100011223344");
  data[{35, 14}] = {0x00, 0x03};
  ByteArray start{0x01, 0x02, 0x24};
  ByteArray totals(16 * 7, 0);
  totals[4] = 0x01;      // position 1: 100.00
  totals[7 + 5] = 0x50;  // position 2: 50.00
  data[{35, 27}] = concat({start, totals});
  data[{35, 26}] = {0x03, 0x12, 0x26};
  data[{35, 23}] = {0x04, 0x12, 0x26, 0x10, 0x30, 0x00};
  data[{35, 9}] = {0x00, 0x42};
  data[{35, 10}] = {0x00, 0x05};
  data[{35, 4}] = {0, 0, 0, 0, 0x01, 0x23, 0x45};
  data[{35, 5}] = {0, 0, 0, 0, 0, 0x10, 0x00};
  data[{35, 30}] = {0, 0, 0, 0, 0, 0x02, 0x50};
  data[{35, 6}] = {0x00, 0x12, 0x34};
  ByteArray block(296, 0);
  block[0] = 1;
  block[6] = 0x01;  // 10000.00
  block[285] = 0x12;
  data[{62, 55}] = block;
  data[{35, 3}] = {0, 0, 0, 0, 0, 0x01, 0x50, 0x00, 0x00};
  data[{35, 29}] = {0x40, 0x00};
  ByteArray rates(33, 0);
  rates[0] = 2;
  rates[1] = 0x18;
  rates[3] = 0x05;
  data[{26}] = rates;
  ByteArray payments(833 + 500, 0);
  std::fill(payments.begin() + 1, payments.begin() + 801, ' ');
  std::string names = "Dinheiro        Cheque          ";
  std::copy(names.begin(), names.end(), payments.begin() + 1);
  payments[833 + 7] = 0x50;  // 50.0000 in ten-thousandths: 500000
  data[{35, 32}] = payments;

  ASSERT_EQ(r.d.ReadFiscalInformation(), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 0},
                                                       {35, 14},
                                                       {35, 27},
                                                       {35, 26},
                                                       {35, 23},
                                                       {35, 9},
                                                       {35, 10},
                                                       {35, 4},
                                                       {35, 5},
                                                       {35, 30},
                                                       {35, 6},
                                                       {62, 55},
                                                       {35, 3},
                                                       {35, 29},
                                                       {26},
                                                       {35, 32}}));
  EXPECT_EQ(r.d.strSerialNumber, "BE0912101000112");
  EXPECT_EQ(r.d.intPrinterID, 3);
  EXPECT_EQ(r.d.intZReportCounter, 42);
  EXPECT_EQ(r.d.intRestartCounter, 5);
  EXPECT_DOUBLE_EQ(r.d.nCancelTotal, 123.45);
  EXPECT_DOUBLE_EQ(r.d.nDiscountTotal, 10.0);
  EXPECT_DOUBLE_EQ(r.d.nIncreaseTotal, 2.5);
  EXPECT_EQ(r.d.intFinalOperation, 1234);
  EXPECT_DOUBLE_EQ(r.d.nInitialGrandTotal, 10000.0);
  EXPECT_DOUBLE_EQ(r.d.nFinalGrandTotal, 15000.0);
  EXPECT_EQ(r.d.intInitialOperation, 1200);
  EXPECT_DOUBLE_EQ(r.d.nSaleTotal, 5000.0);
  DateParts fiscal = partsOf(r.d.dtFiscalDate);
  EXPECT_EQ(fiscal.day, 4);
  EXPECT_EQ(fiscal.month, 12);
  EXPECT_EQ(r.d.TaxesCount, 2);
  EXPECT_DOUBLE_EQ(r.d.arTaxTable[0].percent, 18.0);
  EXPECT_DOUBLE_EQ(r.d.arTaxTable[0].baseValue, 100.0);
  EXPECT_EQ(r.d.arTaxTable[0].title, "T18.00");
  EXPECT_DOUBLE_EQ(r.d.arTaxTable[1].percent, 5.0);
  EXPECT_DOUBLE_EQ(r.d.arTaxTable[1].baseValue, 50.0);
  EXPECT_EQ(r.d.arTaxTable[1].title, "S05.00");
  EXPECT_EQ(r.d.arPaymentTypes, (std::vector<std::string>{"Dinheiro", "Cheque"}));
  EXPECT_DOUBLE_EQ(r.d.PaymentTypeValue(0), 50.0);
  std::string log = testsupport::readFile(tmp.logPath());
  for (const char* line :
       {"{strSerialNumber=BE0912101000112}", "{intPrinterID=3}", "{dtFiscalBegin=1/2/2024, bEmptyFiscal=0}",
        "{dtLastReport=3/12/2026}", "{dtPrinterDate=4/12/2026}", "{dtFiscalDate=4/12/2026}", "{intZReportCounter=42}",
        "{nCancelTotal=123.450000}", "{nInitialGrandTotal=10000.000000}", "{intInitialOperation=1200}",
        "{01T180000000000010000}", "{02S050000000000005000}"})
    EXPECT_NE(log.find(std::string("CBematech::ReadFiscalInformation") + line), std::string::npos) << line;

  // After the day's reduction the fiscal day is the next one.
  data[{35, 26}] = {0x04, 0x12, 0x26};
  ASSERT_EQ(r.d.ReadFiscalInformation(), 1);
  EXPECT_EQ(partsOf(r.d.dtFiscalDate).day, 5);
  // Without the serial number nothing else is read.
  data[{35, 0}] = bytes("SHORT");
  r.printer->take();
  EXPECT_EQ(r.d.ReadFiscalInformation(), 0);
  EXPECT_EQ(r.printer->take().size(), 1u);
}

TEST(BematechReports, CountersAndTotals) {
  Rig<> r(69);
  ASSERT_TRUE(r.open());
  auto& data = r.printer->data;
  data[{35, 3}] = {0, 0, 0, 0, 0, 0x01, 0x50, 0x00, 0x00};
  ByteArray block(296, 0);
  block[6] = 0x01;
  data[{62, 55}] = block;
  EXPECT_DOUBLE_EQ(r.d.GetSaleTotal(), 5000.0);
  EXPECT_DOUBLE_EQ(r.d.nInitialGrandTotal, 10000.0);
  EXPECT_DOUBLE_EQ(r.d.GetFinalGrandTotal(), 15000.0);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 3}, {62, 55}, {35, 3}}));
  data[{35, 4}] = {0, 0, 0, 0, 0x01, 0x23, 0x45};
  data[{35, 5}] = {0, 0, 0, 0, 0, 0x00, 0x99};
  data[{35, 30}] = {0, 0, 0, 0, 0, 0x10, 0x01};
  EXPECT_DOUBLE_EQ(r.d.GetCancelTotal(), 123.45);
  EXPECT_DOUBLE_EQ(r.d.GetDiscountTotal(), 0.99);
  EXPECT_DOUBLE_EQ(r.d.GetIncreaseTotal(), 10.01);
  data[{35, 14}] = {0x00, 0x07};
  data[{35, 11}] = {0x00, 0x02};
  data[{35, 7}] = {0x00, 0x01, 0x23};
  data[{35, 9}] = {0x01, 0x00};
  data[{35, 10}] = {0x00, 0x09};
  data[{35, 12}] = {0x00, 0x15};
  EXPECT_EQ(r.d.GetPrinterID(), 7);
  EXPECT_EQ(r.d.GetUserNumber(), 2);
  EXPECT_EQ(r.d.GetNonFiscalCounter(), 123);
  EXPECT_EQ(r.d.GetZReportCounter(), 100);
  EXPECT_EQ(r.d.GetRestartCounter(), 9);
  EXPECT_EQ(r.d.GetLastItemNumber(), 15);
  ByteArray titles(62, 0);
  titles[0] = 0x01;
  titles[10] = 0x50;  // 0.50
  titles[31] = 0x02;
  titles[31 + 9] = 0x01;  // 1.00
  data[{35, 33}] = titles;
  EXPECT_DOUBLE_EQ(r.d.GetNonFiscalTotal(), 1.5);
  // A failed read gives nothing new.
  r.printer->st2 = 0x01;
  EXPECT_DOUBLE_EQ(r.d.GetCancelTotal(), 0.0);
  EXPECT_EQ(r.d.GetZReportCounter(), 100);
  EXPECT_DOUBLE_EQ(r.d.GetSaleTotal(), 0.0);
}

TEST(BematechReports, OperationCounterPollsUntilTwoReadsAgree) {
  Rig<> r(70);
  ASSERT_TRUE(r.open());
  int round = 0;
  r.printer->hook = [&round](const ByteArray& b, ByteArray& reply) {
    if (b[0] != 30) return false;
    ++round;
    reply = tarvion::bematech::toBcd(static_cast<uint64_t>(std::min(99 + round, 111)), 3);
    reply.insert(reply.end(), {0x00, 0x00});
    return true;
  };
  const int opens = r.dev->openAttempts();
  const int64_t start = r.nowUs();
  EXPECT_EQ(r.d.GetOperationCounter(), 111);
  EXPECT_EQ(round, 13);
  EXPECT_EQ(r.d.strReceiptNumber, "000111");
  // Nine pauses of 100 ms, the port taken again after the tenth round (1 s) and
  // its line drained before the next command (200 ms), two more pauses.
  EXPECT_EQ(r.nowUs() - start, 2'300'000);
  EXPECT_EQ(r.dev->openAttempts(), opens + 1);
  auto sent = r.printer->take();
  EXPECT_EQ(std::count(sent.begin(), sent.end(), ByteArray{35, 1}), 1);  // the set-up after reopening
}

TEST(BematechReports, OperationCounterAsksAfterTwoMinutes) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  Rig<> r(71);
  ASSERT_TRUE(r.open());
  r.printer->silent = true;
  ScriptedPrompts prompts({ScriptedPrompts::Answer::Yes, ScriptedPrompts::Answer::No});
  EXPECT_EQ(r.d.GetOperationCounter(), 0);
  ASSERT_EQ(prompts.asked.size(), 2u);
  EXPECT_EQ(prompts.asked[0].kind, ScriptedPrompts::Kind::YesNo);
  EXPECT_EQ(prompts.asked[0].title + "|" + prompts.asked[0].message,
            cp("Atenção|O ECF não respondeu por dois minutos.\n\nDeseja continuar esperando?"));
  std::string log = testsupport::readFile(tmp.logPath());
  EXPECT_NE(log.find("CBematech::GetOperationCounter{Responsta: sim}"), std::string::npos);
  EXPECT_NE(log.find("CBematech::GetOperationCounter{Resposta: não}"), std::string::npos);
  EXPECT_NE(log.find("CBematech::GetOperationCounter{Retorno=0}"), std::string::npos);
  // Without an answer (the safe one, No): one question, then 0.
  ScriptedPrompts silent;
  EXPECT_EQ(r.d.GetOperationCounter(), 0);
  EXPECT_EQ(silent.asked.size(), 1u);
}

TEST(BematechReports, DatesOfTheFiscalDay) {
  Rig<> r(72);
  ASSERT_TRUE(r.open());
  auto& data = r.printer->data;
  data[{35, 27}] = ByteArray{0x01, 0x02, 0x24};
  data[{35, 67}] = {0x03, 0x12, 0x26};
  data[{35, 23}] = {0x04, 0x12, 0x26, 0x08, 0x00, 0x00};
  EXPECT_EQ(r.d.GetPendingZReport(), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 27}, {35, 67}, {35, 23}}));
  data[{35, 67}] = {0x04, 0x12, 0x26};
  EXPECT_EQ(r.d.GetPendingZReport(), 0);
  data[{35, 67}] = {0x00, 0x00, 0x00};  // no movement yet
  EXPECT_EQ(r.d.GetPendingZReport(), 0);
  data[{35, 67}] = {0x03, 0x12, 0x26};
  data[{35, 27}] = ByteArray{0x00, 0x00, 0x00};  // fiscal memory not started
  EXPECT_EQ(r.d.GetPendingZReport(), 0);

  DateParts p = partsOf(r.d.GetFiscalDate());
  EXPECT_EQ(p.day, 3);
  EXPECT_EQ(p.year, 2026);
  data[{35, 67}] = {0x00, 0x00, 0x00};
  EXPECT_EQ(partsOf(r.d.GetFiscalDate()).day, 3);  // no movement: the date known stays

  data[{35, 26}] = {0x02, 0x12, 0x26};
  r.printer->take();
  EXPECT_EQ(partsOf(r.d.GetDataMovUltimaRZ()).day, 2);
  EXPECT_EQ(partsOf(r.d.GetDataMovUltimaRZ()).day, 2);
  EXPECT_EQ(r.printer->take().size(), 1u);  // kept after the first read
  data[{35, 26}] = {0x04, 0x12, 0x26};
  ASSERT_EQ(r.d.ReducaoZ(DateTime::fromParts(2026, 12, 4, 23, 0, 0)), 1);
  EXPECT_EQ(partsOf(r.d.GetDataMovUltimaRZ()).day, 4);
}

TEST(BematechReports, UserRecordOfTheFiscalMemory) {
  Rig<> r(73);
  ASSERT_TRUE(r.open());
  auto& data = r.printer->data;
  data[{35, 9}] = {0x00, 0x07};
  data[{35, 11}] = {0x00, 0x02};
  namespace ur = bematech::fmt::userrec;
  ByteArray dump(ur::offset(3), ' ');
  const size_t at = ur::offset(2);
  const std::string when = "150324093015";
  std::copy(when.begin(), when.end(), dump.begin() + static_cast<long>(at + ur::kDate));
  dump[at + ur::kRestarts] = 0x00;
  dump[at + ur::kRestarts + 1] = 0x07;
  const ByteArray gt{0, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78};
  std::copy(gt.begin(), gt.end(), dump.begin() + static_cast<long>(at + ur::kGrandTotal));
  data[{8}] = dump;

  DateParts p = partsOf(r.d.GetUserDateTime());
  EXPECT_EQ(p.day, 15);
  EXPECT_EQ(p.month, 3);
  EXPECT_EQ(p.year, 2024);
  EXPECT_EQ(p.hour, 9);
  EXPECT_EQ(p.minute, 30);
  EXPECT_EQ(p.second, 15);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 9}, {35, 11}, body(8, "000007000007r")}));
  EXPECT_EQ(r.d.GetUserRestartCounter(), 7);
  EXPECT_DOUBLE_EQ(r.d.GetUserGrandTotal(), 123456.78);
  // A dump without the user's record gives nothing.
  data[{35, 11}] = {0x00, 0x05};
  EXPECT_FALSE(r.d.GetUserDateTime().valid());
  EXPECT_EQ(r.d.GetUserRestartCounter(), 0);
  EXPECT_DOUBLE_EQ(r.d.GetUserGrandTotal(), 0.0);
}
