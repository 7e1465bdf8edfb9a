// The exchange of one command with a printer over its port, shared by every
// family: writing the frame, the first byte of the answer, reading the rest of
// the reply, attempts and pauses, the waits that poll the printer, and the
// guard against a late reply meant for an earlier program on the same port.
//
// A family describes its protocol as data (which bytes acknowledge, refuse or
// say busy; how a reply ends; how often a command is tried) and keeps only its
// codec, its status tables and its operations. Every wait runs on the port's
// clock, so on the virtual wire it is simulated and costs no real time.
//
// The command cycle: the family builds the frame (BuildCommand), the driver's
// ExchangeCommand runs the steps of a Plan on the port, and the family's judge
// turns each reply into a Verdict; the result says whether the command was
// carried out, refused, never written, or may have run. Inside a SendCommand:
//
//   exchange::Plan plan;
//   plan.answerMs = nAnswerTimeout;
//   plan.end = ReplyEnd::ofLength(n);
//   const exchange::Result r = ExchangeCommand(*frame, plan, arAnswer, [&](const ByteArray&, size_t, int) {
//     return CheckForSuccess() ? Verdict::Done : Verdict::Refused;
//   });
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "core/types.h"
#include "platform/platform.h"

namespace tarvion {

class CECFBase;

namespace exchange {

// ---------------------------------------------------------------- first byte

// What the first byte of an answer says. Nothing: the wait ended but no byte
// could be read; Failed: the wait or the read failed (strLastError says why).
enum class First { Ack, Nak, Busy, Data, Nothing, Failed };

// The family's acknowledgement, refusal and busy bytes; any other byte starts
// the data of a reply. Each set is a string of byte values ("\x06", "\x15").
struct FirstByteRules {
  std::string_view ack, nak, busy;
  First classify(uint8_t b) const {
    auto in = [b](std::string_view set) { return set.find(static_cast<char>(b)) != std::string_view::npos; };
    if (in(ack)) return First::Ack;
    if (in(nak)) return First::Nak;
    if (in(busy)) return First::Busy;
    return First::Data;
  }
};

// ---------------------------------------------------------------- end of a reply

// How the rest of a reply ends. Without a rule (idle) a reply ends when a read
// returns nothing and nothing is queued: the port's read time-out after the
// last byte. A rule ends it as soon as it is complete, without that wait:
//   length      the command fixes the reply's size;
//   terminator  the reply ends after these bytes and `trailer` more (a check byte);
//   lengthOf    the reply's total size read from its own header, 0 until the
//               bytes so far tell it.
// A read that comes back short has already waited out the read time-out: the
// idle rule takes over. So does a complete reply with more bytes already
// waiting (readOnIfMore): the printer says more than the layout, and every
// byte is kept.
struct ReplyEnd {
  size_t length = 0;
  std::string_view terminator;
  size_t trailer = 0;
  size_t (*lengthOf)(const uint8_t* data, size_t n) = nullptr;
  bool readOnIfMore = true;
  // A reply never grows beyond this: a line that never stops talking fails.
  size_t maxBytes = kDefaultMaxBytes;

  static constexpr size_t kDefaultMaxBytes = 16u << 20;

  static ReplyEnd idle() { return {}; }
  static ReplyEnd ofLength(size_t n) {
    ReplyEnd e;
    e.length = n;
    return e;
  }
  static ReplyEnd endingWith(std::string_view terminator, size_t trailer = 0) {
    ReplyEnd e;
    e.terminator = terminator;
    e.trailer = trailer;
    return e;
  }
  static ReplyEnd withLengthField(size_t (*lengthOf)(const uint8_t*, size_t)) {
    ReplyEnd e;
    e.lengthOf = lengthOf;
    return e;
  }

  bool hasRule() const { return length || !terminator.empty() || lengthOf; }
  // The size of the complete reply in data[0, n), or 0 while it is not complete.
  size_t completeAt(const uint8_t* data, size_t n) const;
  // How many bytes to ask for next, given n bytes so far and q bytes queued:
  // never past the end the rule knows, so that no read waits for bytes that
  // will not come.
  size_t nextRead(const uint8_t* data, size_t n, size_t queued, size_t chunk) const;
};

// ---------------------------------------------------------------- attempts

// What one attempt of a command came to, as the family judges its reply.
enum class Verdict : uint8_t {
  Done,       // the answer to the command, saying it was carried out
  Refused,    // the printer answered and refused the command; strLastError says why
  AskAgain,   // no usable answer this time: none, short, damaged (strLastError says which)
  Resync,     // the answer belongs to another frame: the line is drained before going on
  LineFault,  // the line failed or the answer cannot be read: the attempts end here
};
constexpr size_t kVerdicts = 5;

// How often a command is tried and what makes it try again. Each verdict has
// its pause before the next attempt, or kNoRetry when it ends the attempts.
// newFrame: a repeated command is built afresh (a family whose frames carry a
// sequence number advances it) instead of sending the same bytes again.
struct RetryPolicy {
  static constexpr int32_t kNoRetry = -1;
  int attempts = 1;
  std::array<int32_t, kVerdicts> pauseMs{kNoRetry, kNoRetry, kNoRetry, kNoRetry, kNoRetry};
  bool newFrame = false;

  static RetryPolicy tries(int n) {
    RetryPolicy p;
    p.attempts = n;
    return p;
  }
  RetryPolicy& on(Verdict v, uint32_t pause) {
    pauseMs[static_cast<size_t>(v)] = static_cast<int32_t>(pause);
    return *this;
  }
  RetryPolicy& rebuilding(bool b = true) {
    newFrame = b;
    return *this;
  }
  bool retries(Verdict v) const { return v != Verdict::Done && pauseMs[static_cast<size_t>(v)] >= 0; }
};

// Runs attempt(n) for n = 1, 2, ... under the policy, pausing on the clock
// between attempts; before each later attempt rebuild() runs when the policy
// builds repeated frames afresh. Returns the last verdict.
template <class Attempt, class Rebuild>
Verdict runAttempts(platform::Clock& clock, const RetryPolicy& policy, Attempt attempt, Rebuild rebuild) {
  for (int n = 1;; ++n) {
    const Verdict v = attempt(n);
    if (!policy.retries(v) || n >= policy.attempts) return v;
    const int32_t pause = policy.pauseMs[static_cast<size_t>(v)];
    if (pause > 0) clock.sleepMs(static_cast<uint32_t>(pause));
    if (policy.newFrame) rebuild();
  }
}
template <class Attempt>
Verdict runAttempts(platform::Clock& clock, const RetryPolicy& policy, Attempt attempt) {
  return runAttempts(clock, policy, attempt, [] {});
}

// A step that succeeds or not, tried up to `tries` times with a pause between
// failed ones: the common case of the policy above, for steps that change
// nothing in the printer (opening a port, polling a sensor).
template <class F>
bool retry(platform::Clock& clock, int tries, uint32_t pauseMs, F step) {
  const RetryPolicy policy = RetryPolicy::tries(tries).on(Verdict::AskAgain, pauseMs);
  return runAttempts(clock, policy, [&](int) { return step() ? Verdict::Done : Verdict::AskAgain; }) == Verdict::Done;
}

// ---------------------------------------------------------------- deadlines and polls

// A point in time on a clock, some milliseconds ahead.
class Deadline {
 public:
  Deadline(platform::Clock& clock, int64_t ms) : clock_(clock), atUs_(clock.nowUs() + ms * 1000) {}
  bool passed() const { return clock_.nowUs() >= atUs_; }
  int64_t leftMs() const {
    const int64_t us = atUs_ - clock_.nowUs();
    return us > 0 ? (us + 999) / 1000 : 0;
  }
  // Moves the deadline to ms from now (progress was made).
  void restart(int64_t ms) { atUs_ = clock_.nowUs() + ms * 1000; }
  // Sleeps until the deadline.
  void sleepOut() const {
    const int64_t us = atUs_ - clock_.nowUs();
    if (us > 0) clock_.sleepMs(static_cast<uint32_t>((us + 999) / 1000));
  }
  platform::Clock& clock() const { return clock_; }

 private:
  platform::Clock& clock_;
  int64_t atUs_;
};

// One poll of the printer: the awaited state is there, not yet, or the poll
// cannot go on (the printer refused it).
enum class Poll { Ready, NotYet, GiveUp };
enum class PollEnd { Ready, Timeout, GaveUp };

struct PollPolicy {
  uint32_t timeoutMs = 0;   // how long one period of waiting lasts
  uint32_t intervalMs = 1;  // pause between polls
  // A poll that gives up still lets the period run out: the caller learns of
  // the failure only at the deadline, as from a watcher that stopped signalling.
  bool sitOutOnGiveUp = false;
};

// Polls until step() says Ready, the period runs out, or a step gives up.
// When the period runs out, again() is asked (an operator prompt, say): true
// starts another period, false ends the wait with Timeout.
template <class Step, class Again>
PollEnd pollUntil(platform::Clock& clock, const PollPolicy& policy, Step step, Again again) {
  for (;;) {
    Deadline deadline(clock, policy.timeoutMs);
    while (!deadline.passed()) {
      const Poll p = step();
      if (p == Poll::Ready) return PollEnd::Ready;
      if (p == Poll::GiveUp) {
        if (!policy.sitOutOnGiveUp) return PollEnd::GaveUp;
        deadline.sleepOut();
        return PollEnd::Timeout;
      }
      clock.sleepMs(policy.intervalMs);
    }
    if (!again()) return PollEnd::Timeout;
  }
}
template <class Step>
PollEnd pollUntil(platform::Clock& clock, const PollPolicy& policy, Step step) {
  return pollUntil(clock, policy, step, [] { return false; });
}

// ---------------------------------------------------------------- the port side

enum class LineFault { None, StatusFailed, CableOut, PrinterOff };
enum class Purge { None, Receive, Both };
// Cut: the write failed after some bytes went out.
enum class Written { Ok, Failed, Nothing, Cut };

// How long and how much a drain may read before it gives up on the line
// going quiet.
struct DrainLimits {
  uint32_t maxMs = 3000;
  size_t maxBytes = 64 * 1024;
};

// The exchange steps on a driver's port. Messages go to the driver's
// strLastError, system errors through its SetSystemError, waits through its
// WaitCommEvent (with its messages and log lines). Cheap to make: one per
// exchange is fine.
class PortExchange {
 public:
  explicit PortExchange(CECFBase& driver) : d_(driver) {}

  // The port's line state before a command. A printer that holds CTS is off
  // or not connected; with CTS and DSR both held the cable is out. With
  // dsrAloneIsOff a held DSR alone also counts as a printer that is off.
  LineFault CheckLine(bool dsrAloneIsOff = false);

  // Writes the whole frame in one write, after purging the queues asked for.
  // Failed: the system's message; Nothing: no byte went out, and strLastError
  // gets nothingMessage when one is given.
  Written Write(const ByteArray& frame, Purge purge, const char* nothingMessage = kWriteTimeoutMessage);

  // Waits for answer bytes (the driver's WaitCommEvent) up to timeoutMs.
  BOOL Wait(uint32_t timeoutMs);
  // Waits for the first byte of the answer, reads it and says what it is.
  First AwaitFirst(uint32_t timeoutMs, const FirstByteRules& rules, uint8_t& byte);
  // Reads the rest of a reply into `into` (appending) until `end` says it is
  // complete or the line goes idle. The caller has waited for the first bytes.
  BOOL ReadReply(ByteArray& into, const ReplyEnd& end);
  // Reads and throws away whatever the line says until it is idle (a read
  // that returns nothing with nothing queued), within the limits. Returns the
  // number of bytes thrown away.
  size_t Drain(const DrainLimits& limits = {});

  bool FreshLine() const;
  void SetFresh(bool fresh);
  platform::Clock& Clock();
  // Logs that a reply belonging to another frame was drained.
  void LogStale(const char* where, size_t drained);
  // Logs that bytes left on a fresh line were drained before a write.
  void LogDrainedBeforeWrite(const char* where, size_t drained);

  // Whether the last ReadReply ended because the line went quiet rather than
  // by its rule; then how long it read and how many bytes it took.
  bool EndedOnIdle() const { return endedOnIdle_; }
  int64_t IdleReadUs() const { return idleReadUs_; }
  size_t IdleBytes() const { return idleBytes_; }

  // "Timeout gravando comando no buffer de impressão." in Windows-1252.
  static constexpr const char* kWriteTimeoutMessage = "Timeout gravando comando no buffer de impress\xE3o.";
  static constexpr size_t kReadChunk = 256;

 private:
  BOOL SystemError();
  CECFBase& d_;
  bool endedOnIdle_ = false;
  int64_t idleReadUs_ = 0;
  size_t idleBytes_ = 0;
};

// ---------------------------------------------------------------- the command cycle

// What the line must show before a command is written: a printer that holds
// CTS is off or not connected; with CtsOrDsr a held DSR alone says so too.
enum class LineRule : uint8_t { None, Cts, CtsOrDsr };

// The step an exchange stopped at, for the family's own log lines.
enum class Step : uint8_t { Line, Write, WroteNothing, Wait, Read, Judged };

// What became of a command, as its caller and the host see it. Only the first
// two leave the printer as it was and are safe to ask again; MayHaveRun is
// never resent behind the host's back.
enum class Outcome : uint8_t {
  Done,        // the printer carried it out
  NotWritten,  // refused before the wire: nothing reached the printer
  Refused,     // the printer answered and refused it: nothing ran
  MayHaveRun,  // written, then the line failed or the answer was unreadable
};

// How a family exchanges one command. The cycle owns the order of the steps:
// line check, purge and write, the wait for the answer, the first byte when the
// family reads it apart, the rest of the reply by its end rule, the family's
// judgement, and the attempts the policy allows.
struct Plan {
  RetryPolicy policy = RetryPolicy::tries(1);
  LineRule line = LineRule::Cts;
  Purge purge = Purge::Both;
  // strLastError when the write took no byte; null leaves it as it is.
  const char* nothingWritten = PortExchange::kWriteTimeoutMessage;
  uint32_t answerMs = 0;
  // When set, the first byte of the answer is read and judged apart
  // (JudgeFirst) before the rest of the reply is waited for.
  const FirstByteRules* first = nullptr;
  ReplyEnd end;
  // While the line is fresh (the port just opened, or an earlier command got
  // no readable answer) whatever is still on its way is drained before the
  // frame is written: the printer may still be answering an earlier frame,
  // and once this one is out nothing may send it again.
  bool drainWhenFresh = false;
  // Names the caller in the log line of a drained foreign reply.
  const char* where = "";
};

struct Result {
  Verdict verdict = Verdict::LineFault;
  Step stoppedAt = Step::Line;
  bool written = false;  // some attempt put bytes on the wire
  Outcome outcome() const {
    switch (verdict) {
      case Verdict::Done:
        return Outcome::Done;
      case Verdict::Refused:
        return Outcome::Refused;
      default:
        return written ? Outcome::MayHaveRun : Outcome::NotWritten;
    }
  }
  bool ok() const { return verdict == Verdict::Done; }
};

// The family's judgement of a reply: reply[start, end) is this attempt's;
// first is the byte read apart (Plan::first), or -1.
using Judge = std::function<Verdict(const ByteArray& reply, size_t start, int first)>;

}  // namespace exchange
}  // namespace tarvion
