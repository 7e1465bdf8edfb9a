// CECFCV2009: construction, the exchange of one packet (frame, ENQ or SYN), the
// status of a reply, the busy wait, the line probe and the registry value.
#include "drivers/cv2009/CECFCV2009.h"

#include "core/exchange.h"
#include "core/fields.h"
#include "core/text.h"
#include "drivers/cv2009/cv2009_ops.h"
#include "platform/keystore.h"

namespace tarvion {

using namespace cv2009;
using text::cp;
using text::format;

namespace {

constexpr uint32_t kBusyPauseMs = 500;
// A reply frame holds at most 65535 data bytes.
constexpr size_t kMaxReply = kReplyHeader + 65535 + 1;
constexpr int kSetRts = 3, kClrRts = 4, kSetDtr = 5, kClrDtr = 6;
const char* const kPeidKey = "Software\\Norvex Dirazido\\NorvexPOS\\Bematech\\";
constexpr size_t kSerialChars = 20;

// DTR and RTS are the program's to raise around each exchange; the printer's
// handshake decides whether they are used at all.
PortProfile cv2009Port() {
  PortProfile p;
  p.logTag = "CECFCV2009";
  p.announce = false;
  p.fDsrSensitivity = 0;
  p.fOutxDsrFlow = 0;
  p.fOutxCtsFlow = 0;
  p.fDtrControl = kDtrEnable;
  p.fRtsControl = kRtsEnable;
  return p;
}

}  // namespace

CECFCV2009::CECFCV2009(int maker) : intFabricante(maker) {
  Log("CECFCV2009::CECFCV2009", cp("início"));
  portProfile = cv2009Port();
  Columns = 48;
  // The printer numbers each item in its reply and the driver keeps that
  // number: the control must not count the item a second time.
  bItemCountByDriver = kTrue;
  Log("CECFCV2009::CECFCV2009", "Fim");
}

// Wire example, the first frame after creation, command 0x0001 with "a|":
//   01 01 01 00 02 00 61 7C E1
Frame CECFCV2009::BuildCommand(const ByteArray& command, const ByteArray& parameters) {
  if (command.empty()) return std::make_unique<ByteArray>();
  intSequencia = nextSequence(intSequencia);
  return std::make_unique<ByteArray>(buildFrame(static_cast<uint8_t>(intSequencia), command, parameters));
}

BOOL CECFCV2009::CheckForSuccess() {
  return TrataRetorno(arAnswer);
}

BOOL CECFCV2009::TrataRetorno(const ByteArray& reply) {
  strLastError.clear();
  if (!reply.empty() && reply[0] == kACK) return kTrue;
  const size_t at = !reply.empty() && reply[0] == kSOH ? 4 : 1;
  if (reply.size() > at + 1) {
    const uint8_t cls = reply[at], code = reply[at + 1];
    if (cls == 0) {
      bMaisBlocos = (code & 1) == 0;
      if (reply.size() > at + 3) intBloco = reply[at + 3];
      return kTrue;
    }
    strLastError = statusMessage(cls, code, intFabricante);
  }
  if (strLastError.empty()) strLastError = cp("Erro desconhecido.");
  Log("CECFCV2009::TrataRetorno{" + strLastError + "}");
  return kFalse;
}

BOOL CECFCV2009::ChamaEscapeCommFunction(int function) {
  const char* name = function == kSetRts   ? "SETRTS"
                     : function == kClrRts ? "CLRRTS"
                     : function == kSetDtr ? "SETDTR"
                     : function == kClrDtr ? "CLRDTR"
                                           : "Desconhecida";
  bool call = false;
  bool known = true;
  if (function == kSetRts || function == kClrRts)
    call = dcb.fRtsControl == kRtsEnable || dcb.fRtsControl == kRtsToggle;
  else if (function == kSetDtr || function == kClrDtr)
    call = dcb.fDtrControl == kDtrEnable;
  else
    known = false;
  bool result = known;
  if (call) result = hPort && hPort->lineControl(static_cast<LineFunction>(function));
  if (Logging())
    Log("CECFCV2009::ChamaEscapeCommFunction",
        format("Executou=%s, Retorno=%s, EscapeCommFunction(%d, %s(%d))", boolText(call), boolText(result),
               static_cast<int>(hPort ? hPort->handleValue() : -1), name, function));
  return result ? kTrue : kFalse;
}

BOOL CECFCV2009::WaitForReplyData(uint32_t timeoutMs) {
  ChamaEscapeCommFunction(kSetDtr);
  ChamaEscapeCommFunction(kSetRts);
  exchange::PortExchange x(*this);
  return x.Wait(timeoutMs);
}

BOOL CECFCV2009::GetCommState() {
  if (!CECFBase::GetCommState()) return kFalse;
  // The configured handshake (bit 0 DSR/DTR, bit 1 RTS/CTS); a line without
  // its handshake is left alone.
  const bool dsr = (nFlowControl & 1) != 0, rts = (nFlowControl & 2) != 0;
  dcb.fOutxDsrFlow = dsr ? 1 : 0;
  dcb.fDsrSensitivity = dsr ? 1 : 0;
  dcb.fDtrControl = dsr ? DtrControl() : kDtrDisable;
  dcb.fOutxCtsFlow = rts ? 1 : 0;
  dcb.fRtsControl = rts ? RtsControl() : kRtsDisable;
  dcb.fNull = 0;
  bCheckDSR = dcb.fDsrSensitivity ? kTrue : kFalse;
  bCheckCTS = dcb.fRtsControl != kRtsDisable ? kTrue : kFalse;
  return kTrue;
}

// One packet on the line: the attempts, each a write, the wait for the first
// byte and the read of the whole reply, judged by its first byte.
BOOL CECFCV2009::SendCommand(Frame command) {
  const char* where = "CECFCV2009::SendCommand";
  if (!command || command->empty()) {
    Log(where, "{Retorno=TRUE}");
    return kTrue;
  }
  try {
    if (Logging()) Log(format("%s{%s}", where, text::readableDump(command->data(), command->size()).c_str()));
    if (!ContinueComm()) {
      if (strLastError.empty())
        strLastError =
            cp("Erro de comunicação. Verifique se o cabo está conectado ao computador e se o ECF está ligado.");
      command->clear();
      return kFalse;
    }
    const ByteArray& packet = *command;
    // Only the packets that ask for an answer are written more than once.
    int tries = 1;
    switch (packet[0]) {
      case kSOH:
        if (packet.size() > 1) intSequenciaEnviada = packet[1];
        arUltimoComando = packet;
        bMaisBlocos = false;
        bReenviaComando = false;
        break;
      case kENQ:
        tries = 5;
        break;
      case kSYN:
        tries = 5;
        bMaisBlocos = false;
        break;
      default:
        bMaisBlocos = false;
        break;
    }
    if (Logging()) Log(format("%s{[%X], intTries=%i}", where, packet[0], tries));
    exchange::Plan plan;
    plan.where = where;
    plan.policy = exchange::RetryPolicy::tries(tries).on(exchange::Verdict::AskAgain, 0);
    plan.purge = exchange::Purge::None;
    plan.answerMs = static_cast<uint32_t>(intTimeoutResposta);
    plan.end = exchange::ReplyEnd::withLengthField(&replyLength);
    plan.end.readOnIfMore = false;
    plan.end.maxBytes = kMaxReply;
    arResposta.clear();
    const bool framed = packet[0] == kSOH;
    const BOOL result = ExchangeCommand(
                            packet, plan, arResposta,
                            [&](const ByteArray&, size_t, int) {
                              return JudgeReply(framed);
                            }).ok()
                            ? kTrue
                            : kFalse;
    if (result) {
      arAnswer = arResposta;
    } else {
      command->clear();
    }
    if (Logging()) Log(format("%s{Retorno=%s,strLastError=%s}", where, boolText(result), strLastError.c_str()));
    const std::string kept = strLastError;
    PauseComm();
    strLastError = kept;
    return result;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    PauseComm();
    return kFalse;
  }
}

BOOL CECFCV2009::AwaitAnswer(exchange::PortExchange&, uint32_t timeoutMs) {
  if (WaitForReplyData(timeoutMs)) return kTrue;
  Log("CECFCV2009::SendCommand", cp("{Não conseguiu iniciar leitura.}"));
  return kFalse;
}

void CECFCV2009::AfterAttempt(int attempt, const exchange::Plan& plan, exchange::Verdict verdict) {
  ChamaEscapeCommFunction(kClrDtr);
  ChamaEscapeCommFunction(kClrRts);
  if (Logging())
    Log("CECFCV2009::SendCommand", format("intTry=%d, intTries=%d, bRetorno=%s", attempt, plan.policy.attempts,
                                          boolText(verdict == exchange::Verdict::Done)));
}

// The reply in arResposta, judged by its first byte. A NAK to a framed command
// is the printer's refusal; to ENQ or SYN it asks for another attempt.
exchange::Verdict CECFCV2009::JudgeReply(bool framed) {
  using exchange::Verdict;
  const uint8_t* r = arResposta.data();
  const size_t n = arResposta.size();
  switch (kindOf(r, n)) {
    case Kind::Empty:
      strLastError = "Timeout aguardando resposta da impressora.";
      return Verdict::AskAgain;
    case Kind::Frame: {
      const size_t total = replyLength(r, n);
      if (total == 0 || n < total) {
        strLastError = "Timeout aguardando resposta da impressora.";
        return Verdict::AskAgain;
      }
      if (!checksumOk(r, total)) {
        strLastError = "Erro de checksum na leitura.";
        return Verdict::AskAgain;
      }
      if (r[1] == intSequenciaEnviada) return TrataRetorno(arResposta) ? Verdict::Done : Verdict::Refused;
      // The answer to another frame: this one is sent again, unchanged, by
      // the next busy wait; meanwhile the reply reads as busy.
      arResposta.assign(12, 0);
      arResposta[0] = kDC1;
      arResposta[2] = 0x01;
      bReenviaComando = true;
      PortClock().sleepMs(kBusyPauseMs);
      return Verdict::Done;
    }
    case Kind::Ack:
      return Verdict::Done;
    case Kind::Busy:
      PortClock().sleepMs(kBusyPauseMs);
      return Verdict::Done;
    case Kind::Nak:
      if (n < 3) {
        strLastError = "Timeout aguardando resposta da impressora.";
        return Verdict::AskAgain;
      }
      if (TrataRetorno(arResposta)) return Verdict::Done;
      return framed ? Verdict::Refused : Verdict::AskAgain;
    case Kind::Sync:
      if (n < kSyncLength) {
        strLastError = "Timeout aguardando resposta da impressora.";
        return Verdict::AskAgain;
      }
      return Verdict::Done;
    case Kind::Unknown:
      strLastError = cp("Erro de comunicação.");
      return Verdict::LineFault;
  }
  return Verdict::LineFault;
}

BOOL CECFCV2009::AguardaOcupado() {
  const char* where = "CECFCV2009::AguardaOcupado";
  exchange::Deadline limit(PortClock(), kBusyLimitMs);
  // Each busy answer costs a pause on the port's clock; the count bounds the
  // wait as well, should a clock not move.
  for (uint32_t round = 0; round <= kBusyLimitMs / kBusyPauseMs; ++round) {
    // Without a stored frame there is nothing to send again: ask for the reply.
    if (bReenviaComando && arUltimoComando.empty()) bReenviaComando = false;
    const ByteArray packet = bReenviaComando ? arUltimoComando : enq(bMaisBlocos ? intBloco + 1 : 0);
    if (!SendCommand(std::make_unique<ByteArray>(packet))) return kFalse;
    const uint8_t first = arResposta.empty() ? 0 : arResposta[0];
    if (first != kDC1 && first != kACK) return kTrue;
    if (limit.passed()) break;
  }
  strLastError = "Timeout aguardando resposta da impressora.";
  Log(where, "Retorno=FALSE");
  return kFalse;
}

BOOL CECFCV2009::Execute(const char* where, uint16_t code, const std::vector<std::string>& params, bool needsReply) {
  ClearBuffers();
  arCampos.clear();
  // Parameters beyond the frame's length field are refused before anything
  // goes out, naming the longest (the one that does not fit) and the room the
  // command leaves it.
  size_t total = 0, longest = 0;
  for (size_t i = 0; i < params.size(); ++i) {
    total += params[i].size() + 1;
    if (params[i].size() > params[longest].size()) longest = i;
  }
  if (total > kMaxParameterBytes) {
    const size_t others = total - params[longest].size();
    lastOutcome = exchange::Outcome::NotWritten;
    return refuse(*this, where,
                  fields::textTooLong(parameterName(code, longest), params[longest].size(),
                                      others < kMaxParameterBytes ? kMaxParameterBytes - others : 0));
  }
  for (uint8_t b : commandBytes(code)) AddCommandByte(b);
  for (const std::string& p : params) AddParameterString(p + "|");
  BOOL ok = Submit();
  if (ok && !arResposta.empty() && arResposta[0] != kSOH) ok = AguardaOcupado();
  if (!ok) {
    if (Logging()) Log(where, format("Retorno=FALSE,strLastError=%s", strLastError.c_str()));
    return kFalse;
  }
  ReplyFrame frame;
  const bool answered = parseReplyFrame(arResposta.data(), arResposta.size(), frame, false) &&
                        frame.sequence == static_cast<uint8_t>(intSequencia);
  if (answered) {
    arCampos = SplitReplyFields(frame.data);
  } else if (needsReply) {
    strLastError = cp("Resposta inválida do ECF.");
    Log(where, "Retorno=FALSE,strLastError=" + strLastError);
    return kFalse;
  }
  return kTrue;
}

BOOL CECFCV2009::ReadInfo(const char* where, int group, int item) {
  return Execute(where, cmd::Read, {std::to_string(group), std::to_string(item)}, true);
}

BOOL CECFCV2009::ReadBlocks(const char* where, uint16_t code, const std::vector<std::string>& params,
                            std::string& out) {
  if (!Execute(where, code, params, true)) return kFalse;
  int piece = 0;
  for (;;) {
    const std::string part = arCampos.empty() ? std::string() : arCampos[0];
    out += part;
    if (Logging())
      Log(where,
          format("Trecho=%d, Dif=%d, Total=%d", piece, static_cast<int>(part.size()), static_cast<int>(out.size())));
    ++piece;
    if (!bMaisBlocos) return kTrue;
    if (!AguardaOcupado()) return kFalse;
    ReplyFrame frame;
    if (!parseReplyFrame(arResposta.data(), arResposta.size(), frame, false) ||
        frame.sequence != static_cast<uint8_t>(intSequencia)) {
      strLastError = cp("Resposta inválida do ECF.");
      return kFalse;
    }
    arCampos = SplitReplyFields(frame.data);
  }
}

// Wire example, the line probe:  request 16      reply 16 07 (the printer's sequence)
BOOL CECFCV2009::ECFOnline() {
  const char* where = "CECFCV2009::ECFOnline";
  try {
    if (Logging()) Log(format("%s{hPort=%li}", where, hPort ? hPort->handleValue() : -1L));
    // A port the host closed is opened again, with the
    // printer's information, before the probe; one only paused between
    // commands is taken back by the exchange itself.
    if (bPortOpen) {
      bPortaFechada = false;
    } else if (bPortaFechada) {
      if (!OpenComm(kTrue)) {
        if (Logging()) Log(format("%s{Retorno=FALSE,strLastError=%s}", where, strLastError.c_str()));
        return kFalse;
      }
      bPortaFechada = false;
    }
    ClearBuffers();
    BOOL result = SendCommand(std::make_unique<ByteArray>(ByteArray{kSYN}));
    if (result && !arResposta.empty() && arResposta[0] == kDC1) result = AguardaOcupado();
    if (result && arResposta.size() >= 2 && arResposta[0] == kSYN) intSequencia = arResposta[1];
    arCommand.clear();
    arParameters.clear();
    if (Logging()) Log(format("%s{Retorno=%s,strLastError=%s}", where, boolText(result), strLastError.c_str()));
    return result;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

BOOL CECFCV2009::CloseComm() {
  bPortaFechada = true;
  return CECFBase::CloseComm();
}

BOOL CECFCV2009::InitialConfiguration() {
  const char* where = "CECFCV2009::InitialConfiguration";
  const BOOL ok = ReadInfo(where, 15, 0);
  LogResult(where, ok ? "TRUE" : "FALSE");
  return ok;
}

BOOL CECFCV2009::EnviaComandoECF(const ByteArray& command, ByteArray& answer) {
  const char* where = "CECFCV2009::EnviaComandoECF";
  ClearBuffers();
  BOOL ok = SendCommand(std::make_unique<ByteArray>(command));
  // Taken or busy: the reply is asked for. Any other answer is the reply.
  if (ok && !arResposta.empty() && (arResposta[0] == kACK || arResposta[0] == kDC1)) ok = AguardaOcupado();
  if (ok) answer = arAnswer;
  LogResult(where, ok ? "TRUE" : "FALSE");
  return ok;
}

BOOL CECFCV2009::ObtemRegPAFECFIdentification(std::string& strSerial, std::string& strIdent) {
  std::string value;
  strSerial.clear();
  strIdent.clear();
  if (!platform::readKeyValue(kPeidKey, "PEID", value)) return kTrue;
  if (value.size() > 4096) value.resize(4096);
  strSerial = value.substr(0, kSerialChars);
  if (value.size() > kSerialChars) strIdent = value.substr(kSerialChars);
  return kTrue;
}

BOOL CECFCV2009::AtribuiRegPAFECFIdentification(const std::string& strSerial, const std::string& strIdent) {
  std::string serial = strSerial.substr(0, kSerialChars);
  serial.resize(kSerialChars, ' ');
  return platform::writeKeyValue(kPeidKey, "PEID", serial + strIdent) ? kTrue : kFalse;
}

}  // namespace tarvion
