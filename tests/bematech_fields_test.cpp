// Every Bematech operation that sends a number refuses a value its field cannot
// hold, with the field and its limit in the message, and then sends nothing at
// all; host text reaches the printer without control bytes, while the driver's
// own escapes survive.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "bematech_fake_printer.h"
#include "core/text.h"
#include "drivers/bematech/CBematech2000.h"
#include "drivers/bematech/CBematechMP7000.h"
#include "test_support.h"

using namespace tarvion;
using namespace bematest;
using text::cp;

namespace {

const double kNaN = std::nan("");
const double kInf = std::numeric_limits<double>::infinity();

template <class Driver>
struct Refusal {
  const char* what;
  std::function<BOOL(Driver&)> call;
  const char* error;  // UTF-8
};

// A driver with the tables a sale needs, on a fake printer.
template <class Driver>
struct FieldRig : Rig<Driver> {
  FieldRig(int port, bool fs) : Rig<Driver>(port, fs) {
    EXPECT_TRUE(this->open());
    this->d.arTaxes = {"", "T18.00", "T07.00", "S05.00"};
    this->d.arPaymentTypes = {"Dinheiro", "Cheque", "Cartao"};
    this->d.arPaymentValues = {0, 0, 0};
    this->d.arNonFiscalTitles = {"", "01,&,SANGRIA", "02,&,SUPRIMENTO", "03,&,X", "04,&,Y", "05,&,DIVERSOS"};
  }
};

// Runs each refusal: FALSE, the message, and not a byte on the wire (no status
// probe, no document sensor, no prompt).
template <class Driver>
void expectRefusals(FieldRig<Driver>& r, const std::vector<Refusal<Driver>>& cases) {
  ScriptedPrompts prompts;
  for (const auto& c : cases) {
    r.dev->clearWritten();
    r.printer->take();
    r.d.strLastError.clear();
    EXPECT_EQ(c.call(r.d), 0) << c.what;
    EXPECT_EQ(r.d.strLastError, cp(c.error)) << c.what;
    EXPECT_TRUE(r.dev->written().empty()) << c.what;
    EXPECT_TRUE(r.printer->take().empty()) << c.what;
  }
  EXPECT_TRUE(prompts.asked.empty());
}

}  // namespace

TEST(BematechFieldLimits, EveryNumberOfTheClassicModelsIsChecked) {
  using D = CBematech;
  FieldRig<D> r(70, false);
  // The firmware (3.10) takes the linked receipt's short form first: a refused
  // number must stop that one too.
  ASSERT_GT(r.d.nFirmware, 0.0);
  ASSERT_LT(r.d.nFirmware, 3.11);
  std::string text;
  const std::vector<Refusal<D>> cases = {
      {"quantity 10000", [](D& d) { return d.RegistraItemFiscal("1", "QTD10000", "UN", 18, 10000, 1.00, 0); },
       "Quantidade fora da faixa permitida (máximo 9999,999)."},
      {"quantity carried to 8 digits", [](D& d) { return d.RegistraItemFiscal("1", "X", "UN", 18, 9999.9995, 1, 0); },
       "Quantidade fora da faixa permitida (máximo 9999,999)."},
      {"unit price 1000000", [](D& d) { return d.RegistraItemFiscal("2", "PRECO1M", "UN", 18, 1, 1000000, 0); },
       "Valor unitário fora da faixa permitida (máximo 999999,999)."},
      {"both huge", [](D& d) { return d.RegistraItemFiscal("3", "X", "UN", 18, 99999999999.0, 99999999999.0, 0); },
       "Valor unitário fora da faixa permitida (máximo 999999,999)."},
      {"negative quantity", [](D& d) { return d.RegistraItemFiscal("4", "X", "UN", 18, -1, 1, 0); },
       "Quantidade fora da faixa permitida (mínimo 0)."},
      {"quantity NaN", [](D& d) { return d.RegistraItemFiscal("4", "X", "UN", 18, kNaN, 1, 0); },
       "Quantidade fora da faixa permitida (valor não numérico)."},
      {"negative price", [](D& d) { return d.RegistraItemFiscal("4", "X", "UN", 18, 1, -0.01, 0); },
       "Valor unitário fora da faixa permitida (mínimo 0)."},
      {"item discount", [](D& d) { return d.RegistraItemFiscal("5", "X", "UN", 18, 2, 1, 5e8); },
       "Desconto do item fora da faixa permitida (máximo 99999999,99)."},
      {"item increase", [](D& d) { return d.RegistraItemFiscal("5", "X", "UN", 18, 2, 1, -5e8); },
       "Acréscimo do item fora da faixa permitida (máximo 99999999,99)."},
      {"service quantity", [](D& d) { return d.RegisterService("6", "Frete", "UN", 5, kInf, 1, 0); },
       "Quantidade fora da faixa permitida (máximo 9999,999)."},
      {"item number", [](D& d) { return d.CancelaItemFiscal(10000, "", 0, 0, 0, 0); },
       "Número do item fora da faixa permitida (máximo 9999)."},
      {"negative item number", [](D& d) { return d.CancelaItemFiscal(-1, "", 0, 0, 0, 0); },
       "Número do item fora da faixa permitida (mínimo 0)."},
      {"subtotal increase", [](D& d) { return d.TotalizaCupomFiscalAcrescimo(1e12, 0); },
       "Acréscimo fora da faixa permitida (máximo 999999999999,99)."},
      {"subtotal increase NaN", [](D& d) { return d.TotalizaCupomFiscalAcrescimo(kNaN, 0); },
       "Acréscimo fora da faixa permitida (valor não numérico)."},
      {"subtotal discount", [](D& d) { return d.TotalizaCupomFiscalDesconto(1e12, 0); },
       "Desconto fora da faixa permitida (máximo 999999999999,99)."},
      {"negative subtotal discount", [](D& d) { return d.TotalizaCupomFiscalDesconto(-1, 0); },
       "Desconto fora da faixa permitida (mínimo 0)."},
      {"payment", [](D& d) { return d.RegistraPagamento("Dinheiro", 100000000000000.0); },
       "Valor do pagamento fora da faixa permitida (máximo 999999999999,99)."},
      {"payment -inf", [](D& d) { return d.RegistraPagamento("Dinheiro", -kInf); },
       "Valor do pagamento fora da faixa permitida (mínimo 0)."},
      {"linked value", [](D& d) { return d.AbreComprovanteVinculado("Cartao", 1e12, "12"); },
       "Valor do comprovante fora da faixa permitida (máximo 999999999999,99)."},
      {"linked receipt number", [](D& d) { return d.AbreComprovanteVinculado("Cartao", 10, "1000000"); },
       "Número do cupom fora da faixa permitida (máximo 999999)."},
      {"linked receipt number beyond long",
       [](D& d) { return d.AbreComprovanteVinculado("Cartao", 10, "99999999999999999999999"); },
       "Número do cupom fora da faixa permitida (máximo 999999)."},
      {"non-fiscal value", [](D& d) { return d.ComprovanteNaoFiscalNaoVinculado(7, 1e12, ""); },
       "Valor fora da faixa permitida (máximo 999999999999,99)."},
      {"non-fiscal title", [](D& d) { return d.ComprovanteNaoFiscalNaoVinculado(100, 10, ""); },
       "Totalizador fora da faixa permitida (máximo 99)."},
      {"negative non-fiscal title", [](D& d) { return d.ComprovanteNaoFiscalNaoVinculado(-3, 10, ""); },
       "Totalizador fora da faixa permitida (mínimo 0)."},
      {"non-fiscal receipt", [](D& d) { return d.NonFiscalReceipt(1e12, "DIVERSOS", "Dinheiro"); },
       "Valor fora da faixa permitida (máximo 999999999999,99)."},
      {"tax rate", [](D& d) { return d.AdicionaAliquotaTributaria(100, 0); },
       "Alíquota fora da faixa permitida (máximo 99,99)."},
      {"tax kind", [](D& d) { return d.AdicionaAliquotaTributaria(18, 10); },
       "Tipo de alíquota fora da faixa permitida (máximo 9)."},
      {"reduction range", [](D& d) { return d.LeituraMFReducao(1, 1000000, 1); },
       "Redução final fora da faixa permitida (máximo 999999)."},
      {"negative first reduction", [](D& d) { return d.LeituraMFReducao(-1, 5, 0); },
       "Redução inicial fora da faixa permitida (mínimo 0)."},
      {"reduction range read over the port", [&text](D& d) { return d.LeituraMFSerialReducao(1234567, 1, text, 1); },
       "Redução inicial fora da faixa permitida (máximo 999999)."},
      {"check value", [](D& d) { return d.PrintCheck(1e12, "001"); },
       "Valor do cheque fora da faixa permitida (máximo 999999999999,99)."},
      {"check value before the CMC-7 read", [&text](D& d) { return d.ReadAndPrintCheck(1e12, "001", text); },
       "Valor do cheque fora da faixa permitida (máximo 999999999999,99)."},
  };
  expectRefusals(r, cases);

  // A totaliser number past 99 is refused too (the printer's list is full).
  r.d.arNonFiscalTitles.push_back("99,&,ULTIMO");
  expectRefusals<D>(r, {{"next totaliser", [](D& d) { return d.AdicionaTotalizadorNaoFiscal("NOVO"); },
                         "Totalizador fora da faixa permitida (máximo 99)."}});
}

TEST(BematechFieldLimits, TheFsModelsOwnNumbersAreChecked) {
  using D = CBematech2000;
  FieldRig<D> r(71, true);
  const std::vector<Refusal<D>> cases = {
      {"item after", [](D& d) { return d.RegistraDescontoItemApos(1000, 1); },
       "Número do item fora da faixa permitida (máximo 999)."},
      {"discount after the item", [](D& d) { return d.RegistraDescontoItemApos(1, 1e6); },
       "Desconto do item fora da faixa permitida (máximo 999999,99)."},
      {"increase after the item", [](D& d) { return d.RegistraDescontoItemApos(1, -1e6); },
       "Acréscimo do item fora da faixa permitida (máximo 999999,99)."},
      {"discount after the item NaN", [](D& d) { return d.RegistraDescontoItemApos(1, kNaN); },
       "Acréscimo do item fora da faixa permitida (valor não numérico)."},
      {"cancelled discount's item", [](D& d) { return d.CancelaDescontoItem(-5, 0); },
       "Número do item fora da faixa permitida (mínimo 0)."},
      {"non-fiscal receipt", [](D& d) { return d.NonFiscalReceipt(1e12, "SANGRIA", ""); },
       "Valor fora da faixa permitida (máximo 999999999999,99)."},
      {"linked receipt, long form", [](D& d) { return d.AbreComprovanteVinculado("Cheque", 1e15, ""); },
       "Valor do comprovante fora da faixa permitida (máximo 999999999999,99)."},
      {"linked receipt number", [](D& d) { return d.AbreComprovanteVinculado("Cheque", 1, "-4"); },
       "Número do cupom fora da faixa permitida (mínimo 0)."},
      {"item on the FS models", [](D& d) { return d.RegistraItemFiscal("1", "X", "UN", 7, 1, 1234567.5, 0); },
       "Valor unitário fora da faixa permitida (máximo 999999,999)."},
  };
  expectRefusals(r, cases);
}

TEST(BematechFieldLimits, TheMP7000sNarrowerFieldsAndItsCheckStation) {
  using D = CBematechMP7000;
  FieldRig<D> r(72, true);
  const std::vector<Refusal<D>> cases = {
      {"price in 8 digits", [](D& d) { return d.RegistraItemFiscal("1", "X", "UN", 18, 1, 100000, 0); },
       "Valor unitário fora da faixa permitida (máximo 99999,999)."},
      {"discount in 8 digits", [](D& d) { return d.RegistraItemFiscal("1", "X", "UN", 18, 2, 10, 5e5); },
       "Desconto do item fora da faixa permitida (máximo 999999,99)."},
      {"quantity", [](D& d) { return d.RegisterService("1", "X", "UN", 5, 12345, 1, 0); },
       "Quantidade fora da faixa permitida (máximo 9999,999)."},
      // Refused before the slot is looked at: no 62 "0", no prompt.
      {"check", [](D& d) { return d.PrintCheck(1e13, "001"); },
       "Valor do cheque fora da faixa permitida (máximo 999999999999,99)."},
  };
  expectRefusals(r, cases);
}

TEST(BematechFieldLimits, TheLargestValuesStillGoOutWhole) {
  FieldRig<CBematech> r(73, false);
  ASSERT_EQ(r.d.RegistraItemFiscal("1", "Arroz", "UN", 18, 9999.999, 999999.999, 0), 1) << r.d.strLastError;
  ASSERT_EQ(r.d.RegistraPagamento("Cartao", 999999999999.99), 1) << r.d.strLastError;
  ASSERT_EQ(r.d.TotalizaCupomFiscalAcrescimo(999999999999.999, 0), 1) << r.d.strLastError;
  ASSERT_EQ(r.d.LeituraMFReducao(0, 999999, 0), 1) << r.d.strLastError;
  const auto sent = r.printer->take();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(str(sent[0]).substr(1, 2 + 9 + 7),
            "01"
            "999999999"
            "9999999");
  EXPECT_EQ(str(sent[1]),
            "\x48"
            "02"
            "99999999999999");
  EXPECT_EQ(str(sent[2]),
            "\x20"
            "a"
            "99999999999999");  // cut, not rounded up past the field
  EXPECT_EQ(str(sent[3]),
            "\x08"
            "000000"
            "999999"
            "I");
}

TEST(BematechFieldLimits, TheRefusalIsLoggedAsTheOperationsFailure) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  FieldRig<CBematech> r(74, false);
  EXPECT_EQ(r.d.RegistraPagamento("Dinheiro", 1e14), 0);
  const std::string log = testsupport::readFile(tmp.logPath());
  // The log file is in the system's code page (UTF-8 here).
  const std::string message = "Valor do pagamento fora da faixa permitida (máximo 999999999999,99).";
  EXPECT_NE(log.find("CBematech::RegistraPagamento{" + message + "}"), std::string::npos) << log;
  EXPECT_NE(log.find("CBematech::RegistraPagamento{Retorno=FALSE}"), std::string::npos);
}

// ---------------------------------------------------------------- host text

TEST(BematechTextFilter, OneLineFieldsOfTheClassicModels) {
  FieldRig<CBematech> r(75, false);
  const std::string nul(1, '\0');
  ASSERT_EQ(r.d.RegistraItemFiscal(std::string("7\x1b"
                                               "8\0"
                                               "9",
                                               5),
                                   std::string("AB\0CD\x1b"
                                               "EF",
                                               8),
                                   "\x1bU", 18, 1, 1, 0),
            1)
      << r.d.strLastError;
  // Code, description and unit: the NUL that ends each field is the driver's own.
  const std::string sent = str(r.printer->take().at(0));
  EXPECT_EQ(sent.substr(sent.size() - 17),
            " U"
            "7 8 9" +
                nul + "AB CD EF" + nul);

  r.d.SetCustomerInfo(
      "123\x1b"
      "456",
      "", "");
  ASSERT_EQ(r.d.AbreCupomFiscal(), 1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(0, "123 456")}));

  ASSERT_EQ(r.d.AdicionaFormaPagamento(std::string("Vale\0Troca", 10)), 1);
  EXPECT_EQ(r.printer->take().at(0), body(71, "Vale Troca      "));

  ASSERT_EQ(r.d.AdicionaTotalizadorNaoFiscal("Gorjeta\x1b"), 1);
  EXPECT_EQ(r.printer->take().at(0), body(40, "06" + pad("GORJETA", 19)));

  ASSERT_EQ(r.d.SetCheckConfiguration("Re\x1b"
                                      "al",
                                      "Reais",
                                      "Re\x0c"
                                      "cife",
                                      "Maria\x1b", DateTime::invalid(), DateTime::invalid()),
            1);
  EXPECT_EQ(r.printer->take(), (std::vector<ByteArray>{body(58, "Re al"), body(59, "Reais")}));
  EXPECT_EQ(r.d.strCheckCity, "Re cife");
  EXPECT_EQ(r.d.strCheckPayee, "Maria ");
}

TEST(BematechTextFilter, TextsPrintedAsLinesKeepTheirBreaks) {
  FieldRig<CBematech> r(76, false);
  // The closing message keeps CR LF; the identification lines are one line each.
  r.d.strPAFIdent1 = "MD5\x1b";
  ASSERT_EQ(r.d.FechaCupomFiscal("Obrigado\x1b!\r\nVolte", 0), 1);
  EXPECT_EQ(r.printer->take().at(0), body(34, pad("MD5 ", 48) + "Obrigado !\r\nVolte"));
  r.d.strPAFIdent1.clear();

  // Reports in lines: the host's ESC is a blank, the line breaks stay line breaks.
  ASSERT_EQ(r.d.ImprimeRelatorioGerencial("linha\x1b"
                                          "1\r\nlinha\x07"
                                          "2"),
            1);
  EXPECT_EQ(r.printer->take().at(0), body(20, "linha 1\nlinha 2\n"));
  r.d.SendFullReport = kFalse;
  ASSERT_EQ(r.d.EnviaTextoComprovanteVinculado(std::string("a\0b\r\nc", 6)), 1);
  EXPECT_EQ(r.printer->take().at(0), body(67, "a b\r\nc\n"));
}

TEST(BematechTextFilter, TheFsModelsKeepTheirOwnEscapes) {
  FieldRig<CBematech2000> r(77, true);
  const std::string ESC = "\x1b", prefix = "\x1b\x74\x02";
  // Bold marks become the printer's ESC E / ESC F; the host's ESC becomes a blank.
  ASSERT_EQ(r.d.ImprimeRelatorioGerencial("<b>A\x1b"
                                          "E</b>\r\nB\x1c"),
            1);
  EXPECT_EQ(str(r.printer->take().at(0)), "\x14" + prefix + ESC + "EA E" + ESC + "F\nB \n");
  ASSERT_EQ(r.d.EnviaTextoComprovanteVinculado(std::string("x\0y", 3)), 1);
  EXPECT_EQ(str(r.printer->take().at(0)), "\x43" + prefix + "x y\n");
  ASSERT_EQ(r.d.FechaCupomFiscal("Fim\x1bt\x01", 0), 1);
  EXPECT_EQ(str(r.printer->take().at(0)), "\x22" + prefix + "Fim t \n");
  r.d.SetCustomerInfo("1\x1b", std::string("An\0a", 4), "");
  ASSERT_EQ(r.d.AbreCupomFiscal(), 1);
  EXPECT_EQ(r.printer->take().at(0), body(0, pad("1 ", 29) + pad("An a", 30)));
}

TEST(BematechTextFilter, TextFieldsBeforeOthersKeepTheirWidth) {
  FieldRig<CBematech> r(78, false);
  // A one-letter unit is padded to its two columns, so the code starts where
  // the printer reads it.
  ASSERT_EQ(r.d.RegistraItemFiscal("123", "Agua", "L", 18, 1, 1, 0), 1) << r.d.strLastError;
  const std::string item = str(r.printer->take().at(0));
  EXPECT_EQ(item.substr(1 + 2 + 9 + 7 + 10 + 10 + 2 + 20), std::string("L 123\0Agua\0", 11));
  // A payment name the host programmed longer than the printer keeps is cut to
  // 16 characters before the value that follows it.
  r.d.arPaymentTypes.push_back("Cartao de credito parcelado");
  r.d.nFirmware = 3.2;  // the long form straight away
  ASSERT_EQ(r.d.AbreComprovanteVinculado("Cartao de credito parcelado", 10, "7"), 1) << r.d.strLastError;
  const auto sent = r.printer->take();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(str(sent[0]),
            "\x42"
            "Cartao de credit"
            "00000000001000"
            "000007");
}
