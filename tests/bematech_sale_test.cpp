// The sale on a CBematech: the exact parameters of every command, the tax and
// payment lookups made before any traffic, and the printer's tables.
#include <gtest/gtest.h>

#include "bematech_fake_printer.h"
#include "core/text.h"
#include "test_support.h"

using namespace tarvion;
using namespace bematest;
using text::cp;

namespace {

std::string itemBody(const std::string& tax, const std::string& price, const std::string& qty,
                     const std::string& discount, const std::string& increase, const std::string& unit,
                     const std::string& code, const std::string& description) {
  return tax + price + qty + discount + increase + "01" + std::string(20, '0') + unit + code + std::string(1, '\0') +
         description + std::string(1, '\0');
}

// The payment-type table as the printer answers 35/32: count, 50 names of 16
// bytes, 32 bytes, then 50 amounts of 10 BCD bytes in ten-thousandths.
ByteArray paymentTable(const std::vector<std::string>& names, const std::vector<ByteArray>& amounts = {}) {
  ByteArray t(833 + 50 * 10, 0);
  t[0] = static_cast<uint8_t>(names.size());
  for (size_t i = 0; i < 50; ++i) {
    std::string n = pad(i < names.size() ? names[i] : "", 16);
    std::copy(n.begin(), n.end(), t.begin() + 1 + 16 * static_cast<long>(i));
  }
  for (size_t i = 0; i < amounts.size(); ++i)
    std::copy(amounts[i].begin(), amounts[i].end(), t.begin() + 833 + 10 * static_cast<long>(i));
  return t;
}

ByteArray titleRecord(uint8_t number, const std::string& title) {
  ByteArray r(31, 0);
  r[0] = number;
  std::string t = pad(title, 19);
  std::copy(t.begin(), t.end(), r.begin() + 12);
  return r;
}

struct SaleRig : Rig<> {
  explicit SaleRig(int port) : Rig<>(port) {
    EXPECT_TRUE(open());
    d.arTaxes = {"", "T18.00", "T07.00", "S05.00"};
    d.arPaymentTypes = {"Dinheiro", "Cheque", "Cartao"};
    d.arPaymentValues = {0, 0, 0};
  }
};

}  // namespace

TEST(BematechSale, OpeningTheReceipt) {
  SaleRig r(60);
  ASSERT_EQ(r.d.AbreCupomFiscal(), 1);
  EXPECT_EQ(r.dev->written(), (ByteArray{0x02, 0x04, 0x00, 0x1B, 0x00, 0x1B, 0x00}));
  // Customer data given before: the first 29 characters of the code, as printer text.
  r.printer->take();
  ASSERT_EQ(r.d.SetCustomerInfo(cp("José 123.456.789-00 / consumidor final"), "Nome", "Rua"), 1);
  EXPECT_TRUE(r.printer->take().empty());  // stored only
  EXPECT_EQ(r.d.GetCustomerName(), "Nome");
  ASSERT_EQ(r.d.AbreCupomFiscal(), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(0, "Jose 123.456.789-00 / consumi")}));
  EXPECT_EQ(r.d.strReceiptCustomerId, cp("José 123.456.789-00 / consumi"));
  EXPECT_EQ(r.d.GetCustomerCode(), "");
  EXPECT_EQ(r.d.GetCustomerName(), "");
  // A refused opening keeps nothing.
  r.d.SetCustomerInfo("99", "", "");
  r.printer->st1 = 0x02;
  EXPECT_EQ(r.d.AbreCupomFiscal(), 0);
  EXPECT_EQ(r.d.strLastError, "Cupom aberto.\n");
}

TEST(BematechSale, ItemFieldsOnTheWire) {
  SaleRig r(61);
  ASSERT_EQ(r.d.RegistraItemFiscal("789", "Arroz", "", 18, 1.5, 2.99, 0), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(63, itemBody("01", "000002990", "0001500", "0000000000",
                                                                         "0000000000", "PC", "789", "Arroz"))}));
  EXPECT_EQ(r.d.LastItemCode(), "789");
  EXPECT_EQ(r.d.LastItemDescription(), "Arroz");
  EXPECT_EQ(r.d.LastItemUnit(), "");
  EXPECT_EQ(r.d.LastItemLabel(), "01T1800");
  // A negative discount is an increase on the whole quantity.
  ASSERT_EQ(r.d.RegistraItemFiscal("1", cp("Feijão\npreto"), "kg", 7, 3, 1.0, -0.50), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(63, itemBody("02", "000001000", "0003000", "0000000000",
                                                                         "0000000150", "kg", "1", "Feijao preto"))}));
  EXPECT_EQ(r.d.LastItemDescription(), cp("Feijão preto"));
  ASSERT_EQ(r.d.RegistraItemFiscal("12345678901234567", "Sal", cp("Ção"), 0, 2, 0.5, 0.25), 1);
  EXPECT_EQ(r.printer->take(),
            (std::vector<ByteArray>{body(63, itemBody("II", "000000500", "0002000", "0000000050", "0000000000", "Ca",
                                                      "12345678901234", "Sal"))}));
  EXPECT_EQ(r.d.LastItemLabel(), "I1");
  ASSERT_EQ(r.d.RegistraItemFiscal("2", "Cigarro", "", -1, 1, 9, 0), 1);
  EXPECT_EQ(r.printer->take()[0][1], 'F');
  EXPECT_EQ(r.d.LastItemLabel(), "F1");
  ASSERT_EQ(r.d.RegistraItemFiscal("3", "Livro", "", -2, 1, 9, 0), 1);
  EXPECT_EQ(r.d.LastItemLabel(), "N1");
  // A description without a letter gets one.
  ASSERT_EQ(r.d.RegistraItemFiscal("4", "12345", "", 18, 1, 1, 0), 1);
  EXPECT_EQ(r.printer->take().back(), body(63, itemBody("01", "000001000", "0001000", "0000000000", "0000000000", "PC",
                                                        "4", "12345              D")));
  // Services look their rate up among the S entries.
  r.printer->take();
  ASSERT_EQ(r.d.RegisterService("9", "Servico", "", 5, 1, 100, 0), 1);
  EXPECT_EQ(ByteArray(r.printer->bodies[0].begin(), r.printer->bodies[0].begin() + 3), body(63, "03"));
  EXPECT_EQ(r.d.LastItemLabel(), "03S0500");
}

TEST(BematechSale, TaxesNotProgrammedFailBeforeAnyTraffic) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  SaleRig r(62);
  r.d.arTaxes = {"", "T07.00"};
  EXPECT_EQ(r.d.RegistraItemFiscal("1", "Arroz", "", 18, 1, 1, 0), 0);
  EXPECT_EQ(r.d.strLastError, cp("Alíquota de ICMS de 18.00% não cadastrada no ECF."));
  EXPECT_EQ(r.d.RegisterService("1", "Frete", "", 7, 1, 1, 0), 0);  // T07.00 is not a service rate
  EXPECT_EQ(r.d.strLastError, cp("Alíquota de ISS de 07.00% não cadastrada no ECF."));
  EXPECT_EQ(r.d.RegistraItemFiscal("1", "Arroz", "", -3, 1, 1, 0), 0);
  EXPECT_EQ(r.d.strLastError, cp("Alíquota de ICMS de -3.00% não cadastrada no ECF."));
  EXPECT_TRUE(r.dev->written().empty());
  EXPECT_TRUE(r.printer->take().empty());
  std::string log = testsupport::readFile(tmp.logPath());
  EXPECT_NE(log.find("CBematech::RegistraItemFiscal{CodigoProduto=1, DescricaoProduto=Arroz, Unidade=, "
                     "Aliquota=18.000000, Quantidade=1.000000, ValorUnitario=1.000000, ValorDesconto=0.000000}"),
            std::string::npos);
  EXPECT_NE(log.find("CBematech::RegistraItemFiscal{Alíquota de ICMS de 18.00% não cadastrada no ECF.}"),
            std::string::npos);
  EXPECT_NE(log.find("CBematech::RegistraItemFiscal{Retorno=FALSE}"), std::string::npos);
}

TEST(BematechSale, CancellingTotallingAndPaying) {
  SaleRig r(63);
  ASSERT_EQ(r.d.CancelaItemFiscal(5, "Arroz", 18, 2.99, 1, 0), 1);
  ASSERT_EQ(r.d.CancelaCupomFiscal(), 1);
  // The increase is cut to whole cents, the discount rounded.
  ASSERT_EQ(r.d.TotalizaCupomFiscalAcrescimo(10.009, 100), 1);
  ASSERT_EQ(r.d.TotalizaCupomFiscalDesconto(10.009, 100), 1);
  ASSERT_EQ(r.d.TotalizaCupomFiscalAcrescimo(-2.5, 100), 1);
  ASSERT_EQ(r.d.RegistraPagamento("cheque ", 50), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(31, "0005"), body(14, ""), body(32, "a00000000001000"),
                                                       body(32, "d00000000001001"), body(32, "a00000000000250"),
                                                       body(72, "0100000000005000")}));
  EXPECT_EQ(r.d.LastPaymentType(), "cheque ");
  // An unknown payment type goes nowhere.
  EXPECT_EQ(r.d.RegistraPagamento("Vale", 10), 0);
  EXPECT_EQ(r.d.strLastError, cp("Forma de pagamento não cadastrada na impressora."));
  EXPECT_TRUE(r.printer->take().empty());
  // The receipt number: three BCD bytes.
  r.printer->data[{30}] = {0x00, 0x12, 0x34};
  std::string number;
  ASSERT_EQ(r.d.RetornaNumeroCupom(number), 1);
  EXPECT_EQ(number, "001234");
  r.printer->data.erase({30});
  number = "x";
  EXPECT_EQ(r.d.RetornaNumeroCupom(number), 0);
  EXPECT_EQ(number, "x");
}

TEST(BematechSale, ClosingWithIdentificationLines) {
  SaleRig r(64);
  ASSERT_EQ(r.d.FechaCupomFiscal(cp("Obrigado, volte já"), 10), 1);
  EXPECT_EQ(r.printer->take(), std::vector<ByteArray>{body(34, "Obrigado, volte ja")});
  r.d.strPAFIdent1 = "MD5: 0123456789abcdef";
  r.d.strPAFIdent2 = "PAF-ECF 1.0";
  ASSERT_EQ(r.d.FechaCupomFiscal("Obrigado", 10), 1);
  EXPECT_EQ(r.printer->take(),
            std::vector<ByteArray>{body(34, pad("MD5: 0123456789abcdef", 48) + pad("PAF-ECF 1.0", 48) + "Obrigado")});
  ASSERT_EQ(r.d.FechaCupomFiscal("", 10), 1);
  EXPECT_EQ(r.printer->take(),
            std::vector<ByteArray>{body(34, pad("MD5: 0123456789abcdef", 48) + pad("PAF-ECF 1.0", 48))});
  r.d.strPAFIdent1.clear();
  r.d.strPAFIdent2.clear();
  ASSERT_EQ(r.d.FechaCupomFiscal("", 10), 1);
  EXPECT_EQ(r.printer->take(), std::vector<ByteArray>{body(34, "")});
}

TEST(BematechSale, ReportTextInBlocksOfTwelveLines) {
  SaleRig r(65);
  std::string text;
  for (int i = 1; i <= 25; ++i) text += (i > 1 ? "\n" : "") + std::string("linha ") + std::to_string(i);
  ASSERT_EQ(r.d.ImprimeRelatorioGerencial(text), 1);
  auto sent = r.printer->take();
  ASSERT_EQ(sent.size(), 3u);
  const size_t lines[] = {12, 12, 1};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(sent[i][0], 20);
    EXPECT_EQ(static_cast<size_t>(std::count(sent[i].begin(), sent[i].end(), '\n')), lines[i]);
  }
  EXPECT_EQ(sent[2], body(20, "linha 25\n"));
  // The linked receipt's text goes the same way, with its own command.
  ASSERT_EQ(r.d.EnviaTextoComprovanteVinculado(cp("Autorização 1234\r\n") + std::string(60, '*')), 1);
  EXPECT_EQ(r.printer->take(), std::vector<ByteArray>{body(67, "Autorizacao 1234\n" + std::string(48, '*') + "\n")});
  // Without the full report the text goes whole, followed by a line feed.
  r.d.SendFullReport = kFalse;
  ASSERT_EQ(r.d.ImprimeRelatorioGerencial("a\r\nb"), 1);
  EXPECT_EQ(r.printer->take(), std::vector<ByteArray>{body(20, "a\r\nb\n")});
  // The first refused block ends the report text.
  r.d.SendFullReport = kTrue;
  int calls = 0;
  r.printer->hook = [&calls](const ByteArray&, ByteArray& reply) {
    reply = {static_cast<uint8_t>(++calls == 2 ? 0x10 : 0x00), 0x00};
    return true;
  };
  EXPECT_EQ(r.d.ImprimeRelatorioGerencial(text), 0);
  EXPECT_EQ(r.printer->take().size(), 2u);
  EXPECT_EQ(r.d.strLastError, "Impressora em erro.\n");
}

TEST(BematechSale, ManagementReportAndLinkedReceipt) {
  SaleRig r(66);
  ASSERT_EQ(r.d.AbreRelatorioGerencial(), 1);
  ASSERT_EQ(r.d.FechaRelatorioGerencial(), 1);
  ASSERT_EQ(r.d.FechaComprovanteVinculado(), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(20, ""), body(21, ""), body(21, "")}));
  // The identification lines close the report.
  r.d.strPAFIdent1 = "MD5 X";
  ASSERT_EQ(r.d.FechaRelatorioGerencial(), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(20, "MD5 X\n"), body(21, "")}));

  // Firmware unknown (0): the long form at once.
  r.d.nFirmware = 0;
  ASSERT_EQ(r.d.AbreComprovanteVinculado("Cartao", 10, "123"), 1);
  EXPECT_EQ(r.printer->take(), std::vector<ByteArray>{body(66, pad("Cartao", 16) + "00000000001000" + "000123")});
  ASSERT_EQ(r.d.AbreComprovanteVinculado("Cartao", 0, ""), 1);
  EXPECT_EQ(r.printer->take(), std::vector<ByteArray>{body(66, pad("Cartao", 16))});
  // Older firmware: the short form first, and the long one only when that is refused.
  r.d.nFirmware = 3.10;
  ASSERT_EQ(r.d.AbreComprovanteVinculado("Cartao", 10, "123"), 1);
  EXPECT_EQ(r.printer->take(), std::vector<ByteArray>{body(66, pad("Cartao", 16))});
  r.printer->hook = [](const ByteArray& b, ByteArray& reply) {
    if (b[0] != 66 || b.size() != 17) return false;
    reply = {0x01, 0x00};
    return true;
  };
  ASSERT_EQ(r.d.AbreComprovanteVinculado("Cartao", 10, "123"), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(66, pad("Cartao", 16)),
                                                       body(66, pad("Cartao", 16) + "00000000001000000123")}));
  r.d.nFirmware = 3.11;
  ASSERT_EQ(r.d.AbreComprovanteVinculado("Cartao", 10, "123"), 1);
  EXPECT_EQ(r.printer->take().size(), 1u);
  EXPECT_EQ(r.d.AbreComprovanteVinculado("Ticket", 10, "123"), 0);
  EXPECT_TRUE(r.printer->take().empty());
}

TEST(BematechSale, NonFiscalReceipts) {
  SaleRig r(67);
  ASSERT_EQ(r.d.ComprovanteNaoFiscalNaoVinculado(3, 10, "Cheque"), 1);
  ASSERT_EQ(r.d.ComprovanteNaoFiscalNaoVinculado(1, 5, ""), 1);
  ASSERT_EQ(r.d.ComprovanteNaoFiscalNaoVinculado(2, 5, "Cheque"), 1);
  ASSERT_EQ(r.d.ComprovanteNaoFiscalNaoVinculado(4, 5, "Vale"), 1);  // unknown: cash
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(25,
                                                            "03"
                                                            "00000000001000" +
                                                                pad("Cheque", 16)),
                                                       body(25,
                                                            "SA"
                                                            "00000000000500" +
                                                                pad("Dinheiro", 16)),
                                                       body(25,
                                                            "SU"
                                                            "00000000000500" +
                                                                pad("Cheque", 16)),
                                                       body(25,
                                                            "04"
                                                            "00000000000500" +
                                                                pad("Dinheiro", 16))}));
  // A printer that takes no payment name gets the command again without it.
  r.printer->hook = [](const ByteArray& b, ByteArray& reply) {
    if (b[0] != 25 || b.size() <= 17) return false;
    reply = {0x01, 0x00};
    return true;
  };
  ASSERT_EQ(r.d.ComprovanteNaoFiscalNaoVinculado(3, 10, "Cheque"), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(25,
                                                            "03"
                                                            "00000000001000" +
                                                                pad("Cheque", 16)),
                                                       body(25,
                                                            "03"
                                                            "00000000001000")}));
  r.printer->hook = nullptr;

  r.d.arNonFiscalTitles = {
      "", "01,&,SANGRIA", "02,&,SUPRIMENTO", "03,&,VALE", "04,&,DIVERSOS", "05,&,CONTA LUZ", "07,&,AGUA"};
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"sangria", "SA00000000000100"},
      {"SUPRIMENTO", "SU00000000000100"},
      {"VALE", "#100000000000100"},
      {"DIVERSOS", "#200000000000100"},
      {"CONTA LUZ", "0300000000000100" + pad("Cheque", 16)},
      {"AGUA", "0500000000000100" + pad("Cheque", 16)},
      {"GAS", "0700000000000100" + pad("Cheque", 16)},  // unknown: the totaliser 7
  };
  for (auto& [title, params] : cases) {
    ASSERT_EQ(r.d.NonFiscalReceipt(1, title, "Cheque"), 1) << title;
    EXPECT_EQ(r.printer->take(), std::vector<ByteArray>{body(25, params)}) << title;
  }
  EXPECT_EQ(r.d.NonFiscalReceipt(0, "AGUA", "Cheque"), 0);
  EXPECT_EQ(r.d.strLastError, "O valor deve ser maior que zero.");
  EXPECT_TRUE(r.printer->take().empty());
}

TEST(BematechSale, LoadingTheTables) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  SaleRig r(68);
  r.printer->data[{35, 29}] = {0x20, 0x00};  // position 3 is a service rate
  ByteArray rates(33, 0);
  rates[0] = 3;
  rates[1] = 0x18;
  rates[3] = 0x07;
  rates[5] = 0x05;
  rates[6] = 0x50;
  r.printer->data[{26}] = rates;
  ASSERT_EQ(r.d.LoadTaxes(), 1);
  EXPECT_EQ(r.d.arTaxes, (std::vector<std::string>{"", "T18.00", "T07.00", "S05.50"}));
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 29}, {26}}));
  std::string all;
  r.d.RetornaAliquotas(all);
  EXPECT_EQ(all, "T18.00, T07.00, S05.50");
  r.printer->st2 = 0x01;
  EXPECT_EQ(r.d.LoadTaxes(), 0);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{{35, 29}}));
  r.printer->st2 = 0;

  r.printer->data[{35, 32}] = paymentTable(
      {"Dinheiro", "Cheque", "Cartao"},
      {{0, 0, 0, 0, 0, 0, 0x01, 0x23, 0x45, 0x67}, {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0x78, 0x90}});
  ASSERT_EQ(r.d.LoadPaymentTypes(kTrue), 1);
  EXPECT_EQ(r.d.arPaymentTypes, (std::vector<std::string>{"Dinheiro", "Cheque", "Cartao"}));
  ASSERT_EQ(r.d.arPaymentValues.size(), 3u);
  EXPECT_DOUBLE_EQ(r.d.PaymentTypeValue(0), 123.4567);
  EXPECT_DOUBLE_EQ(r.d.PaymentTypeValue(1), 1234567890123456.789);
  EXPECT_DOUBLE_EQ(r.d.PaymentTypeValue(2), 0.0);
  ASSERT_EQ(r.d.LoadPaymentTypes(), 1);  // names only
  EXPECT_EQ(r.d.arPaymentTypes.size(), 3u);
  EXPECT_DOUBLE_EQ(r.d.PaymentTypeValue(0), 0.0);
  r.printer->data[{35, 32}] = ByteArray(10, ' ');
  ASSERT_EQ(r.d.LoadPaymentTypes(kFalse), 1);
  EXPECT_TRUE(r.d.arPaymentTypes.empty());

  ByteArray titles;
  for (auto rec : {titleRecord(0x01, "SANGRIA"), titleRecord(0x02, "Suprimento"), titleRecord(0x03, ""),
                   titleRecord(0x12, "Conta luz")})
    titles.insert(titles.end(), rec.begin(), rec.end());
  r.printer->data[{35, 33}] = titles;
  ASSERT_EQ(r.d.LoadNonFiscalTitles(), 1);
  EXPECT_EQ(r.d.arNonFiscalTitles, (std::vector<std::string>{"", "01,&,SANGRIA", "02,&,SUPRIMENTO", "12,&,CONTA LUZ"}));
  EXPECT_EQ(r.d.NonFiscalTitlesIndex("conta luz"), 12);
  std::string log = testsupport::readFile(tmp.logPath());
  EXPECT_NE(log.find("CBematech::LoadTaxes{i=3, Imposto=S05.50}"), std::string::npos);
  EXPECT_NE(log.find("CBematech::LoadPaymentTypes{i=1, Pagamento=Cheque}"), std::string::npos);
  EXPECT_NE(log.find("CBematech::LoadPaymentTypes{i=0, Valor=123.456700}"), std::string::npos);
  EXPECT_NE(log.find("CBematech::LoadNonFiscalTitles{i=3, Título=CONTA LUZ}"), std::string::npos);
}

TEST(BematechSale, ProgrammingTheTables) {
  SaleRig r(69);
  ASSERT_EQ(r.d.AdicionaAliquotaTributaria(18, 0), 1);
  ASSERT_EQ(r.d.AdicionaAliquotaTributaria(5.5, 1), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(7, "18000"), body(7, "05501")}));

  // The printer answers the new payment type's position.
  r.printer->data[{71}] = bytes("05");
  ASSERT_EQ(r.d.AdicionaFormaPagamento("Vale"), 1);
  EXPECT_EQ(r.printer->take(), std::vector<ByteArray>{body(71, pad("Vale", 16))});
  ASSERT_EQ(r.d.arPaymentTypes.size(), 6u);
  EXPECT_EQ(r.d.PaymentType(5), "Vale");
  EXPECT_EQ(r.d.PaymentTypeIndex("VALE"), 5);
  // Without the position the table is read again.
  r.printer->data.erase({71});
  r.printer->data[{35, 32}] = paymentTable({"Dinheiro", "Ticket"});
  ASSERT_EQ(r.d.AdicionaFormaPagamento("Ticket"), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(71, pad("Ticket", 16)), {35, 32}}));
  EXPECT_EQ(r.d.arPaymentTypes, (std::vector<std::string>{"Dinheiro", "Ticket"}));

  // Only the names the printer lacks are sent (the first entry does not count).
  r.d.arPaymentTypes = {"Dinheiro", "Cheque", "CARTAO"};
  ASSERT_EQ(r.d.RedefineFormasPagamento({"Dinheiro", "Cheque", "Vale Refeicao Longo Nome", "cartao"}), 1);
  EXPECT_EQ(r.printer->take(), std::vector<ByteArray>{body(73, pad("Dinheiro", 16) + "Vale Refeicao Lo")});
  r.d.arPaymentTypes = {"", "Cheque"};
  ASSERT_EQ(r.d.RedefineFormasPagamento({"cheque"}), 1);
  EXPECT_TRUE(r.printer->take().empty());

  r.d.arNonFiscalTitles = {"", "01,&,SANGRIA", "02,&,SUPRIMENTO"};
  ASSERT_EQ(r.d.AdicionaTotalizadorNaoFiscal(" conta de agua e esgoto "), 1);
  EXPECT_EQ(r.printer->take(), std::vector<ByteArray>{body(40, "03CONTA DE AGUA E ESG")});
  EXPECT_EQ(r.d.arNonFiscalTitles.back(), "03,&,CONTA DE AGUA E ESGOTO");
  EXPECT_EQ(r.d.AdicionaTotalizadorNaoFiscal("Sangria"), 0);
  EXPECT_EQ(r.d.strLastError, cp("Totalizador já cadastrado na impressora."));
  EXPECT_TRUE(r.printer->take().empty());

  // The reset makes sure the three titles the host relies on exist.
  ByteArray titles;
  for (auto rec : {titleRecord(0x01, "SANGRIA"), titleRecord(0x02, "SUPRIMENTO"), titleRecord(0x03, "DIVERSOS")})
    titles.insert(titles.end(), rec.begin(), rec.end());
  r.printer->data[{35, 33}] = titles;
  ASSERT_EQ(r.d.ResetNonFiscalTitles(), 1);
  EXPECT_EQ(r.printer->take(),
            (std::vector<ByteArray>{
                {35, 33}, body(40, "04" + pad("VALE PRODUTO", 19)), body(40, "05" + pad("VALE PRESENTE", 19))}));
  EXPECT_EQ(r.d.NonFiscalTitlesIndex("VALE PRESENTE"), 5);
}
