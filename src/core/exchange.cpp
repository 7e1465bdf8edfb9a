#include "core/exchange.h"

#include <algorithm>

#include "core/ecf_base.h"
#include "core/text.h"

namespace tarvion::exchange {

using text::cp;
using text::format;

size_t ReplyEnd::completeAt(const uint8_t* data, size_t n) const {
  if (length) return n >= length ? length : 0;
  if (lengthOf) {
    const size_t total = lengthOf(data, n);
    return total && n >= total ? total : 0;
  }
  if (!terminator.empty()) {
    const auto* t = reinterpret_cast<const uint8_t*>(terminator.data());
    const uint8_t* end = data + n;
    const uint8_t* at = std::search(data, end, t, t + terminator.size());
    if (at == end) return 0;
    const size_t total = static_cast<size_t>(at - data) + terminator.size() + trailer;
    return n >= total ? total : 0;
  }
  return 0;
}

size_t ReplyEnd::nextRead(const uint8_t* data, size_t n, size_t queued, size_t chunk) const {
  size_t total = length;
  if (!total && lengthOf) total = lengthOf(data, n);
  if (total) return total > n ? std::min(chunk, total - n) : chunk;
  // The end is not known yet: what is already there, or one byte to wait for.
  return std::min(chunk, std::max<size_t>(1, queued));
}

bool PortExchange::FreshLine() const {
  return d_.bFreshLine != 0;
}

void PortExchange::SetFresh(bool fresh) {
  d_.bFreshLine = fresh ? kTrue : kFalse;
}

platform::Clock& PortExchange::Clock() {
  return d_.PortClock();
}

BOOL PortExchange::SystemError() {
  if (!d_.hPort) platform::setLastError(platform::kErrInvalidHandle);
  d_.NoteLostLine(platform::lastError());
  d_.SetSystemError();
  return kFalse;
}

LineFault PortExchange::CheckLine(bool dsrAloneIsOff) {
  LineStatus ls;
  if (!d_.hPort || !d_.hPort->lineStatus(ls)) {
    SystemError();
    return LineFault::StatusFailed;
  }
  if (ls.ctsHold && ls.dsrHold) {
    d_.strLastError = cp("Erro de comunicação. Verifique se o cabo está conectado na porta serial do computador.");
    return LineFault::CableOut;
  }
  if (ls.ctsHold || (dsrAloneIsOff && ls.dsrHold)) {
    d_.strLastError =
        cp("Erro de comunicação. Verifique se a impressora está ligada e o cabo está conectado corretamente.");
    return LineFault::PrinterOff;
  }
  return LineFault::None;
}

Written PortExchange::Write(const ByteArray& frame, Purge purge, const char* nothingMessage) {
  if (!d_.hPort) {
    SystemError();
    return Written::Failed;
  }
  // Whatever came in before the command is not its answer.
  if (purge != Purge::None) d_.hPort->purge(purge == Purge::Both, true);
  size_t written = 0;
  if (!d_.hPort->write(frame.data(), frame.size(), written)) {
    SystemError();
    return written > 0 ? Written::Cut : Written::Failed;
  }
  if (written == 0) {
    if (nothingMessage) d_.strLastError = nothingMessage;
    return Written::Nothing;
  }
  return Written::Ok;
}

BOOL PortExchange::Wait(uint32_t timeoutMs) {
  return d_.WaitCommEvent(timeoutMs);
}

First PortExchange::AwaitFirst(uint32_t timeoutMs, const FirstByteRules& rules, uint8_t& byte) {
  if (!d_.hPort) {
    SystemError();
    return First::Failed;
  }
  if (!Wait(timeoutMs)) return First::Failed;
  size_t got = 0;
  if (!d_.hPort->read(&byte, 1, got)) {
    SystemError();
    return First::Failed;
  }
  if (got == 0) return First::Nothing;
  return rules.classify(byte);
}

BOOL PortExchange::ReadReply(ByteArray& into, const ReplyEnd& end) {
  if (!d_.hPort) return SystemError();
  Channel& port = *d_.hPort;
  const size_t start = into.size();
  bool rule = end.hasRule();
  endedOnIdle_ = false;
  const int64_t readFrom = Clock().nowUs();
  uint8_t buf[kReadChunk];
  for (;;) {
    LineStatus ls;
    if (!port.lineStatus(ls)) return SystemError();
    size_t want = kReadChunk;
    if (rule) want = end.nextRead(into.data() + start, into.size() - start, ls.inQueue, kReadChunk);
    size_t got = 0;
    if (!port.read(buf, want, got)) return SystemError();
    into.insert(into.end(), buf, buf + got);
    if (into.size() - start > end.maxBytes) {
      d_.strLastError = cp("Resposta da impressora maior que o tamanho máximo.");
      return kFalse;
    }
    if (rule) {
      if (end.completeAt(into.data() + start, into.size() - start)) {
        if (!end.readOnIfMore) return kTrue;
        LineStatus after;
        if (!port.lineStatus(after)) return SystemError();
        if (!after.rlsdHold && after.inQueue == 0) return kTrue;
        rule = false;  // more than the layout says: read on until idle
        continue;
      }
      // A short read already waited out the read time-out: the idle rule takes over.
      if (got < want) rule = false;
    }
    if (!(ls.rlsdHold || ls.inQueue > 0 || got > 0)) {
      endedOnIdle_ = true;
      idleReadUs_ = Clock().nowUs() - readFrom;
      idleBytes_ = into.size() - start;
      return kTrue;
    }
  }
}

size_t PortExchange::Drain(const DrainLimits& limits) {
  if (!d_.hPort) return 0;
  Channel& port = *d_.hPort;
  const Deadline deadline(Clock(), limits.maxMs);
  size_t total = 0;
  uint8_t buf[kReadChunk];
  while (total < limits.maxBytes && !deadline.passed()) {
    LineStatus ls;
    size_t got = 0;
    if (!port.lineStatus(ls) || !port.read(buf, sizeof buf, got)) break;
    total += got;
    if (got == 0 && ls.inQueue == 0 && !ls.rlsdHold) break;
  }
  return total;
}

void PortExchange::LogStale(const char* where, size_t drained) {
  d_.Log(where, cp(format("Resposta fora do formato do comando logo após abrir a porta; %lu bytes descartados, "
                          "comando enviado de novo",
                          static_cast<unsigned long>(drained))));
}

void PortExchange::LogDrainedBeforeWrite(const char* where, size_t drained) {
  d_.Log(where,
         cp(format("Bytes na linha antes do comando; %lu bytes descartados", static_cast<unsigned long>(drained))));
}

}  // namespace tarvion::exchange
