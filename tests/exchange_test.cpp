// The shared exchange machinery on the virtual wire: the first byte of an
// answer, where a reply ends, attempts and pauses, polls with a deadline, and
// the drain of a line that keeps talking. Simulated clock throughout.
#include "core/exchange.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "core/ecf_base.h"
#include "core/text.h"
#include "core/virtual_wire.h"
#include "driver_port.h"

using namespace tarvion;
using namespace tarvion::exchange;
using text::cp;

namespace {

const FirstByteRules kRules{"\x06", "\x15", "\x11"};

// A plain driver whose command cycle the tests reach.
struct CycleDriver : CECFBase {
  using CECFBase::ExchangeCommand;
};

// A plain driver on a virtual port whose peer answers every write with the
// next scripted reply (bytes, delay in ms).
struct Line {
  static constexpr int kPort = 31;
  std::deque<std::pair<std::string, uint32_t>> replies;
  std::shared_ptr<ScriptedPeer> peer;
  std::shared_ptr<VirtualDevice> dev;
  CycleDriver d;
  Line() {
    peer = std::make_shared<ScriptedPeer>([this](const ByteArray&, VirtualLink& link) {
      if (replies.empty()) return;
      link.send(replies.front().first, replies.front().second);
      replies.pop_front();
    });
    dev = std::make_shared<VirtualDevice>(peer);
    ports::attachVirtual(kPort, dev);
    testsupport::usePort(d, kPort);
    EXPECT_EQ(d.OpenComm(0), 1);
  }
  ~Line() {
    d.CloseComm();
    ports::detachVirtual(kPort);
  }
  int64_t nowMs() { return dev->clock().nowUs() / 1000; }
  void ask() {
    PortExchange x(d);
    ASSERT_EQ(x.Write(ByteArray{'?'}, Purge::Both), Written::Ok);
  }
};

std::string str(const ByteArray& b) {
  return std::string(b.begin(), b.end());
}

size_t headerLength(const uint8_t* data, size_t n) {
  // One length byte, then that many data bytes.
  return n ? 1u + data[0] : 0u;
}

}  // namespace

TEST(Exchange, FirstByteOfTheAnswer) {
  struct Case {
    const char* name;
    std::string reply;
    uint32_t delayMs;
    First expected;
    int64_t elapsedMs;
  };
  const Case cases[] = {
      {"ack", "\x06", 0, First::Ack, 0},       {"nak", "\x15", 0, First::Nak, 0},
      {"busy", "\x11", 40, First::Busy, 40},   {"data", "\x01rest", 0, First::Data, 0},
      {"silence", "", 0, First::Failed, 1000}, {"too late", "\x06", 1500, First::Failed, 1000},
  };
  for (const Case& c : cases) {
    Line l;
    if (!c.reply.empty()) l.replies.push_back({c.reply, c.delayMs});
    l.ask();
    const int64_t start = l.nowMs();
    uint8_t b = 0;
    PortExchange x(l.d);
    EXPECT_EQ(x.AwaitFirst(1000, kRules, b), c.expected) << c.name;
    EXPECT_EQ(l.nowMs() - start, c.elapsedMs) << c.name;
    if (c.expected == First::Failed)
      EXPECT_EQ(l.d.strLastError, "Timeout aguardando resposta da impressora.") << c.name;
    else
      EXPECT_EQ(b, static_cast<uint8_t>(c.reply[0])) << c.name;
  }
  // Without a port the wait does not even start.
  CECFBase closed;
  uint8_t b = 0;
  EXPECT_EQ(PortExchange(closed).AwaitFirst(1000, kRules, b), First::Failed);
  EXPECT_EQ(closed.strLastError, cp("(6)Falha na comunicação com o ECF."));
}

TEST(Exchange, WhereAReplyEnds) {
  // The reply is already on the line; the port's read time-outs are 200 ms.
  struct Case {
    const char* name;
    ReplyEnd end;
    std::string reply;
    std::string expected;
    int64_t elapsedMs;
  };
  const std::string frame = "\x02HELLO\x03Z";
  const Case cases[] = {
      // Without a rule every reply costs the two 200 ms reads that find the line idle.
      {"idle", ReplyEnd::idle(), frame, frame, 400},
      {"known length", ReplyEnd::ofLength(8), frame, frame, 0},
      {"terminator and check byte", ReplyEnd::endingWith("\x03", 1), frame, frame, 0},
      {"length field", ReplyEnd::withLengthField(headerLength),
       "\x05"
       "ABCDE",
       "\x05"
       "ABCDE",
       0},
      // More than the rule says is already waiting: every byte is kept.
      {"longer than the length", ReplyEnd::ofLength(3), frame, frame, 400},
      // Shorter: the read that comes back short hands over to the idle rule.
      {"shorter than the length", ReplyEnd::ofLength(20), frame, frame, 400},
      {"terminator never comes", ReplyEnd::endingWith("\x04"), frame, frame, 200},
  };
  for (const Case& c : cases) {
    Line l;
    l.replies.push_back({c.reply, 0});
    l.ask();
    const int64_t start = l.nowMs();
    ByteArray into{'>'};  // what is already in the buffer stays and does not count
    PortExchange x(l.d);
    EXPECT_EQ(x.ReadReply(into, c.end), 1) << c.name;
    EXPECT_EQ(str(into), ">" + c.expected) << c.name;
    EXPECT_EQ(l.nowMs() - start, c.elapsedMs) << c.name;
    // A reply that ended on the idle gap says so, with what its reading took.
    EXPECT_EQ(x.EndedOnIdle(), c.elapsedMs > 0) << c.name;
    if (x.EndedOnIdle()) {
      EXPECT_EQ(x.IdleReadUs(), c.elapsedMs * 1000) << c.name;
      EXPECT_EQ(x.IdleBytes(), c.expected.size()) << c.name;
    }
  }
}

TEST(Exchange, ARuleEndsAPacedReplyWithItsLastByte) {
  // At 9600 baud about a millisecond per byte: a terminator or a length field
  // ends the read with the last byte, without the 200 ms idle read.
  const std::string reply = std::string(1, static_cast<char>(40)) + std::string(40, 'x');
  for (const ReplyEnd& end : {ReplyEnd::withLengthField(headerLength), ReplyEnd::ofLength(41)}) {
    Line l;
    l.dev->setBaud(9600);
    l.replies.push_back({reply, 0});
    l.ask();
    const int64_t start = l.nowMs();
    ByteArray into;
    PortExchange x(l.d);
    ASSERT_EQ(x.ReadReply(into, end), 1);
    EXPECT_EQ(into.size(), 41u);
    EXPECT_LT(l.nowMs() - start, 50);
  }
  Line l;
  l.dev->setBaud(9600);
  l.replies.push_back({std::string(30, 'y') + "\r\n", 0});
  l.ask();
  const int64_t start = l.nowMs();
  ByteArray into;
  ASSERT_EQ(PortExchange(l.d).ReadReply(into, ReplyEnd::endingWith("\r\n")), 1);
  EXPECT_EQ(into.size(), 32u);
  EXPECT_LT(l.nowMs() - start, 40);
}

TEST(Exchange, AReplyHasALimitAndACutCableFails) {
  Line l;
  l.replies.push_back({std::string(3000, 'x'), 0});
  l.ask();
  ReplyEnd end = ReplyEnd::idle();
  end.maxBytes = 1000;
  ByteArray into;
  EXPECT_EQ(PortExchange(l.d).ReadReply(into, end), 0);
  EXPECT_EQ(l.d.strLastError, cp("Resposta da impressora maior que o tamanho máximo."));
  EXPECT_LE(into.size(), 1000u + PortExchange::kReadChunk);
  l.dev->cut();
  EXPECT_EQ(PortExchange(l.d).ReadReply(into, ReplyEnd::idle()), 0);
  EXPECT_EQ(l.d.strLastError.rfind("(1167)", 0), 0u);
}

TEST(Exchange, WritingAndTheLineBeforeIt) {
  Line l;
  VirtualLink link(*l.dev);
  PortExchange x(l.d);
  struct Case {
    bool cts, dsr, dsrAloneIsOff;
    LineFault expected;
  };
  const Case cases[] = {
      {false, false, false, LineFault::None},     {false, true, false, LineFault::None},
      {false, true, true, LineFault::PrinterOff}, {true, false, false, LineFault::PrinterOff},
      {true, true, false, LineFault::CableOut},
  };
  for (const Case& c : cases) {
    link.setHolds(c.cts, c.dsr);
    EXPECT_EQ(x.CheckLine(c.dsrAloneIsOff), c.expected) << c.cts << c.dsr << c.dsrAloneIsOff;
  }
  link.setHolds(true, false);
  EXPECT_EQ(x.CheckLine(), LineFault::PrinterOff);
  EXPECT_EQ(l.d.strLastError,
            cp("Erro de comunicação. Verifique se a impressora está ligada e o cabo está conectado corretamente."));
  link.setHolds(false, false);
  // Purges: none, the receive side only, both.
  const int purges = l.dev->purges(), tx = l.dev->transmitPurges();
  EXPECT_EQ(x.Write(ByteArray{1}, Purge::None), Written::Ok);
  EXPECT_EQ(x.Write(ByteArray{2}, Purge::Receive), Written::Ok);
  EXPECT_EQ(x.Write(ByteArray{3}, Purge::Both), Written::Ok);
  EXPECT_EQ(l.dev->purges(), purges + 2);
  EXPECT_EQ(l.dev->transmitPurges(), tx + 1);
  EXPECT_EQ(l.dev->written().back(), 3);
  // Bytes that came before the command are gone after a purge of the receive side.
  link.send("stale");
  EXPECT_EQ(x.Write(ByteArray{4}, Purge::Receive), Written::Ok);
  LineStatus ls;
  ASSERT_TRUE(l.d.hPort->lineStatus(ls));
  EXPECT_EQ(ls.inQueue, 0u);
  l.dev->cut();
  EXPECT_EQ(x.Write(ByteArray{5}, Purge::None), Written::Failed);
  EXPECT_EQ(l.d.strLastError.rfind("(1167)", 0), 0u);
  EXPECT_EQ(x.CheckLine(), LineFault::StatusFailed);
}

TEST(Exchange, AttemptsPausesAndRebuiltFrames) {
  using O = Verdict;
  struct Case {
    const char* name;
    RetryPolicy policy;
    std::vector<O> answers;  // what each attempt comes to; the last repeats
    O expected;
    int attempts;
    int64_t pausedMs;
    int rebuilt;
  };
  const RetryPolicy sweda = RetryPolicy::tries(5).on(O::AskAgain, 1000).on(O::Refused, 2000).on(O::Resync, 1000);
  const Case cases[] = {
      {"first time", sweda, {O::Done}, O::Done, 1, 0, 0},
      {"refused then done", sweda, {O::Refused, O::AskAgain, O::Done}, O::Done, 3, 3000, 0},
      {"always refused", sweda, {O::Refused}, O::Refused, 5, 4 * 2000, 0},
      {"not a retry answer", sweda, {O::AskAgain, O::LineFault}, O::LineFault, 2, 1000, 0},
      {"one attempt only", RetryPolicy::tries(1).on(O::Refused, 2000), {O::Refused}, O::Refused, 1, 0, 0},
      {"asked again, new frames",
       RetryPolicy::tries(3).on(O::AskAgain, 100).rebuilding(),
       {O::AskAgain},
       O::AskAgain,
       3,
       200,
       2},
  };
  for (const Case& c : cases) {
    VirtualClock clock;
    int n = 0, rebuilt = 0;
    const int64_t start = clock.nowMs();
    const O o = runAttempts(
        clock, c.policy,
        [&](int attempt) {
          EXPECT_EQ(attempt, ++n) << c.name;
          return c.answers[std::min<size_t>(static_cast<size_t>(attempt - 1), c.answers.size() - 1)];
        },
        [&] { ++rebuilt; });
    EXPECT_EQ(o, c.expected) << c.name;
    EXPECT_EQ(n, c.attempts) << c.name;
    EXPECT_EQ(clock.nowMs() - start, c.pausedMs) << c.name;
    EXPECT_EQ(rebuilt, c.rebuilt) << c.name;
  }
  VirtualClock clock;
  int calls = 0;
  EXPECT_TRUE(retry(clock, 4, 250, [&] { return ++calls == 3; }));
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(clock.nowMs(), 1000 + 500);  // the clock starts at one second
  EXPECT_FALSE(retry(clock, 2, 250, [] { return false; }));
}

TEST(Exchange, PollsWithADeadlineAndAPrompt) {
  struct Case {
    const char* name;
    int readyAt;  // poll number that finds the state, 0 never
    bool giveUpAt3, sitOut;
    int againAnswers;  // how many times the prompt says "go on"
    PollEnd expected;
    int64_t minMs, maxMs;
    int prompts;
  };
  const Case cases[] = {
      {"ready at the fourth poll", 4, false, false, 0, PollEnd::Ready, 30, 30, 0},
      {"never ready", 0, false, false, 0, PollEnd::Timeout, 1000, 1010, 1},
      {"refused, reported at once", 0, true, false, 0, PollEnd::GaveUp, 20, 20, 0},
      {"refused, sits out the period", 0, true, true, 0, PollEnd::Timeout, 1000, 1000, 0},
      {"operator asks for more time", 0, false, false, 2, PollEnd::Timeout, 3000, 3030, 3},
      {"ready in the second period", 150, false, false, 1, PollEnd::Ready, 1490, 1500, 1},
  };
  for (const Case& c : cases) {
    VirtualClock clock;
    PollPolicy policy;
    policy.timeoutMs = 1000;
    policy.intervalMs = 10;
    policy.sitOutOnGiveUp = c.sitOut;
    int polls = 0, prompts = 0;
    const int64_t start = clock.nowMs();
    const PollEnd end = pollUntil(
        clock, policy,
        [&] {
          ++polls;
          if (c.readyAt && polls >= c.readyAt) return Poll::Ready;
          if (c.giveUpAt3 && polls == 3) return Poll::GiveUp;
          return Poll::NotYet;
        },
        [&] { return ++prompts <= c.againAnswers; });
    const int64_t elapsed = clock.nowMs() - start;
    EXPECT_EQ(end, c.expected) << c.name;
    EXPECT_GE(elapsed, c.minMs) << c.name;
    EXPECT_LE(elapsed, c.maxMs) << c.name;
    EXPECT_EQ(prompts, c.prompts) << c.name;
  }
}

TEST(Exchange, DrainStopsWhenIdleOrAtItsLimits) {
  struct Case {
    const char* name;
    size_t talk;  // bytes the line says, at 9600 baud
    DrainLimits limits;
    size_t minBytes, maxBytes;
    int64_t maxMs;
  };
  const Case cases[] = {
      {"quiet line", 0, {}, 0, 0, 200},
      {"a late reply", 50, {}, 50, 50, 400},
      {"never stops: time limit", 100000, {500, 1u << 20}, 400, 700, 800},
      {"never stops: byte limit", 100000, {60000, 1000}, 1000, 1000 + PortExchange::kReadChunk, 1500},
  };
  for (const Case& c : cases) {
    Line l;
    l.dev->setBaud(9600);
    VirtualLink link(*l.dev);
    if (c.talk) link.send(std::string(c.talk, 'z'));
    const int64_t start = l.nowMs();
    const size_t drained = PortExchange(l.d).Drain(c.limits);
    EXPECT_GE(drained, c.minBytes) << c.name;
    EXPECT_LE(drained, c.maxBytes) << c.name;
    EXPECT_LE(l.nowMs() - start, c.maxMs) << c.name;
  }
}

// One command through the cycle: the steps the plan asks for, the family's
// verdict, the attempts the policy allows, and the outcome a host is told.
TEST(Exchange, TheCommandCycleOutcomes) {
  using V = Verdict;
  struct Case {
    const char* name;
    std::vector<std::string> replies;  // one per write; silence past the end
    std::vector<V> verdicts;           // the family's judgement of each reply
    RetryPolicy policy;
    bool firstApart;
    V verdict;
    Outcome outcome;
    Step stoppedAt;
    size_t writes;
    std::string reply;  // what the last attempt left
  };
  const RetryPolicy once = RetryPolicy::tries(1);
  const RetryPolicy resync = RetryPolicy::tries(2).on(V::Resync, 0);
  const RetryPolicy five = RetryPolicy::tries(5).on(V::AskAgain, 0);
  const Case cases[] = {
      {"answered", {"\x03ok!"}, {V::Done}, once, false, V::Done, Outcome::Done, Step::Judged, 1, "\x03ok!"},
      {"refused", {"\x03no!"}, {V::Refused}, once, false, V::Refused, Outcome::Refused, Step::Judged, 1, "\x03no!"},
      {"silence after the write", {}, {}, once, false, V::AskAgain, Outcome::MayHaveRun, Step::Wait, 1, ""},
      {"unreadable answer",
       {"\x03?!?"},
       {V::LineFault},
       once,
       false,
       V::LineFault,
       Outcome::MayHaveRun,
       Step::Judged,
       1,
       "\x03?!?"},
      {"a foreign reply drained, then the answer",
       {"\x03old", "\x03new"},
       {V::Resync, V::Done},
       resync,
       false,
       V::Done,
       Outcome::Done,
       Step::Judged,
       2,
       "\x03new"},
      {"asked again until answered",
       {"", "", "\x02ok"},
       {V::Done},
       five,
       false,
       V::Done,
       Outcome::Done,
       Step::Judged,
       3,
       "\x02ok"},
      {"a policy that does not retry refusals",
       {"\x01x", "\x01y"},
       {V::Refused, V::Done},
       five,
       false,
       V::Refused,
       Outcome::Refused,
       Step::Judged,
       1,
       "\x01x"},
      {"NAK read apart", {"\x15"}, {}, once, true, V::Refused, Outcome::Refused, Step::Wait, 1, ""},
      {"ACK read apart, then the reply",
       {"\x06\x02"
        "ab"},
       {V::Done},
       once,
       true,
       V::Done,
       Outcome::Done,
       Step::Judged,
       1,
       "\x02"
       "ab"},
  };
  for (const Case& c : cases) {
    Line l;
    for (const std::string& r : c.replies) l.replies.push_back({r, 0});
    CycleDriver& d = l.d;
    Plan plan;
    plan.policy = c.policy;
    plan.answerMs = 500;
    plan.first = c.firstApart ? &kRules : nullptr;
    plan.end = ReplyEnd::withLengthField(&headerLength);
    ByteArray reply;
    size_t judged = 0;
    const Result r = d.ExchangeCommand(ByteArray{'?'}, plan, reply,
                                       [&](const ByteArray&, size_t, int) { return c.verdicts.at(judged++); });
    EXPECT_EQ(r.verdict, c.verdict) << c.name;
    EXPECT_EQ(r.outcome(), c.outcome) << c.name;
    EXPECT_EQ(d.lastOutcome, c.outcome) << c.name;
    EXPECT_EQ(r.stoppedAt, c.stoppedAt) << c.name;
    EXPECT_EQ(d.nCommandsWritten, c.writes) << c.name;
    EXPECT_EQ(str(reply), c.reply) << c.name;
  }
}

// Nothing reaches a printer that is off or a port that takes no byte: a host
// may safely ask again.
TEST(Exchange, ACommandThatNeverLeftSaysSo) {
  {
    Line l;
    VirtualLink(*l.dev).setHolds(true, false);  // the printer holds CTS: off
    CycleDriver& d = l.d;
    ByteArray reply;
    const Result r =
        d.ExchangeCommand(ByteArray{'?'}, Plan{}, reply, [](const ByteArray&, size_t, int) { return Verdict::Done; });
    EXPECT_EQ(r.outcome(), Outcome::NotWritten);
    EXPECT_EQ(r.stoppedAt, Step::Line);
    EXPECT_EQ(d.nCommandsWritten, 0u);
  }
  {
    Line l;
    l.dev->cut();
    CycleDriver& d = l.d;
    Plan plan;
    plan.line = LineRule::None;
    ByteArray reply;
    const Result r =
        d.ExchangeCommand(ByteArray{'?'}, plan, reply, [](const ByteArray&, size_t, int) { return Verdict::Done; });
    EXPECT_EQ(r.outcome(), Outcome::NotWritten);
    EXPECT_EQ(r.stoppedAt, Step::Write);
  }
}
