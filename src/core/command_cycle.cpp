// The command cycle every family runs on: the exchange of one built frame as
// the family's plan describes it, each reply judged by the family, and the
// outcome the control reports to the host.
#include "core/ecf_base.h"
#include "core/exchange.h"

namespace tarvion {

using exchange::First;
using exchange::Plan;
using exchange::Result;
using exchange::Step;
using exchange::Verdict;

exchange::Result CECFBase::ExchangeCommand(const ByteArray& frame, const Plan& plan, ByteArray& reply,
                                           const exchange::Judge& judge) {
  Result r;
  // The device went away under the last command: take the port again, and
  // fail without writing while it is not back.
  if (bLineLost && !ReopenLostPort()) {
    lastOutcome = r.outcome();
    return r;
  }
  exchange::PortExchange x(*this);
  const size_t start = reply.size();
  r.verdict = exchange::runAttempts(PortClock(), plan.policy, [&](int n) {
    const Verdict v = Attempt(x, frame, plan, reply, start, judge, r);
    AfterAttempt(n, plan, v);
    // A reply meant for another frame may be followed by more of it: the
    // line is quiet before anything else is read.
    if (v == Verdict::Resync) x.LogStale(plan.where, x.Drain());
    return v;
  });
  // A written command without a readable answer may still be answered: the
  // next command that drains a fresh line does not take that for its own.
  if (r.written && r.verdict != Verdict::Done && r.verdict != Verdict::Refused) x.SetFresh(true);
  lastOutcome = r.outcome();
  return r;
}

Verdict CECFBase::Attempt(exchange::PortExchange& x, const ByteArray& frame, const Plan& plan, ByteArray& reply,
                          size_t start, const exchange::Judge& judge, Result& r) {
  reply.resize(start);
  r.stoppedAt = Step::Line;
  if (plan.line != exchange::LineRule::None &&
      x.CheckLine(plan.line == exchange::LineRule::CtsOrDsr) != exchange::LineFault::None)
    return Verdict::LineFault;
  if (plan.drainWhenFresh && x.FreshLine()) {
    const size_t drained = x.Drain();
    if (drained) x.LogDrainedBeforeWrite(plan.where, drained);
  }
  r.stoppedAt = Step::Write;
  switch (x.Write(frame, plan.purge, plan.nothingWritten)) {
    case exchange::Written::Ok:
      break;
    case exchange::Written::Nothing:
      r.stoppedAt = Step::WroteNothing;
      return Verdict::LineFault;
    case exchange::Written::Failed:
      return Verdict::LineFault;
    case exchange::Written::Cut:
      r.written = true;  // part of the frame is out: the printer may act on it
      ++nCommandsWritten;
      return Verdict::LineFault;
  }
  r.written = true;
  ++nCommandsWritten;
  r.stoppedAt = Step::Wait;
  int first = -1;
  if (plan.first) {
    uint8_t b = 0;
    const First kind = x.AwaitFirst(plan.answerMs, *plan.first, b);
    const Verdict v = JudgeFirst(kind, b);
    if (v != Verdict::Done) return v;
    if (kind != First::Nothing) first = b;
  }
  if (!AwaitAnswer(x, plan.answerMs)) return Verdict::AskAgain;
  r.stoppedAt = Step::Read;
  if (!ReadAnswer(x, plan, reply)) return Verdict::LineFault;
  if (idleEndObserver && x.EndedOnIdle()) idleEndObserver(frame, x.IdleReadUs(), x.IdleBytes());
  r.stoppedAt = Step::Judged;
  const Verdict v = judge(reply, start, first);
  // An answer came: whatever an earlier program left on the line is behind us.
  x.SetFresh(false);
  return v;
}

BOOL CECFBase::AwaitAnswer(exchange::PortExchange& x, uint32_t timeoutMs) {
  return x.Wait(timeoutMs);
}

Verdict CECFBase::JudgeFirst(First kind, uint8_t /*byte*/) {
  switch (kind) {
    case First::Failed:
      return Verdict::AskAgain;  // the wait or the read said why
    case First::Nak:
      return Verdict::Refused;
    default:
      return Verdict::Done;
  }
}

BOOL CECFBase::ReadAnswer(exchange::PortExchange& x, const Plan& plan, ByteArray& reply) {
  return x.ReadReply(reply, plan.end);
}

void CECFBase::AfterAttempt(int /*attempt*/, const Plan& /*plan*/, Verdict /*verdict*/) {}

Verdict CECFBase::JudgeStatus() {
  strLastError.clear();
  if (!bCheckAfterSend) {
    bCheckAfterSend = kTrue;
    return Verdict::Done;
  }
  return CheckForSuccess() ? Verdict::Done : Verdict::Refused;
}

}  // namespace tarvion
