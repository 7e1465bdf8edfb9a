// A whole sale through the control on model 1 (CBematech), over the virtual
// wire with a scripted printer: what goes on the wire for each host call.
#include <gtest/gtest.h>

#include "bematech_fake_printer.h"
#include "core/text.h"
#include "tarvion/tarvion.h"
#include "tarvion/tarvion.hpp"
#include "test_support.h"

using namespace tarvion;
using namespace bematest;

namespace {

class BematechControl : public ::testing::Test {
 protected:
  static constexpr int kPort = 79;
  void SetUp() override {
    printer = std::make_shared<FakeBematech>();
    auto& data = printer->data;
    data[{35, 1}] = {0x03, 0x20};
    data[{35, 29}] = {0x00, 0x00};
    ByteArray rates(33, 0);
    rates[0] = 2;
    rates[1] = 0x18;
    rates[3] = 0x07;
    data[{26}] = rates;
    ByteArray payments(833 + 500, ' ');
    std::fill(payments.begin() + 801, payments.end(), 0);
    const std::string names = pad("Dinheiro", 16) + pad("Cartao", 16);
    std::copy(names.begin(), names.end(), payments.begin() + 1);
    data[{35, 32}] = payments;
    ByteArray titles(31, 0);
    titles[0] = 0x01;
    const std::string t = pad("SANGRIA", 19);
    std::copy(t.begin(), t.end(), titles.begin() + 12);
    data[{35, 33}] = titles;
    data[{30}] = {0x00, 0x04, 0x56};
    dev = std::make_shared<VirtualDevice>(printer);
    ports::attachVirtual(kPort, dev);
  }
  void TearDown() override { ports::detachVirtual(kPort); }

  testsupport::TempDir tmp;
  std::shared_ptr<FakeBematech> printer;
  std::shared_ptr<VirtualDevice> dev;
};

}  // namespace

TEST_F(BematechControl, AWholeSale) {
  CTarvionCtrl c;
  ASSERT_EQ(c.InitializeECF(1, kPort, 9600, 0, 8, 1, 0, 1, 1), 1) << c.UltimoErro();
  // Opening: the status probe, the set-up exchange and the printer's tables.
  EXPECT_EQ(printer->take(), (std::vector<ByteArray>{{19}, {35, 1}, {35, 29}, {26}, {35, 32}, {35, 33}}));
  std::string taxes;
  EXPECT_NE(c.RetornaAliquotas(taxes), 0);
  EXPECT_EQ(taxes, "T18.00, T07.00");

  ASSERT_EQ(c.SetCustomerInfo("123.456.789-09", "Maria", "Rua A"), 1);
  ASSERT_EQ(c.AbreCupomFiscal(), 1) << c.UltimoErro();
  ASSERT_EQ(c.RegistraItemFiscal("7891000", "Feijão carioca", "kg", 7, 2, 8.49, 0), 1) << c.UltimoErro();
  ASSERT_EQ(c.RegistraItemFiscal("7892000", "Arroz", "", 18, 1, 20, -1), 1) << c.UltimoErro();
  ASSERT_EQ(c.TotalizaCupomDesconto(0.98, 0), 1) << c.UltimoErro();
  ASSERT_EQ(c.RegistraPagamento("CARTAO", 20), 1) << c.UltimoErro();
  ASSERT_EQ(c.RegistraPagamento("Dinheiro", 20), 1) << c.UltimoErro();
  ASSERT_EQ(c.FechaCupomFiscal("Obrigado pela preferência", 0), 1) << c.UltimoErro();
  std::string number;
  ASSERT_EQ(c.RetornaNumeroCupom(number), 1);
  EXPECT_EQ(number, "000456");

  const std::string zeros(20, '0');
  EXPECT_EQ(printer->take(),
            (std::vector<ByteArray>{
                body(0, "123.456.789-09"),
                body(63,
                     "02"
                     "000008490"
                     "0002000"
                     "0000000000"
                     "0000000000"
                     "01" +
                         zeros + "kg" + "7891000" + std::string(1, '\0') + "Feijao carioca" + std::string(1, '\0')),
                body(63,
                     "01"
                     "000020000"
                     "0001000"
                     "0000000000"
                     "0000000100"
                     "01" +
                         zeros + "PC" + "7892000" + std::string(1, '\0') + "Arroz" + std::string(1, '\0')),
                body(32, "d00000000000098"),
                body(72, "0100000000002000"),
                body(72, "0000000000002000"),
                body(34, "Obrigado pela preferencia"),
                {30},
            }));
}

TEST_F(BematechControl, TheHostSeesThePrinterRefusals) {
  CTarvionCtrl c;
  ASSERT_EQ(c.InitializeECF(1, kPort, 9600, 0, 8, 1, 0, 1, 1), 1) << c.UltimoErro();
  printer->take();
  // A rate the printer lacks never reaches the wire.
  EXPECT_EQ(c.RegistraItemFiscal("1", "Cerveja", "UN", 25, 1, 5, 0), 0);
  EXPECT_EQ(c.UltimoErro(), "Alíquota de ICMS de 25.00% não cadastrada no ECF.");
  EXPECT_TRUE(printer->take().empty());
  printer->st1 = 0x02;
  EXPECT_EQ(c.AbreCupomFiscal(), 0);
  EXPECT_EQ(c.UltimoErro(), "Cupom aberto.\n");
  printer->st1 = 0;
  printer->silent = true;
  EXPECT_EQ(c.LeituraX(), 0);
  EXPECT_EQ(c.UltimoErro(), "Timeout aguardando resposta da impressora.");
}

// Hosts decide whether to send a failed call again from what happened to it on
// the line; a property read never changes what the last method did.
TEST_F(BematechControl, TheLastOutcomeSaysWhatHappenedToTheCommand) {
  CTarvionCtrl c;
  ASSERT_EQ(c.InitializeECF(1, kPort, 9600, 0, 8, 1, 0, 1, 1), 1) << c.UltimoErro();
  ASSERT_EQ(c.AbreCupomFiscal(), 1) << c.UltimoErro();
  EXPECT_EQ(c.LastOutcome(), CTarvionCtrl::Outcome::Done);
  printer->take();

  // A price that does not fit its field never leaves.
  EXPECT_EQ(c.RegistraItemFiscal("1", "Item", "un", 18, 1, 1e12, 0), 0);
  EXPECT_EQ(c.LastOutcome(), CTarvionCtrl::Outcome::NotWritten);
  EXPECT_TRUE(printer->take().empty());

  // The printer refuses the frame: it did not run.
  printer->nak = true;
  EXPECT_EQ(c.RegistraItemFiscal("1", "Item", "un", 18, 1, 1, 0), 0);
  EXPECT_EQ(c.LastOutcome(), CTarvionCtrl::Outcome::Refused);
  EXPECT_FALSE(c.UltimoErro().empty());
  EXPECT_EQ(c.LastOutcome(), CTarvionCtrl::Outcome::Refused);

  // No answer at all after the frame went out: it may have run.
  printer->nak = false;
  printer->silent = true;
  EXPECT_EQ(c.RegistraItemFiscal("1", "Item", "un", 18, 1, 1, 0), 0);
  EXPECT_EQ(c.LastOutcome(), CTarvionCtrl::Outcome::MayHaveRun);
}

TEST_F(BematechControl, TheCAbiTellsTheLastMethodsOutcome) {
  tarvion_control* h = tarvion_create();
  char out[512];
  EXPECT_EQ(tarvion_last_outcome(h), TARVION_OUTCOME_DONE);
  tarvion_call(h, "AbreCupomFiscal", 0, out, sizeof out);  // no printer yet
  EXPECT_EQ(tarvion_last_outcome(h), TARVION_OUTCOME_NOT_WRITTEN) << out;
  tarvion_call(h, ("InitializeECF 1 " + std::to_string(kPort) + " 9600 0 8 1 0 TRUE TRUE").c_str(), 0, out, sizeof out);
  printer->nak = true;
  tarvion_call(h, "AbreCupomFiscal", 0, out, sizeof out);
  EXPECT_EQ(tarvion_last_outcome(h), TARVION_OUTCOME_REFUSED) << out;
  tarvion_call(h, "UltimoErro", 0, out, sizeof out);  // a property leaves it
  EXPECT_EQ(tarvion_last_outcome(h), TARVION_OUTCOME_REFUSED) << out;
  printer->nak = false;
  printer->silent = true;
  tarvion_call(h, "AbreCupomFiscal", 0, out, sizeof out);
  EXPECT_EQ(tarvion_last_outcome(h), TARVION_OUTCOME_MAY_HAVE_RUN) << out;
  tarvion_destroy(h);
  EXPECT_EQ(tarvion_last_outcome(nullptr), TARVION_OUTCOME_DONE);
}
