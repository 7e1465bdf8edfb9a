// A command that may have reached the printer is written once. For every
// family with a virtual printer, each sale command meets an odd, a late, a cut
// and a garbled answer: the command fails as one that may have run, the wire
// shows its frame once, and the line serves the next command. Simulated clock.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/exchange.h"
#include "core/text.h"
#include "driver_port.h"
#include "drivers/bematech/CBematech.h"
#include "drivers/cv2009/CECFCV2009.h"
#include "drivers/fiscnet/CFiscNET.h"
#include "emulator/printers.h"
#include "tap_face.h"

using namespace tarvion;
using namespace tarvion::emulator;
using exchange::Outcome;
using text::cp;

namespace {

using Frames = std::vector<ByteArray>;

// The frames a host wrote, cut by each protocol's own framing.
Frames bematechFrames(const ByteArray& in) {
  Frames f;
  for (size_t i = 0; i + 3 <= in.size();) {
    if (in[i] != 0x02) {
      ++i;
      continue;
    }
    const size_t end = i + 3 + (in[i + 1] | in[i + 2] << 8);
    f.emplace_back(in.begin() + static_cast<long>(i), in.begin() + static_cast<long>(std::min(end, in.size())));
    i = end;
  }
  return f;
}
Frames fiscnetFrames(const ByteArray& in) {
  Frames f;
  size_t at = 0;
  for (size_t i = 0; i < in.size(); ++i)
    if (in[i] == '}') {
      f.emplace_back(in.begin() + static_cast<long>(at), in.begin() + static_cast<long>(i + 1));
      at = i + 1;
    }
  return f;
}
// Framed commands only: ENQ and SYN ask for an answer and change nothing.
Frames cv2009Frames(const ByteArray& in) {
  Frames f;
  for (size_t i = 0; i < in.size();) {
    if (in[i] == 0x05) {
      i += 2;
    } else if (in[i] == 0x01 && i + 6 <= in.size()) {
      const size_t end = i + 6 + (in[i + 4] | in[i + 5] << 8) + 1;
      f.emplace_back(in.begin() + static_cast<long>(i), in.begin() + static_cast<long>(std::min(end, in.size())));
      i = end;
    } else {
      ++i;
    }
  }
  return f;
}

struct Family {
  const char* name;
  int model;
  std::function<std::unique_ptr<CECFBase>()> make;
  Frames (*frames)(const ByteArray&);
  // What the driver says of an answer that does not start as its protocol's.
  const char* oddMessage;
};

const Family kFamilies[] = {
    {"Bematech", 1, [] { return std::make_unique<CBematech>(); }, bematechFrames, "Resposta inválida da impressora."},
    {"FiscNET", 19, [] { return std::make_unique<CFiscNET>(); }, fiscnetFrames, "Resposta inválida da impressora."},
    {"2009 set", 54, [] { return std::make_unique<CECFCV2009>(1); }, cv2009Frames, "Erro de comunicação."},
};

// Between the wire and the printer: while armed, every write of the host is
// answered with stray bytes first, ahead of the printer's own answer.
class Stray final : public PrinterFace {
 public:
  explicit Stray(std::shared_ptr<PrinterFace> inner) : inner_(std::move(inner)) {}
  void receive(const uint8_t* data, size_t n, ReplySink& out) override {
    if (!armed.empty()) out.send(armed, 0);
    inner_->receive(data, n, out);
  }
  void lineOpened() override { inner_->lineOpened(); }
  void lineClosed() override { inner_->lineClosed(); }
  std::string modelName() const override { return inner_->modelName(); }
  ByteArray armed;

 private:
  std::shared_ptr<PrinterFace> inner_;
};

struct Line {
  static constexpr int kPort = 781;
  std::shared_ptr<VirtualPrinter> printer;
  std::shared_ptr<Stray> stray;
  std::shared_ptr<testsupport::Tap> tap;
  std::shared_ptr<VirtualDevice> dev;
  std::unique_ptr<CECFBase> d;

  explicit Line(const Family& f) {
    printer = makePrinter(f.model, "", "");
    stray = std::make_shared<Stray>(printer);
    tap = std::make_shared<testsupport::Tap>(stray);
    dev = makeVirtualDevice(tap);
    ports::attachVirtual(kPort, dev);
    d = f.make();
    testsupport::usePort(*d, kPort);
  }
  ~Line() {
    d->CloseComm();
    ports::detachVirtual(kPort);
  }
};

enum class Fault { Odd, Late, Cut, Garbled };

struct Sale {
  const char* name;
  std::function<bool(CECFBase&)> before;  // brings the printer to the command
  std::function<BOOL(CECFBase&)> command;
};

bool openWithItem(CECFBase& d) {
  return d.AbreCupomFiscal() && d.RegistraItemFiscal("1", "CAFE", "UN", 18.0, 1.0, 10.0, 0.0);
}

const Sale kSales[] = {
    {"AbreCupomFiscal", [](CECFBase&) { return true; }, [](CECFBase& d) { return d.AbreCupomFiscal(); }},
    {"RegistraItemFiscal", [](CECFBase& d) { return d.AbreCupomFiscal() != 0; },
     [](CECFBase& d) { return d.RegistraItemFiscal("2", "ARROZ", "UN", 18.0, 1.0, 5.0, 0.0); }},
    {"RegistraPagamento", [](CECFBase& d) { return openWithItem(d) && d.TotalizaCupomFiscalDesconto(0.0, 0); },
     [](CECFBase& d) { return d.RegistraPagamento("Dinheiro", 20.0); }},
    {"FechaCupomFiscal",
     [](CECFBase& d) {
       return openWithItem(d) && d.TotalizaCupomFiscalDesconto(0.0, 0) && d.RegistraPagamento("Dinheiro", 20.0);
     },
     [](CECFBase& d) { return d.FechaCupomFiscal("OBRIGADO", 0); }},
    {"LeituraX", [](CECFBase&) { return true; }, [](CECFBase& d) { return d.LeituraX(); }},
};

}  // namespace

TEST(NeverTwice, AnUnreadableAnswerToASaleCommandFailsAsMayHaveRunWithOneFrame) {
  for (const Family& f : kFamilies) {
    for (const Sale& s : kSales) {
      for (Fault fault : {Fault::Odd, Fault::Late, Fault::Cut, Fault::Garbled}) {
        static const char* const kNames[] = {"odd", "late", "cut", "garbled"};
        SCOPED_TRACE(std::string(f.name) + " " + s.name + " " + kNames[static_cast<int>(fault)]);
        Line l(f);
        ASSERT_TRUE(l.d->OpenComm(1)) << l.d->strLastError;
        ASSERT_TRUE(s.before(*l.d)) << l.d->strLastError;
        l.d->nAnswerTimeout = 2000;
        // A read that got no answer: the line is fresh, as after the open.
        ASSERT_TRUE(l.printer->setFaults("noanswer,once"));
        BOOL open = kFalse;
        EXPECT_FALSE(l.d->CupomFiscalAberto(open));
        l.dev->clock().sleepMs(500);
        l.tap->clear();
        switch (fault) {
          case Fault::Odd:
            // Two stray bytes reach the host just after the frame goes out,
            // ahead of the printer's own answer.
            l.stray->armed = {0x20, 0x20};
            break;
          case Fault::Late:
            ASSERT_TRUE(l.printer->setFaults("slow=6000"));
            break;
          // Every answer, so that the sale command meets the fault whatever an
          // operation reads before it, and a reply that follows an
          // acknowledgement (the 2009 set's) is the one cut or garbled.
          case Fault::Cut:
            ASSERT_TRUE(l.printer->setFaults("short"));
            break;
          case Fault::Garbled:
            ASSERT_TRUE(l.printer->setFaults("garbage"));
            break;
        }
        EXPECT_FALSE(s.command(*l.d));
        EXPECT_EQ(l.d->lastOutcome, Outcome::MayHaveRun) << l.d->strLastError;
        EXPECT_FALSE(l.d->strLastError.empty());
        if (fault == Fault::Odd) {
          EXPECT_EQ(l.d->strLastError, cp(f.oddMessage));
        }
        const Frames written = f.frames(l.tap->in);
        ASSERT_FALSE(written.empty());
        EXPECT_EQ(std::set<ByteArray>(written.begin(), written.end()).size(), written.size())
            << "a frame was written twice";
        // Whatever is left of that answer (the late one arrives while the
        // host goes on) is drained before the next command, which works;
        // nothing is resent.
        l.printer->clearFaults();
        l.stray->armed.clear();
        l.dev->clock().sleepMs(15000);
        EXPECT_TRUE(l.d->CupomFiscalAberto(open)) << l.d->strLastError;
        const Frames all = f.frames(l.tap->in);
        EXPECT_EQ(std::set<ByteArray>(all.begin(), all.end()).size(), all.size()) << "a frame was written twice";
      }
    }
  }
}

// Bematech: the answer starts with ACK or NAK; a reply after any other first
// byte is not status to decode (its bits would name printer errors that are
// not there).
TEST(NeverTwice, BematechGarbageIsNotStatus) {
  Line l(kFamilies[0]);
  ASSERT_TRUE(l.d->OpenComm(1)) << l.d->strLastError;
  struct Case {
    const char* name;
    ByteArray stray;
  } cases[] = {
      // Read as status, the bytes after it would say "clock error" and more.
      {"a blank", {0x20}},
      {"all bits", {0xFF, 0xFF, 0xFF}},
      {"STX", {0x02}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    l.d->ClearBuffers();
    l.stray->armed = c.stray;
    EXPECT_FALSE(l.d->LeituraX());
    EXPECT_EQ(l.d->strLastError, cp("Resposta inválida da impressora."));
    EXPECT_EQ(l.d->lastOutcome, Outcome::MayHaveRun);
    l.stray->armed.clear();
    // The next command drains what is left and works.
    BOOL open = kFalse;
    EXPECT_TRUE(l.d->CupomFiscalAberto(open)) << l.d->strLastError;
  }
}
