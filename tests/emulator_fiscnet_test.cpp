// The virtual FiscNET printer on its own, fed literal requests written by hand:
// its codec, its answers and return codes, its refusals of commands the state
// does not allow, the faults, and the nine models it serves.
#include <gtest/gtest.h>

#include <string>

#include "core/capabilities.h"
#include "emulator/fiscnet/codec.h"
#include "emulator/fiscnet/printer.h"
#include "emulator/paper.h"
#include "emulator/printers.h"
#include "emulator/registry.h"

using namespace tarvion;
using namespace tarvion::emulator;

namespace {

struct Sink final : ReplySink {
  void send(const ByteArray& bytes, uint32_t) override { got.append(bytes.begin(), bytes.end()); }
  int64_t nowUs() override { return 1'000'000; }
  void hangUp() override { hungUp = true; }
  std::string take() {
    std::string s;
    s.swap(got);
    return s;
  }
  std::string got;
  bool hungUp = false;
};

struct Printer {
  int64_t hostNow = toSeconds(Stamp{2026, 12, 4, 9, 30, 0});
  std::shared_ptr<FiscalCore> core;
  std::shared_ptr<FiscNETPrinter> p;
  Sink sink;
  explicit Printer(bool checkStation = false) {
    core = std::make_shared<FiscalCore>(FiscalCore::Options{"", [this] { return hostNow; }});
    core->setPaper(std::make_shared<Paper>(48));
    p = std::make_shared<FiscNETPrinter>(core, "ELGIN X5", Hardware{48, checkStation});
  }
  std::string ask(const std::string& request) {
    p->receive(reinterpret_cast<const uint8_t*>(request.data()), request.size(), sink);
    return sink.take();
  }
};

}  // namespace

TEST(EmulatorFiscNET, LiteralRequestsAndTheAnswersTheyGet) {
  Printer e;
  struct Case {
    const char* request;
    const char* reply;
  } cases[] = {
      {"{0;LeInteiro;NomeInteiro=\"COO\";30}", "{0;0;ValorInteiro=0;19}"},
      {"{1;LeIndicador;NomeIndicador=\"DocumentoAberto\";46}", "{1;0;ValorNumericoIndicador=0;29}"},
      {"{2;LeAliquota;CodAliquotaProgramavel=0;38}", "{2;0;AliquotaICMS=T;PercentualAliquota=18,00;44}"},
      {"{3;LeMeioPagamento;CodMeioPagamentoProgram=1;44}", "{3;0;NomeMeioPagamento=\"Cartao\";31}"},
      {"{4;AbreCupomFiscal;;19}", "{4;0;;5}"},
      {"{5;AbreCupomFiscal;;19}", "{5;8000;Circunstancia=\"ReceiptAlreadyOpen\";42}"},
      {"{6;VendeItem;CodAliquota=00 CodProduto=\"1\" NomeProduto=\"CAF\x90\" PrecoUnitario=1000,000 "
       "Quantidade=2,000 Unidade=\"UN\";114}",
       "{6;0;;5}"},
      {"{7;AcresceItemFiscal;Cancelar=F ValorAcrescimo=-1,50;52}", "{7;0;;5}"},
      {"{8;PagaCupom;CodMeioPagamento=-2 Valor=2000,00;46}", "{8;0;;5}"},
      {"{9;LeMoeda;NomeDadoMonetario=\"TotalDiaVendaBruta\";49}", "{9;0;ValorMoeda=2.000,00;24}"},
      {"{10;EncerraDocumento;;21}", "{10;0;;6}"},
      {"{11;EncerraDocumento;;21}", "{11;15012;;10}"},
      {"{12;NaoExiste;;14}", "{12;11006;;10}"},
      {"{13;LeInteiro;NomeInteiro=\"COO\";99}", "{13;11001;;10}"},
      {"{14;LeInteiro;NomeInteiro=\"XYZ\";31}", "{14;11011;;10}"},
      {"{15;LeTexto;NomeTexto=\"VersaoSW\";32}", "{15;0;ValorTexto=\"03.30\";24}"},
  };
  for (const Case& c : cases) EXPECT_EQ(e.ask(c.request), c.reply) << c.request;
  EXPECT_EQ(e.core->lastReceipt().total, 2000 * 100 - 150);
  EXPECT_EQ(e.core->lastReceipt().items.at(0).description, "CAF\xC9");
}

TEST(EmulatorFiscNET, RequestsInPiecesNoiseAndFaults) {
  Printer e;
  // Noise before a frame is dropped; a frame in two pieces is answered once whole.
  EXPECT_EQ(e.ask("xx{0;LeInteiro;NomeInt"), "");
  EXPECT_EQ(e.ask("eiro=\"CRZ\";30}"), "{0;0;ValorInteiro=0;19}");
  // A refused command is not run: the queue-full code comes back.
  e.p->setFaults("nak,once");
  EXPECT_EQ(e.ask("{1;AbreCupomFiscal;;19}"), "{1;11016;;9}");
  EXPECT_FALSE(e.core->receiptOpen());
  EXPECT_EQ(e.ask("{2;AbreCupomFiscal;;19}"), "{2;0;;5}");
  e.p->setFaults("noanswer,once");
  EXPECT_EQ(e.ask("{3;CancelaCupom;;16}"), "");
  EXPECT_TRUE(e.core->receiptOpen());
}

TEST(EmulatorFiscNET, WrongStateCommandsGetTheFamilysCodes) {
  Printer e;
  struct Case {
    const char* request;
    int code;
  } cases[] = {
      {"{0;PagaCupom;CodMeioPagamento=-2 Valor=1,00;43}", 8000},
      {"{1;VendeItem;CodAliquota=00 CodProduto=\"1\" NomeProduto=\"X\" PrecoUnitario=1,000 Quantidade=1,000 "
       "Unidade=\"UN\";99}",
       11001},  // the length is wrong: a syntax error
      {"{2;AbreCupomFiscal;;19}", 0},
      {"{3;VendeItem;CodAliquota=09 CodProduto=\"1\" NomeProduto=\"X\" PrecoUnitario=1,000 Quantidade=1,000 "
       "Unidade=\"UN\";108}",
       8005},
      {"{4;PagaCupom;CodMeioPagamento=-2 Valor=1,00;43}", 8013},
      {"{5;PagaCupom;CodMeioPagamento=14 Valor=1,00;43}", 8014},
      {"{6;CancelaItemFiscal;NumItem=5;30}", 8044},
      {"{7;AbreGerencial;CodGerencial=00;32}", 8000},
  };
  for (const Case& c : cases) {
    const std::string reply = e.ask(c.request);
    ASSERT_GE(reply.size(), 5u) << c.request;
    const size_t a = reply.find(';'), b = reply.find(';', a + 1);
    EXPECT_EQ(std::stoi(reply.substr(a + 1, b - a - 1)), c.code) << c.request << " -> " << reply;
  }
  // Every refusal of the fiscal half has a code of the family's table.
  for (int i = 1; i <= static_cast<int>(FiscalError::MemoryWrite); ++i)
    EXPECT_GT(FiscNETPrinter::codeOf(static_cast<FiscalError>(i)), 0) << i;
}

TEST(EmulatorFiscNET, ReportsReadBackOverTheLine) {
  Printer e;
  EXPECT_EQ(e.ask("{0;EmiteLeituraX;Destino=\"S\";28}"), "{0;0;;5}");
  std::string all;
  for (int seq = 1; seq < 50; ++seq) {
    const std::string req =
        "{" + std::to_string(seq) + ";LeImpressao;;" + std::to_string(std::to_string(seq).size() + 14) + "}";
    const std::string r = e.ask(req);
    const size_t at = r.find("TextoImpressao=\"");
    ASSERT_NE(at, std::string::npos) << r;
    const std::string piece = r.substr(at + 16, r.rfind('"') - at - 16);
    if (piece.empty()) break;
    all += piece;
  }
  EXPECT_NE(all.find("COO"), std::string::npos) << all;
  EXPECT_EQ(e.core->counters().coo, 0);  // read back, not printed
}

TEST(EmulatorFiscNET, TheCodecFromThePrintersSide) {
  namespace fn = tarvion::emulator::fiscnet;
  EXPECT_EQ(fn::money(123456), "1.234,56");
  EXPECT_EQ(fn::money(-5), "-0,05");
  EXPECT_EQ(fn::money(100000000), "1.000.000,00");
  int64_t v = 0;
  ASSERT_TRUE(fn::parseDecimal("-1,5", 2, v));
  EXPECT_EQ(v, -150);
  ASSERT_TRUE(fn::parseDecimal("3,000", 3, v));
  EXPECT_EQ(v, 3000);
  EXPECT_FALSE(fn::parseDecimal("1,234", 2, v));
  EXPECT_FALSE(fn::parseDecimal("1.5", 2, v));
  const ByteArray reply = fn::buildReply(3, 0, {"ValorInteiro=17"});
  EXPECT_EQ(std::string(reply.begin(), reply.end()), "{3;0;ValorInteiro=17;20}");
  fn::Request req;
  const std::string in = "{9;DefineNaoFiscal;NomeNaoFiscal=\"A \\\"B\\\\\" TipoNaoFiscal=T;58}";
  ASSERT_EQ(fn::parseRequest(reinterpret_cast<const uint8_t*>(in.data()), in.size(), req), fn::FrameState::Frame);
  EXPECT_FALSE(req.syntaxError);
  EXPECT_EQ(req.seq, 9);
  EXPECT_EQ(req.get("NomeNaoFiscal"), "A \"B\\");
  EXPECT_EQ(req.get("TipoNaoFiscal"), "T");
}

TEST(EmulatorFiscNET, EveryFiscNETModelHasAVirtualPrinter) {
  int count = 0;
  for (const caps::ModelRow& r : caps::fiscalModels()) {
    if (r.family != caps::Family::FiscNET) continue;
    ++count;
    std::string err;
    auto p = makePrinter(r.number, "", "", &err);
    ASSERT_NE(p, nullptr) << r.name << ": " << err;
    EXPECT_EQ(p->modelName(), r.name);
    EXPECT_NE(dynamic_cast<FiscNETPrinter*>(p.get()), nullptr) << r.name;
    EXPECT_EQ(p->hardware().checkStation, r.canReadCheck) << r.name;
  }
  EXPECT_EQ(count, 9);
}

TEST(EmulatorFiscNET, BytesThatCannotBeOneCommandAreNotKept) {
  Printer e;
  // A frame whose quoted text never closes: 300 long sends of it are held no
  // further than the longest command a face takes.
  const std::string chunk = "{0;ImprimeTexto;TextoLivre=\"" + std::string(70000, 'a');
  for (int i = 0; i < 300; ++i) {
    e.ask(chunk);
    ASSERT_LE(e.p->pendingBytes(), VirtualPrinter::kLargestCommand) << i;
  }
  // The line is usable again.
  EXPECT_EQ(e.ask("{0;LeInteiro;NomeInteiro=\"COO\";30}"), "{0;0;ValorInteiro=0;19}");
}
