// CEpson on the virtual wire (simulated clock) against a scripted printer: the
// bytes each side puts on the line, the ACK after a reply, a NAK, a late reply
// before ours, a reply that never comes or comes garbled, the return codes,
// the closing message's lines and the refusals that send nothing.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "core/text.h"
#include "core/virtual_wire.h"
#include "driver_port.h"
#include "drivers/epson/CEpson.h"
#include "emulator/printer_face.h"

using namespace tarvion;
using namespace tarvion::emulator;
using exchange::Outcome;
using text::cp;

namespace {

std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s += static_cast<char>(c);
  return s;
}

// The printer's answer to one request, as the script gives it.
struct Answer {
  std::string raw;          // sent as it is when not empty (no ACK added)
  int cls = 0, detail = 0;  // the return code
  std::vector<std::string> results;
  bool nak = false;
  bool silent = false;
  std::string lateBefore;  // a late reply of another sequence sent first
};

// The first n bytes of a request after its sequence byte, each ESC dropped
// before the byte it guards.
std::string head(const std::string& frame, size_t n) {
  std::string h;
  for (size_t i = 2; i < frame.size() && h.size() < n; ++i) {
    if (frame[i] == '\x1B' && i + 1 < frame.size()) ++i;
    h += frame[i];
  }
  return h;
}

// The printer's side of a frame, written here apart from the driver's codec.
std::string replyFrame(int seq, const std::string& code, int cls, int detail, const std::vector<std::string>& results) {
  std::string f = bytes({0x02, seq});
  for (const char c : code) {
    if (c == 0x02 || c == 0x03 || c == 0x1A || c == 0x1B || c == 0x1C) f += '\x1B';
    f += c;
  }
  f += bytes({0x1C, 0x00, 0x00, 0x1C, 0x00, 0x00, 0x1C});
  for (int b : {cls, detail}) {
    if (b == 0x02 || b == 0x03 || b == 0x1A || b == 0x1B || b == 0x1C) f += '\x1B';
    f += static_cast<char>(b);
  }
  for (const std::string& r : results) f += "\x1C" + r;
  f += '\x03';
  unsigned sum = 0;
  for (char c : f) sum += static_cast<uint8_t>(c);
  return f + text::format("%04X", sum & 0xFFFF);
}

Answer raw(std::string bytes) {
  Answer a;
  a.raw = std::move(bytes);
  return a;
}
Answer rc(int cls, int detail, std::vector<std::string> results = {}) {
  Answer a;
  a.cls = cls;
  a.detail = detail;
  a.results = std::move(results);
  return a;
}
Answer results(std::vector<std::string> fields) {
  return rc(0, 0, std::move(fields));
}
Answer nak() {
  Answer a;
  a.nak = true;
  return a;
}
Answer silent() {
  Answer a;
  a.silent = true;
  return a;
}
Answer lateFirst(std::string late) {
  Answer a;
  a.lateBefore = std::move(late);
  return a;
}

class ScriptFace final : public PrinterFace {
 public:
  void receive(const uint8_t* data, size_t n, ReplySink& out) override {
    buf_.append(reinterpret_cast<const char*>(data), n);
    for (;;) {
      while (!buf_.empty() && buf_[0] != '\x02') {
        if (buf_[0] == '\x06') ++acks;
        buf_.erase(0, 1);
      }
      size_t end = std::string::npos;
      for (size_t i = 1; i < buf_.size(); ++i) {
        if (buf_[i] == '\x1B') {
          ++i;
        } else if (buf_[i] == '\x03') {
          if (i + 5 <= buf_.size()) end = i + 5;
          break;
        }
      }
      if (end == std::string::npos) return;
      const std::string frame = buf_.substr(0, end);
      buf_.erase(0, end);
      requests.push_back(frame);
      if (answers.empty()) continue;
      Answer a = answers.front();
      answers.pop_front();
      if (a.silent) continue;
      if (a.nak) {
        out.send(ByteArray{0x15}, 0);
        continue;
      }
      if (!a.raw.empty()) {
        out.send(ByteArray(a.raw.begin(), a.raw.end()), 0);
        continue;
      }
      const int seq = static_cast<uint8_t>(frame[1]);
      std::string reply = "\x06" + a.lateBefore + replyFrame(seq, head(frame, 2), a.cls, a.detail, a.results);
      const size_t half = reply.size() / 2;
      out.send(ByteArray(reply.begin(), reply.begin() + static_cast<long>(half)), 0);
      out.send(ByteArray(reply.begin() + static_cast<long>(half), reply.end()), 20);
    }
  }
  std::string modelName() const override { return "SCRIPT"; }
  std::deque<Answer> answers;
  std::vector<std::string> requests;
  int acks = 0;

 private:
  std::string buf_;
};

std::string code(int a, int b, int c, int d) {
  return bytes({a, b, 0x1C, c, d});
}

struct Rig {
  static constexpr int kPort = 761;
  std::shared_ptr<ScriptFace> face = std::make_shared<ScriptFace>();
  std::shared_ptr<VirtualDevice> dev;
  CEpson d;
  Rig() {
    dev = makeVirtualDevice(face);
    ports::attachVirtual(kPort, dev);
    testsupport::usePort(d, kPort);
    d.nAnswerTimeout = 2000;
    // Opening sends the two configuration commands.
    face->answers = {Answer{}, Answer{}};
    EXPECT_TRUE(d.OpenComm(0)) << d.strLastError;
    EXPECT_EQ(codes(), (std::vector<std::string>{code(0x05, 0x85, 0, 0), code(0x07, 0x55, 0, 0)}));
    face->requests.clear();
    face->acks = 0;
    d.arTaxes = {"TA-18,00%", "TB-07,00%"};
    d.arPaymentTypes = {"DINHEIRO", "CARTAO"};
  }
  ~Rig() {
    d.CloseComm();
    ports::detachVirtual(kPort);
  }
  // The command code and extension bytes of each request.
  std::vector<std::string> codes() const {
    std::vector<std::string> c;
    for (const std::string& r : face->requests) c.push_back(head(r, 5));
    return c;
  }
};

}  // namespace

TEST(EpsonDriver, TheBytesOnTheLineForEachSide) {
  Rig r;
  // The echoed code escapes its 0x02 too.
  const std::string reply =
      bytes({0x02, 0x83, 0x0A, 0x1B, 0x02, 0x1C, 0x00, 0x00, 0x1C, 0x00, 0x01, 0x1C, 0x00, 0x00, 0x1C}) +
      "0000000000700\x1C"
      "001\x03"
      "0444";
  r.face->answers = {raw("\x06" + reply)};
  ASSERT_TRUE(r.d.RegistraItemFiscal("789.123.456-78/9012", cp("CAFÉ"), "UN", 18, 2, 3.5, 0)) << r.d.strLastError;
  ASSERT_EQ(r.face->requests.size(), 1u);
  // The code's 0x02 goes after an ESC.
  EXPECT_EQ(r.face->requests[0], bytes({0x02, 0x83, 0x0A, 0x1B, 0x02, 0x1C, 0x00, 0x00, 0x1C}) +
                                     "78912345678901\x1C"
                                     "CAF\x90\x1C"
                                     "0002000\x1C"
                                     "UN \x1C"
                                     "00000350\x1C"
                                     "01T1800\x03"
                                     "0ACE");
  EXPECT_EQ(r.face->acks, 1);  // the reply was acknowledged
  EXPECT_EQ(r.d.GetLastItemNumber(), 1);
  EXPECT_EQ(r.d.LastItemLabel(), "01T1800");

  // A discount after the item goes as its own command, positive: 0004.
  r.face->requests.clear();
  r.face->answers = {Answer{}, Answer{}};
  ASSERT_TRUE(r.d.RegistraItemFiscal("1", "A", "", -1, 1, 1, 0.5)) << r.d.strLastError;
  ASSERT_EQ(r.face->requests.size(), 2u);
  EXPECT_NE(r.face->requests[0].find("\x1C"
                                     "PC \x1C"),
            std::string::npos);
  EXPECT_NE(r.face->requests[0].find("\x1C"
                                     "F1\x03"),
            std::string::npos);
  EXPECT_EQ(r.face->requests[1], bytes({0x02, 0x85, 0x0A, 0x04, 0x1C, 0x00, 0x04, 0x1C}) +
                                     "00000000050\x03"
                                     "02E9");
  EXPECT_FALSE(r.d.ErroRegistroDescontoItem());
}

TEST(EpsonDriver, WhatBecomesOfACommandOnAnOddLine) {
  struct Case {
    const char* name;
    Answer answer;
    bool ok;
    const char* message;
    Outcome outcome;
  } cases[] = {
      {"nak", nak(), false, "Timeout enviando comando para a impressora.", Outcome::Refused},
      {"silent", silent(), false, "Timeout aguardando resposta da impressora.", Outcome::MayHaveRun},
      {"ack only", raw("\x06"), false, "Timeout aguardando resposta da impressora.", Outcome::MayHaveRun},
      {"late reply only", raw("\x06" + replyFrame(0x10, bytes({0x00, 0x01}), 0, 0, {})), false,
       "Timeout aguardando resposta da impressora.", Outcome::MayHaveRun},
      {"bad checksum", raw("\x06" + replyFrame(0x83, bytes({0x00, 0x01}), 0, 0, {}).substr(0, 14) + "FFFF"), false,
       "Resposta inválida da impressora.", Outcome::MayHaveRun},
      {"cut short", raw("\x06" + replyFrame(0x83, bytes({0x00, 0x01}), 0, 0, {}).substr(0, 9)), false,
       "Resposta inválida da impressora.", Outcome::MayHaveRun},
      {"no ACK first", raw(replyFrame(0x83, bytes({0x00, 0x01}), 0, 0, {})), true, "", Outcome::Done},
      {"late reply first", lateFirst(replyFrame(0x80, bytes({0x00, 0x01}), 0x01, 0x01, {})), true, "", Outcome::Done},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    r.face->answers = {c.answer};
    const int64_t before = r.dev->clock().nowUs();
    EXPECT_EQ(r.d.ECFOnline() != 0, c.ok);
    EXPECT_EQ(r.d.strLastError, cp(c.message));
    EXPECT_EQ(r.d.lastOutcome, c.outcome);
    // Written once, whatever came back, and never past the answer time-out.
    EXPECT_EQ(r.face->requests.size(), 1u);
    EXPECT_LE(r.dev->clock().nowUs() - before, 2600 * 1000);
  }
}

TEST(EpsonDriver, ReturnCodesAndTheirMessages) {
  struct Case {
    int cls, detail;
    bool ok;
    const char* message;
  } cases[] = {
      {0x00, 0x00, true, ""},
      {0xFF, 0xFF, false, "Erro desconhecido."},
      {0x0B, 0x01, false, ""},
      {0x0A, 0x14, false, "Último cupom fiscal não encontrado."},
      {0x02, 0x03, false, "Campos em excesso."},
  };
  Rig r;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    r.face->answers = {rc(c.cls, c.detail)};
    EXPECT_EQ(r.d.CutPaper() != 0, c.ok);
    EXPECT_EQ(r.d.strLastError, cp(c.message));
    EXPECT_EQ(r.d.nErrorClass, c.cls);
    EXPECT_EQ(r.d.nErrorDetail, c.detail);
    EXPECT_EQ(r.d.lastOutcome, c.ok ? Outcome::Done : Outcome::Refused);
  }
}

TEST(EpsonDriver, ClosingAReceipt) {
  Rig r;
  r.face->answers = {Answer{}, Answer{}, Answer{}};
  std::string message;
  for (int i = 1; i <= 10; ++i) message += "LINHA " + std::to_string(i) + "\r\n";
  ASSERT_TRUE(r.d.FechaCupomFiscal(message, 0)) << r.d.strLastError;
  ASSERT_EQ(r.face->requests.size(), 3u);
  EXPECT_EQ(r.codes(),
            (std::vector<std::string>{code(0x0A, 0x22, 0, 0), code(0x0A, 0x23, 0, 0), code(0x0A, 0x06, 0x00, 0x01)}));
  const std::string& closing = r.face->requests[0];
  EXPECT_EQ(closing.substr(7, closing.size() - 12),
            "\x1CLINHA 1\x1CLINHA 2\x1CLINHA 3\x1CLINHA 4\x1CLINHA 5\x1CLINHA 6\x1CLINHA 7\x1CLINHA 8");

  // A short message is padded to eight fields; a second receipt asked for
  // since the opening ends with 000D.
  r.face->requests.clear();
  r.face->answers = {Answer{}, Answer{}, Answer{}};
  ASSERT_TRUE(r.d.PrintSecondReceipt());
  ASSERT_TRUE(r.d.FechaCupomFiscal("OBRIGADO", 0)) << r.d.strLastError;
  EXPECT_EQ(r.face->requests[0].substr(7, r.face->requests[0].size() - 12), "\x1COBRIGADO\x1C\x1C\x1C\x1C\x1C\x1C\x1C");
  EXPECT_EQ(r.codes()[2], code(0x0A, 0x06, 0x00, 0x0D));

  // The first refusal ends the operation.
  r.face->requests.clear();
  r.face->answers = {rc(0x0A, 0x09)};
  EXPECT_FALSE(r.d.FechaCupomFiscal("X", 0));
  EXPECT_EQ(r.face->requests.size(), 1u);
  EXPECT_EQ(r.d.strLastError, cp("Registro de pagamento incompleto."));
}

TEST(EpsonDriver, CancellingFallsBackToTheNonFiscalDocument) {
  struct Case {
    int cls, detail;
    size_t frames;
  } cases[] = {{0x01, 0x02, 2}, {0x0A, 0x14, 2}, {0x0A, 0x12, 1}};
  for (const Case& c : cases) {
    Rig r;
    r.face->answers = {rc(c.cls, c.detail), Answer{}};
    EXPECT_EQ(r.d.CancelaCupomFiscal() != 0, c.frames == 2);
    ASSERT_EQ(r.face->requests.size(), c.frames);
    EXPECT_EQ(r.codes()[0], code(0x0A, 0x18, 0x00, 0x08));
    if (c.frames == 2) {
      EXPECT_EQ(r.codes()[1], code(0x0E, 0x18, 0x00, 0x08));
    }
  }
  // No answer to the first: it may have run, and nothing more is sent.
  Rig r;
  r.face->answers = {silent()};
  EXPECT_FALSE(r.d.CancelaCupomFiscal());
  EXPECT_EQ(r.face->requests.size(), 1u);
}

TEST(EpsonDriver, RefusalsSendNothing) {
  Rig r;
  struct Case {
    const char* name;
    std::function<BOOL(CEpson&)> op;
    const char* message;
  } cases[] = {
      {"unknown rate", [](CEpson& d) { return d.RegistraItemFiscal("1", "A", "UN", 12, 1, 1, 0); },
       "Alíquota não cadastrada na impressora."},
      {"negative rate", [](CEpson& d) { return d.RegistraItemFiscal("1", "A", "UN", -3, 1, 1, 0); },
       "Alíquota não cadastrada na impressora."},
      {"quantity too wide", [](CEpson& d) { return d.RegistraItemFiscal("1", "A", "UN", 18, 10000, 1, 0); },
       "Quantidade"},
      {"unknown payment", [](CEpson& d) { return d.RegistraPagamento("CHEQUE", 1); },
       "Forma de pagamento não cadastrada na impressora."},
      {"payment too wide", [](CEpson& d) { return d.RegistraPagamento("DINHEIRO", 1e12); }, "Valor"},
      {"item number too wide", [](CEpson& d) { return d.CancelaItemFiscal(1000, "", 0, 0, 0, 0); },
       "N\xC3\xBAmero do item"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(c.op(r.d));
    EXPECT_EQ(r.d.strLastError.rfind(cp(c.message), 0), 0u) << r.d.strLastError;
    EXPECT_TRUE(r.face->requests.empty());
  }
}

TEST(EpsonDriver, RegistersFromTheirResultFields) {
  Rig r;
  r.face->answers = {results({"0002", "000123", "000100", "000010", "000003", "000004", "0007"}),
                     results({"123456789", "000", "0000000009950"}), results({"", "04122026", "221005"}),
                     results({"TA1800", "TB0700", "", "", "", "", "", "", "", "", "", "", "", ""})};
  std::string coo;
  ASSERT_TRUE(r.d.RetornaNumeroCupom(coo)) << r.d.strLastError;
  EXPECT_EQ(coo, "000123");
  EXPECT_DOUBLE_EQ(r.d.GetSaleTotal(), 99.5);
  DateTime dt;
  ASSERT_TRUE(r.d.ReadDateTime(dt)) << r.d.strLastError;
  DateParts p;
  ASSERT_TRUE(dt.parts(p));
  EXPECT_EQ(p.day, 4);
  EXPECT_EQ(p.month, 12);
  EXPECT_EQ(p.year, 2026);
  EXPECT_EQ(p.hour, 22);
  EXPECT_EQ(p.second, 5);
  ASSERT_TRUE(r.d.LoadTaxes()) << r.d.strLastError;
  EXPECT_EQ(r.d.arTaxes, (std::vector<std::string>{"TA-18,00%", "TB-07,00%"}));
  // Too few fields: a failed read, 0 for a total.
  r.face->answers = {results({"1"}), results({"1", "2"})};
  EXPECT_FALSE(r.d.RetornaNumeroCupom(coo));
  EXPECT_DOUBLE_EQ(r.d.GetSaleTotal(), 0.0);
  r.face->answers = {results({"1", "2", "3"})};
  EXPECT_FALSE(r.d.LoadTaxes());
  EXPECT_EQ(r.d.arTaxes.size(), 2u);
}

// The readings sent to the port are the printed ones' frames; the reading is
// the reply's result fields, and a refused one leaves the host's text alone.
TEST(EpsonDriver, SerialReadingsAreTheReplysResultFields) {
  Rig r;
  r.face->answers = {results({"LEITURA DA MEMORIA FISCAL", "CRZ 0001", "TOTAL 10,00"}), results({"RESUMO"})};
  std::string text = "antes";
  ASSERT_TRUE(
      r.d.LeituraMemoriaFiscalSerial(DateTime::fromParts(2026, 12, 1), DateTime::fromParts(2026, 12, 4), text, kFalse))
      << r.d.strLastError;
  EXPECT_EQ(text, "LEITURA DA MEMORIA FISCAL\r\nCRZ 0001\r\nTOTAL 10,00");
  ASSERT_TRUE(r.d.LeituraMFSerialReducao(1, 3, text, kTrue)) << r.d.strLastError;
  EXPECT_EQ(text, "RESUMO");
  EXPECT_EQ(r.codes(), (std::vector<std::string>{code(0x09, 0x10, 0x00, 0x00), code(0x09, 0x10, 0x00, 0x03)}));
  r.face->answers = {rc(0x02, 0x01, {"NAO"})};
  text = "antes";
  EXPECT_FALSE(r.d.LeituraMFSerialReducao(1, 3, text, kFalse));
  EXPECT_EQ(text, "antes");
}
