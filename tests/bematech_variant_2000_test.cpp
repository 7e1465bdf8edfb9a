// The FS models' own operations (CBematech2000 and what derives from it, and the
// MP-25 that shares its readings): constructor settings, the commands and
// parameters that differ from CBematech, the reply layouts they read, and the
// retries with their pauses on the port's clock.
#include <gtest/gtest.h>

#include "bematech_fake_printer.h"
#include "core/text.h"
#include "drivers/bematech/CBematech2000.h"
#include "drivers/bematech/CBematech2100.h"
#include "drivers/bematech/CBematechMP25.h"
#include "drivers/bematech/CBematechMP6000.h"
#include "drivers/bematech/CBematechMP7000.h"
#include "drivers/bematech/CIBM4610.h"
#include "tarvion/tarvion.hpp"
#include "test_support.h"

using namespace tarvion;
using namespace bematest;
using namespace tarvion::bematech;
using text::cp;

namespace {

void put(ByteArray& to, size_t at, const ByteArray& what) {
  if (to.size() < at + what.size()) to.resize(at + what.size(), 0);
  std::copy(what.begin(), what.end(), to.begin() + static_cast<long>(at));
}
void put(ByteArray& to, size_t at, const std::string& what) {
  put(to, at, bytes(what));
}

// 35/49: 20 names of 16 bytes, then 20 amounts of 7 BCD bytes in cents.
ByteArray payments49(const std::vector<std::string>& names, const std::vector<uint64_t>& cents = {}) {
  ByteArray r(320 + 140, 0);
  for (size_t i = 0; i < 20; ++i) put(r, 16 * i, pad(i < names.size() ? names[i] : "", 16));
  for (size_t i = 0; i < cents.size(); ++i) put(r, 320 + 7 * i, toBcd(cents[i], 7));
  return r;
}

// 35/50: records of 30 bytes (number 1 BCD, total 10 BCD, title 19).
struct Title50 {
  int number;
  std::string title;
  uint64_t cents;
};
ByteArray titles50(const std::vector<Title50>& titles) {
  ByteArray r;
  for (size_t i = 0; i < titles.size(); ++i) {
    put(r, 30 * i, toBcd(static_cast<uint64_t>(titles[i].number), 1));
    put(r, 30 * i + 1, toBcd(titles[i].cents, 10));
    put(r, 30 * i + 11, pad(titles[i].title, 19));
  }
  return r;
}

// 35/51: 17-byte names.
ByteArray reports51(const std::vector<std::string>& names) {
  ByteArray r;
  for (size_t i = 0; i < names.size(); ++i) put(r, 17 * i, pad(names[i], 17));
  return r;
}

ByteArray equipment60(const std::string& mark, const std::string& model, const std::string& type) {
  return bytes(pad(mark, 15) + pad(model, 20) + pad(type, 7));
}

// Command 88: the day's first operation from byte 5, the opening grand total from byte 150.
ByteArray opening88(uint64_t operation, uint64_t grandTotalCents) {
  ByteArray r(200, 0);
  put(r, 5, toBcd(operation, 3));
  put(r, 150, toBcd(grandTotalCents, 9));
  return r;
}

}  // namespace

TEST(BematechVariants, ConstructorsSetTheirCapabilities) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  CBematech b;
  CBematech2000 b2000;
  CBematech2100 b2100;
  CBematechMP25 mp25;
  CBematechMP6000 mp6000;
  CBematechMP7000 mp7000;
  CIBM4610 ibm;
  struct Row {
    CBematech* d;
    uint8_t prefix;
    int auth, freeReport, thermal, readCheck, cutter, docTime, discounts;
  };
  const Row rows[] = {
      {&b, kESC, 1, 0, 0, 0, 0, 0, 0},   {&b2000, kFS, 1, 1, 1, 0, 0, 1, 1},  {&b2100, kFS, 1, 1, 1, 0, 0, 1, 1},
      {&mp25, kFS, 1, 1, 0, 0, 0, 0, 0}, {&mp6000, kFS, 1, 1, 1, 1, 1, 1, 1}, {&mp7000, kFS, 1, 1, 1, 1, 1, 1, 1},
      {&ibm, kFS, 1, 1, 1, 0, 0, 1, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.d->ClassName());
    EXPECT_EQ(r.d->nPrefix, r.prefix);
    EXPECT_EQ(r.d->Columns, 48);
    EXPECT_TRUE(r.d->SendFullReport);
    EXPECT_EQ(r.d->nFirmware, 0.0);
    EXPECT_EQ(r.d->CanAuthenticateDocument, r.auth);
    EXPECT_EQ(r.d->FreeReport, r.freeReport);
    EXPECT_EQ(r.d->Thermal, r.thermal);
    EXPECT_EQ(r.d->CanReadCheck, r.readCheck);
    EXPECT_EQ(r.d->HasPaperCutter, r.cutter);
    EXPECT_EQ(r.d->CanGetCurrentDocumentDateTime, r.docTime);
    EXPECT_EQ(r.d->CanRegDiscountAnyItem, r.discounts);
    EXPECT_EQ(r.d->CanCancelDiscountAnyItem, r.discounts);
    EXPECT_EQ(r.d->CanCCDAfterReport, r.discounts);
    // The classic models end the extra payment types at the Z; the FS models keep them.
    EXPECT_EQ(r.d->bCutPaymentsOnZ, r.prefix == kESC);
    // {325DDF96-938C-11D3-9E34-0080C82727F4}, the family's USB device driver.
    EXPECT_EQ(r.d->usbInterfaceClass.bytes[0], 0x96);
    EXPECT_EQ(r.d->usbInterfaceClass.bytes[3], 0x32);
    EXPECT_EQ(r.d->usbInterfaceClass.bytes[15], 0xF4);
  }
  EXPECT_EQ(st3Table(St3Table::MP2000).size(), 157u);
  const std::string log = testsupport::readFile(tmp.logPath());
  for (const char* name : {"CBematech", "CBematech2000", "CBematech2100", "CBematechMP25", "CBematechMP6000",
                           "CBematechMP7000", "CIBM4610"}) {
    EXPECT_NE(log.find(std::string(name) + "::" + name + "{início}"), std::string::npos) << name;
    EXPECT_NE(log.find(std::string(name) + "::" + name + "{Fim}"), std::string::npos) << name;
  }
}

TEST(BematechVariants, SaleCommandsOfTheMP2000) {
  Rig<CBematech2000> r(310, true);
  ASSERT_TRUE(r.open());
  // The opening takes as many customer fields as the last one given needs.
  ASSERT_EQ(r.d.AbreCupomFiscal(), 1);
  ASSERT_EQ(r.d.SetCustomerInfo("123", "", ""), 1);
  ASSERT_EQ(r.d.AbreCupomFiscal(), 1);
  ASSERT_EQ(r.d.SetCustomerInfo("", cp("João"), ""), 1);
  ASSERT_EQ(r.d.AbreCupomFiscal(), 1);
  ASSERT_EQ(r.d.SetCustomerInfo("", "", std::string(90, 'R')), 1);
  ASSERT_EQ(r.d.AbreCupomFiscal(), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{
                                   {0},
                                   body(0, pad("123", 29)),
                                   body(0, std::string(29, ' ') + pad("Joao", 30)),
                                   body(0, std::string(59, ' ') + std::string(80, 'R')),
                               }));
  EXPECT_EQ(r.d.strReceiptCustomerAddress, std::string(80, 'R'));
  EXPECT_TRUE(r.d.strCustomerAddress.empty());
  // A refused opening keeps the customer for the next try.
  ASSERT_EQ(r.d.SetCustomerInfo("9", "Ana", "Rua B"), 1);
  r.printer->st1 = st1::ReceiptOpen;
  EXPECT_EQ(r.d.AbreCupomFiscal(), 0);
  EXPECT_EQ(r.d.strCustomerName, "Ana");
  r.printer->st1 = 0;
  r.printer->take();

  // Discounts after the item: negative is an increase.
  ASSERT_EQ(r.d.RegistraDescontoItemApos(3, -1.5), 1);
  ASSERT_EQ(r.d.RegistraDescontoItemApos(12, 0.25), 1);
  ASSERT_EQ(r.d.CancelaDescontoItem(3, kTrue), 1);
  ASSERT_EQ(r.d.CancelaDescontoItem(12, kFalse), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(93, "A00300000150"), body(93, "D01200000025"),
                                                       body(114, "A003"), body(114, "D012")}));

  // Second receipt (85), the report closed by 21 alone, the linked receipt's long form.
  r.d.nFirmware = 3.0;  // CBematech would try the short form first on this firmware
  r.d.arPaymentTypes = {"Dinheiro", "Cartao"};
  ASSERT_EQ(r.d.PrintSecondReceipt(), 1);
  r.d.strPAFIdent1 = "linha que CBematech imprimiria";
  ASSERT_EQ(r.d.FechaRelatorioGerencial(), 1);
  ASSERT_EQ(r.d.AbreComprovanteVinculado("cartao", 10, "123"), 1);
  EXPECT_EQ(r.printer->take(),
            (std::vector<ByteArray>{{85}, {21}, body(66, pad("Cartao", 16) + "00000000001000000123")}));
  // Authentication: command 16.
  ASSERT_EQ(r.d.AuthenticateDocument("x"), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{16}}));
}

TEST(BematechVariants, NonFiscalReceiptCodesAndSubstitutes) {
  Rig<CBematech2000> r(311, true);
  ASSERT_TRUE(r.open());
  r.d.arPaymentTypes = {"Dinheiro", "Cartao"};
  r.d.arNonFiscalTitles = {"01,&,SANGRIA", "02,&,SUPRIMENTO", "03,&,CONTA", "04,&,AGUA", "05,&,DIVERSOS", "06,&,LUZ"};
  ASSERT_EQ(r.d.NonFiscalReceipt(5, "SANGRIA", ""), 1);
  ASSERT_EQ(r.d.NonFiscalReceipt(5, "suprimento", ""), 1);
  ASSERT_EQ(r.d.NonFiscalReceipt(5, "CONTA", ""), 1);
  ASSERT_EQ(r.d.NonFiscalReceipt(5, "AGUA", ""), 1);
  ASSERT_EQ(r.d.NonFiscalReceipt(5, "DIVERSOS", "cartao"), 1);
  ASSERT_EQ(r.d.NonFiscalReceipt(5, "LUZ", "Pix"), 1);  // unknown payment: cash
  const std::string amount = "00000000000500";
  EXPECT_EQ(r.printer->take(),
            (std::vector<ByteArray>{body(25, "29" + amount), body(25, "30" + amount), body(25, "#1" + amount),
                                    body(25, "#2" + amount), body(25, "03" + amount + pad("Cartao", 16)),
                                    body(25, "04" + amount + pad("Dinheiro", 16))}));

  // Unknown titles: withdrawals go to SANGRIA, the rest to DIVERSOS (else SUPRIMENTO).
  ASSERT_EQ(r.d.NonFiscalReceipt(5, "Despesas", ""), 1);
  ASSERT_EQ(r.d.NonFiscalReceipt(5, "VALE", ""), 1);
  ASSERT_EQ(r.d.NonFiscalReceipt(5, "TAXA", ""), 1);
  r.d.arNonFiscalTitles = {"01,&,SANGRIA", "02,&,SUPRIMENTO"};
  ASSERT_EQ(r.d.NonFiscalReceipt(5, "TAXA", ""), 1);
  EXPECT_EQ(r.printer->take(),
            (std::vector<ByteArray>{body(25, "29" + amount), body(25, "29" + amount),
                                    body(25, "03" + amount + pad("Dinheiro", 16)), body(25, "30" + amount)}));
  r.d.arNonFiscalTitles.clear();
  EXPECT_EQ(r.d.NonFiscalReceipt(5, "TAXA", ""), 0);
  EXPECT_EQ(r.d.strLastError, cp("Não identificou o totalizador parcial não sujeito ao ICMS."));
  EXPECT_EQ(r.d.NonFiscalReceipt(0, "SANGRIA", ""), 0);
  EXPECT_EQ(r.d.strLastError, "O valor deve ser maior que zero.");
  EXPECT_TRUE(r.printer->take().empty());
}

TEST(BematechVariants, ReceiptNumberRetriesWhileThePrinterIsBusy) {
  Rig<CBematech2000> r(312, true);
  ASSERT_TRUE(r.open());
  int rounds = 0;
  r.printer->hook = [&](const ByteArray& b, ByteArray& reply) {
    if (b != ByteArray{35, 6}) return false;
    ++rounds;
    reply = toBcd(rounds < 4 ? 0 : 1234, 3);  // busy: 0 three times
    reply.insert(reply.end(), {0, 0, 0, 0});
    return true;
  };
  std::string number;
  int64_t start = r.nowUs();
  ASSERT_EQ(r.d.RetornaNumeroCupom(number), 1);
  EXPECT_EQ(number, "001234");
  EXPECT_EQ(rounds, 4);
  EXPECT_GE(r.nowUs() - start, 3 * 2'000'000);
  EXPECT_LT(r.nowUs() - start, 3 * 2'000'000 + 100'000);

  rounds = 0;
  EXPECT_EQ(r.d.GetOperationCounter(), 1234);
  EXPECT_EQ(r.d.strReceiptNumber, "001234");
  EXPECT_EQ(rounds, 4);

  // Never anything but 0: fifteen tries, fourteen pauses, then failure (and 0).
  r.printer->hook = [&](const ByteArray& b, ByteArray& reply) {
    if (b != ByteArray{35, 6}) return false;
    ++rounds;
    reply = {0, 0, 0, 0, 0, 0, 0};
    return true;
  };
  rounds = 0;
  start = r.nowUs();
  EXPECT_EQ(r.d.RetornaNumeroCupom(number), 0);
  EXPECT_EQ(rounds, 15);
  EXPECT_GE(r.nowUs() - start, 14 * 2'000'000);
  EXPECT_LT(r.nowUs() - start, 15 * 2'000'000);
  rounds = 0;
  EXPECT_EQ(r.d.GetOperationCounter(), 0);
  EXPECT_EQ(rounds, 15);
}

TEST(BematechVariants, TablesOfTheMP2000) {
  testsupport::TempDir tmp;
  Rig<CBematech2000> r(313, true);
  ASSERT_TRUE(r.open());
  auto& data = r.printer->data;
  data[{35, 49}] = payments49({"Dinheiro", "Cartao", "Cheque"}, {12345, 0, 990});
  ASSERT_EQ(r.d.LoadPaymentTypes(kTrue), 1);
  EXPECT_EQ(r.d.arPaymentTypes, (std::vector<std::string>{"Dinheiro", "Cartao", "Cheque"}));
  ASSERT_EQ(r.d.arPaymentValues.size(), 3u);
  EXPECT_DOUBLE_EQ(r.d.arPaymentValues[0], 123.45);
  EXPECT_DOUBLE_EQ(r.d.arPaymentValues[2], 9.90);

  // The numbers come with the records; a record without one counts from 03.
  data[{35, 50}] = titles50({{3, "Conta de luz", 1500}, {4, "", 0}, {12, "diversos", 250}, {0, "Agua", 5}});
  ASSERT_EQ(r.d.LoadNonFiscalTitles(), 1);
  EXPECT_EQ(r.d.arNonFiscalTitles, (std::vector<std::string>{"01,&,SANGRIA", "02,&,SUPRIMENTO", "03,&,CONTA DE LUZ",
                                                             "12,&,DIVERSOS", "06,&,AGUA"}));
  EXPECT_DOUBLE_EQ(r.d.GetNonFiscalTotal(), 17.55);

  data[{35, 51}] = reports51({"GERAL", "IDENT. PAF-ECF"});
  ASSERT_EQ(r.d.LoadReports(), 1);
  EXPECT_EQ(r.d.arReports, (std::vector<std::string>{"GERAL", "IDENT. PAF-ECF"}));
  r.printer->take();
  ASSERT_EQ(r.d.OpenNamedReport("ident. paf-ecf"), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 51}, body(83, "02")}));
  // A refused number gets one more try with the number below it.
  r.printer->hook = [&](const ByteArray& b, ByteArray& reply) {
    if (b != body(83, "02")) return false;
    reply = {0, st2::NotExecuted, 0, 0};
    return true;
  };
  ASSERT_EQ(r.d.OpenNamedReport("IDENT. PAF-ECF"), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 51}, body(83, "02"), body(83, "01")}));
  r.printer->hook = nullptr;
  EXPECT_EQ(r.d.OpenNamedReport("NENHUM"), 0);
  EXPECT_EQ(r.d.strLastError, cp("Relatório gerencial não cadastrado na impressora."));
  data[{35, 51}] = {};
  EXPECT_EQ(r.d.OpenNamedReport("GERAL"), 0);
  EXPECT_EQ(r.d.strLastError, cp("A impressora não possui relatórios gerenciais cadastrados."));
  r.printer->take();

  // Redefining: one 71 per missing payment name (22 names at most), then one 82
  // per default report the printer lacks.
  data[{35, 51}] = reports51(
      {"IDENT. PAF-ECF", "VALE PRODUTO", "VALE PRESENTE", "FECHTO. GERAL", "TROCA", "CREDIARIO", "DAV", "COMPROVANTE"});
  std::vector<std::string> names{"dinheiro", "Pix", "Vale refeicao longo demais"};
  for (int i = 0; i < 25; ++i) names.push_back("Forma " + std::to_string(i));
  ASSERT_EQ(r.d.RedefineFormasPagamento(names), 1) << r.d.strLastError;
  auto sent = r.printer->take();
  ASSERT_EQ(sent.size(), 1u + 21u + 1u + 2u);
  EXPECT_EQ(sent[0], (ByteArray{35, 49}));
  EXPECT_EQ(sent[1], body(71, pad("Pix", 16)));
  EXPECT_EQ(sent[2], body(71, "Vale refeicao lo"));
  EXPECT_EQ(sent[21], body(71, pad("Forma 18", 16)));  // the 22nd name; the rest are not looked at
  EXPECT_EQ(sent[22], (ByteArray{35, 51}));
  EXPECT_EQ(sent[23], body(82, "09" + pad("ESTORNO", 17)));
  EXPECT_EQ(sent[24], body(82, "10" + pad("PARAM. PAF-ECF", 17)));
}

TEST(BematechVariants, ReadingsOfTheMP2000) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  Rig<CBematech2000> r(314, true);
  ASSERT_TRUE(r.open());
  auto& data = r.printer->data;
  data[{35, 40}] = bytes("BE0123456789ABCDEFGH");
  std::string serial;
  ASSERT_EQ(r.d.ReadSerialNumber(serial), 1);
  EXPECT_EQ(serial, "BE0123456789ABCDEFGH");
  data[{35, 41}] = {0x01, 0x00, 0x02};
  EXPECT_EQ(r.d.GetFirmwareVersion(), "010002");
  data[{35, 55}] = {0x00, 0x12, 0x34};
  data[{35, 52}] = {0x00, 0x42};
  data[{35, 54}] = {0x00, 0x00, 0x07};
  EXPECT_EQ(r.d.GetFiscalReceiptCounter(), 1234);
  EXPECT_EQ(r.d.GetPaymentReceiptCounter(), 42);
  EXPECT_EQ(r.d.GetManagementReportCounter(), 7);
  data[{35, 60}] = equipment60("BEMATECH", "MP-2000 TH FI", "ECF-IF");
  EXPECT_EQ(r.d.GetEquipamentMark(), "BEMATECH");
  EXPECT_EQ(r.d.GetEquipamentModel(), "MP-2000 TH FI");
  EXPECT_EQ(r.d.GetEquipamentType(), "ECF-IF");
  data[{35, 76}] = {0x00, 0x00, 0x00, 0x00, 0x01, 0x50, 0x00};
  std::string iss;
  ASSERT_EQ(r.d.DiscountISSQN(iss), 1);
  EXPECT_EQ(iss, "00000000015000");
  r.printer->take();

  // The receipt state: bit 0 of the first byte; a reply without data is "closed".
  BOOL open = kFalse;
  data[{35, 17}] = {0x01, 0x00, 0x00};
  ASSERT_EQ(r.d.CupomFiscalAberto(open), 1);
  EXPECT_TRUE(open);
  data[{35, 17}] = {0x00, 0x00, 0x01};
  ASSERT_EQ(r.d.CupomFiscalAberto(open), 1);
  EXPECT_FALSE(open);

  // The memory tape is read with the maker's program: no traffic.
  r.printer->take();
  EXPECT_EQ(r.d.ReadOperationsByDate(DateTime::now(), DateTime::now(), "/tmp/x"), 0);
  EXPECT_EQ(r.d.strLastError, "Utilize o aplicativo WinMFD fornecido pela Bematech.");
  EXPECT_EQ(r.d.ReadOperationsByCounter(1, 2, "/tmp/x"), 0);
  EXPECT_EQ(r.d.strLastError, "Utilize o aplicativo WinMFD fornecido pela Bematech.");
  EXPECT_TRUE(r.printer->take().empty());

  const std::string log = testsupport::readFile(tmp.logPath());
  EXPECT_NE(log.find("CBematech2000::CupomFiscalAberto{*bAberto=TRUE, Retorno=TRUE}"), std::string::npos);
  EXPECT_NE(log.find("CBematech2000::DiscountISSQN{*strISSQN=00000000015000, Retorno=TRUE}"), std::string::npos);
  EXPECT_NE(
      log.find("CBematech2000::GetEquipamentModel{Marca=BEMATECH, Modelo=MP-2000 TH FI, Tipo=ECF-IF, Retorno=TRUE}"),
      std::string::npos);
}

TEST(BematechVariants, LastDocumentDateRetriesThenFallsBackToTheClock) {
  Rig<CBematech2000> r(315, true);
  ASSERT_TRUE(r.open());
  int tries = 0;
  r.printer->hook = [&](const ByteArray& b, ByteArray& reply) {
    if (b != ByteArray{35, 64}) return false;
    ++tries;
    reply = tries < 3 ? ByteArray{0x04, 0x12} : ByteArray{0x04, 0x12, 0x26, 0x17, 0x05, 0x09};
    reply.insert(reply.end(), {0, 0, 0, 0});
    return true;
  };
  int64_t start = r.nowUs();
  DateParts p;
  ASSERT_TRUE(r.d.GetLastDocumentDateTime().parts(p));
  EXPECT_EQ(tries, 3);
  EXPECT_EQ(p.day, 4);
  EXPECT_EQ(p.year, 2026);
  EXPECT_EQ(p.second, 9);
  // Two pauses of a second between the three tries (each read waits for the idle line).
  EXPECT_GE(r.nowUs() - start, 2'000'000);
  EXPECT_LT(r.nowUs() - start, 4'000'000);  // a third pause would pass 4 s

  // Never a date: ten tries, then the printer's clock (35/23).
  r.printer->hook = [&](const ByteArray& b, ByteArray& reply) {
    if (b != ByteArray{35, 64}) return false;
    ++tries;
    reply = {0, 0, 0, 0};
    return true;
  };
  r.printer->data[{35, 23}] = {0x31, 0x01, 0x27, 0x08, 0x00, 0x00};
  tries = 0;
  r.printer->take();
  ASSERT_TRUE(r.d.GetLastDocumentDateTime().parts(p));
  EXPECT_EQ(tries, 10);
  EXPECT_EQ(p.day, 31);
  EXPECT_EQ(p.year, 2027);
  EXPECT_EQ(r.printer->take().back(), (ByteArray{35, 23}));
}

TEST(BematechVariants, FiscalInformationRetriesEveryRead) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  Rig<CBematech2000> r(316, true);
  ASSERT_TRUE(r.open());
  auto& data = r.printer->data;
  data[{35, 40}] = bytes("BE0123456789ABCDEFGH");
  data[{35, 14}] = {0x00, 0x07};
  data[{35, 27}] = {0x01, 0x02, 0x24};
  data[{35, 26}] = {0x03, 0x12, 0x26};
  data[{35, 23}] = {0x04, 0x12, 0x26, 0x09, 0x30, 0x00};
  data[{35, 9}] = {0x00, 0x12};
  data[{35, 3}] = toBcd(150000, 9);
  data[{62, 55}] = ByteArray(296, 0);
  put(data[{62, 55}], 1, toBcd(100000, 9));
  data[{88}] = opening88(321, 100000);
  data[{35, 29}] = {0x00, 0x00};
  ByteArray rates(33, 0);
  rates[0] = 2;
  put(rates, 1, ByteArray{0x18, 0x00, 0x07, 0x00});
  data[{26}] = rates;
  ByteArray totals = toBcd(2500, 7);
  put(totals, 7, toBcd(700, 7));
  data[{87}] = totals;
  data[{35, 49}] = payments49({"Dinheiro"}, {4200});
  // The printer is busy for the first two serial-number reads.
  int serialReads = 0;
  r.printer->hook = [&](const ByteArray& b, ByteArray& reply) {
    if (b != ByteArray{35, 40} || ++serialReads > 2) return false;
    reply = {0, 0, 0, 0};
    return true;
  };
  const int64_t start = r.nowUs();
  ASSERT_EQ(r.d.ReadFiscalInformation(), 1) << r.d.strLastError;
  EXPECT_EQ(serialReads, 3);
  EXPECT_GE(r.nowUs() - start, 2'000'000);  // two pauses of a second
  EXPECT_EQ(r.d.strSerialNumber, "BE0123456789ABCDEFGH");
  EXPECT_EQ(r.d.intPrinterID, 7);
  EXPECT_EQ(r.d.intZReportCounter, 12);
  EXPECT_EQ(r.d.intInitialOperation, 321);
  EXPECT_DOUBLE_EQ(r.d.nInitialGrandTotal, 1000.0);
  EXPECT_DOUBLE_EQ(r.d.nFinalGrandTotal, 1500.0);
  // The fiscal date is the printer's date, even after that day's reduction.
  DateParts p;
  ASSERT_TRUE(r.d.dtFiscalDate.parts(p));
  EXPECT_EQ(p.day, 4);
  EXPECT_EQ(p.month, 12);
  // The per-tax totals come from command 87.
  ASSERT_EQ(r.d.TaxesCount, 2);
  EXPECT_DOUBLE_EQ(r.d.arTaxTable[0].percent, 18.0);
  EXPECT_DOUBLE_EQ(r.d.arTaxTable[0].baseValue, 25.0);
  EXPECT_DOUBLE_EQ(r.d.arTaxTable[1].baseValue, 7.0);
  ASSERT_EQ(r.d.arPaymentValues.size(), 1u);
  EXPECT_DOUBLE_EQ(r.d.arPaymentValues[0], 42.0);
  const auto sent = r.printer->take();
  EXPECT_NE(std::find(sent.begin(), sent.end(), ByteArray{87}), sent.end());
  EXPECT_EQ(std::find(sent.begin(), sent.end(), ByteArray{27}), sent.end());
  const std::string log = testsupport::readFile(tmp.logPath());
  EXPECT_NE(log.find("CBematech2000::ReadFiscalInformation{dtFiscalDate=4/12/2026}"), std::string::npos);
  EXPECT_NE(log.find("CBematech2000::ReadFiscalInformation{01T180000000000002500}"), std::string::npos);

  // A serial number that never comes whole fails after ten tries.
  data[{35, 40}] = bytes("BE01234");
  r.printer->hook = nullptr;
  const int64_t again = r.nowUs();
  EXPECT_EQ(r.d.ReadFiscalInformation(), 0);
  EXPECT_EQ(r.printer->take().size(), 10u);
  EXPECT_GE(r.nowUs() - again, 9'000'000);
}

TEST(BematechVariants, TheMP25ReadsLikeTheMP2000) {
  Rig<CBematechMP25> r(317, true);
  ASSERT_TRUE(r.open());
  auto& data = r.printer->data;
  data[{35, 40}] = bytes("MP25SERIAL0000000001");
  std::string serial;
  ASSERT_EQ(r.d.ReadSerialNumber(serial), 1);
  EXPECT_EQ(serial, "MP25SERIAL0000000001");
  data[{35, 3}] = toBcd(250075, 9);
  data[{88}] = opening88(1, 200000);
  EXPECT_DOUBLE_EQ(r.d.GetSaleTotal(), 500.75);
  EXPECT_DOUBLE_EQ(r.d.nInitialGrandTotal, 2000.0);
  data[{35, 49}] = payments49({"Dinheiro", "Cheque"});
  ASSERT_EQ(r.d.LoadPaymentTypes(), 1);
  EXPECT_EQ(r.d.arPaymentTypes.size(), 2u);
  ASSERT_EQ(r.d.PrintSecondReceipt(), 1);
  r.printer->take();
  // Only the payment names: an MP-25 is not asked for reports.
  ASSERT_EQ(r.d.RedefineFormasPagamento({"Cheque", "Pix"}), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 49}, body(71, pad("Pix", 16))}));
  // Its text stays the CBematech one: folded to plain letters, no code page prefix.
  ASSERT_EQ(r.d.FechaCupomFiscal(cp("Ação"), 0), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(34, "Acao")}));
}

TEST(BematechVariants, PaperCutThroughTheControl) {
  testsupport::TempDir tmp;
  constexpr int kPort = 318;
  struct Case {
    int model;
    const char* reported;
    ByteArray expected;  // empty: nothing cut
  };
  const Case cases[] = {
      {7, "MP-4000 TH FI", {62, 'K', 5, 1}},
      {7, "mp-4000 th fi", {62, 'K', 5, 1}},
      {9, "MP-6000 TH FI", {62, 'K', 0, 1}},
      {5, "MP-3000 TH FI", {62, 'K', 0, 1}},
      {2, "MP-2000 TH FI", {}},  // no cutter: the control does not ask
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.reported);
    auto printer = std::make_shared<FakeBematech>();
    printer->fs = true;
    printer->data[{35, 1}] = {0x03, 0x10};
    printer->data[{35, 60}] = equipment60("BEMATECH", k.reported, "ECF-IF");
    ports::attachVirtual(kPort, std::make_shared<VirtualDevice>(printer));
    {
      CTarvionCtrl c;
      ASSERT_NE(c.InitializeECF(k.model, kPort, 9600, 0, 8, 1, 0, 1, 0), 0) << c.UltimoErro();
      printer->take();
      EXPECT_EQ(c.CutPaper() != 0, !k.expected.empty());
      const auto sent = printer->take();
      if (k.expected.empty()) {
        EXPECT_TRUE(sent.empty());
      } else {
        EXPECT_EQ(sent, (std::vector<ByteArray>{{35, 60}, k.expected}));
      }
    }
    ports::detachVirtual(kPort);
  }
}

TEST(BematechVariants, TheMP7000RegistersItemsWithItsOwnCommand) {
  Rig<CBematechMP7000> r(319, true);
  ASSERT_TRUE(r.open());
  r.d.arTaxes = {"", "T18.00", "T07.00", "S05.00"};
  // 62 "I": code (14), tax position, unit (2), quantity (7), unit price (8),
  // discount (8) and increase (8) for the whole quantity, description.
  ASSERT_EQ(r.d.RegistraItemFiscal("7891234567890", cp("Feijão\ncarioca"), "kg", 7, 1.5, 2.99, 0.1), 1);
  ASSERT_EQ(r.d.RegisterService("S1", "Entrega", "", 5, 1, 7, -0.5), 1);
  ASSERT_EQ(r.d.RegistraItemFiscal("1", "Agua", "L", 0, 2, 1, 0), 1);
  const std::string nul(1, '\0');
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{
                                   body(62, "I" + pad("7891234567890", 14) +
                                                "02"
                                                "kg"
                                                "0001500"
                                                "00002990"
                                                "00000015"
                                                "00000000" +
                                                "Feijao carioca" + nul),
                                   body(62, "I" + pad("S1", 14) +
                                                "03"
                                                "PC"
                                                "0001000"
                                                "00007000"
                                                "00000000"
                                                "00000050" +
                                                "Entrega" + nul),
                                   body(62, "I" + pad("1", 14) +
                                                "II"
                                                "L "
                                                "0002000"
                                                "00001000"
                                                "00000000"
                                                "00000000" +
                                                "Agua" + nul),
                               }));
  EXPECT_EQ(r.d.strLastItemLabel, "I1");
  EXPECT_EQ(r.d.strLastItemDescription, "Agua");
  // A rate the printer lacks: this model's own words, nothing sent.
  EXPECT_EQ(r.d.RegistraItemFiscal("1", "Cerveja", "UN", 25, 1, 5, 0), 0);
  EXPECT_EQ(r.d.strLastError, cp("Aliquota de ICMS de 25.00% não cadastrada no ECF."));
  EXPECT_EQ(r.d.RegisterService("1", "Frete", "UN", 2, 1, 5, 0), 0);
  EXPECT_EQ(r.d.strLastError, cp("Aliquota de ISS de 02.00% não cadastrada no ECF."));
  EXPECT_TRUE(r.printer->take().empty());
}
