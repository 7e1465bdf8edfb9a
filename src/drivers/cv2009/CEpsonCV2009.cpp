// CEpsonCV2009: the maker's library in place of the serial exchange.
#include "drivers/cv2009/CEpsonCV2009.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/text.h"

namespace tarvion {

using namespace cv2009;
using text::cp;
using text::format;

namespace {

constexpr const char* kLibraryBase = "InterfaceEpson";
constexpr size_t kReplyBuffer = 4096;
// Looked up for the log's sake: the driver never calls these.
const char* const kUnused[] = {"EPSON_Serial_Abrir_Fechar_Porta_CMD",
                               "EPSON_Serial_Abrir_PortaAD",
                               "EPSON_Serial_Abrir_PortaEX",
                               "EPSON_Config_Mensagem_Aplicacao_Auto",
                               "EPSON_ESC_ECF_Config_Mensagem_Aplicacao",
                               "EPSON_RelatorioFiscal_LeituraX"};

}  // namespace

CEpsonCV2009::CEpsonCV2009(int maker) : CEpsonCV2009(maker, platform::libraryFileName(kLibraryBase)) {}

CEpsonCV2009::CEpsonCV2009(int maker, const std::string& libraryPath) : CECFCV2009V2(maker) {
  Log("CEpsonCV2009::CEpsonCV2009", cp("início"));
  Load(libraryPath);
  Log("CEpsonCV2009::CEpsonCV2009", "Fim");
}

void CEpsonCV2009::Load(const std::string& path) {
  const char* where = "CEpsonCV2009::CEpsonCV2009";
  std::string error;
  if (!library_.open(path, &error)) {
    Log(where, cp("Não foi possível encontrar o componente InterfaceEpson.dll.") + " " + error);
    return;
  }
  auto find = [&](const char* name) {
    void* p = library_.symbol(name);
    if (!p) Log(where, cp("Não foi possível carregar a função ") + name);
    return p;
  };
  fnAbrirPorta_ = reinterpret_cast<OpenFn>(find("EPSON_Serial_Abrir_Porta"));
  fnFecharPorta_ = reinterpret_cast<VoidFn>(find("EPSON_Serial_Fechar_Porta"));
  fnEstadoCom_ = reinterpret_cast<VoidFn>(find("EPSON_Serial_Obter_Estado_Com"));
  fnSysLog_ = reinterpret_cast<LogFn>(find("EPSON_Sys_Log"));
  fnSend_ = reinterpret_cast<SendFn>(find("EPSON_Send_From_FileEXX"));
  for (const char* name : kUnused) find(name);
}

bool CEpsonCV2009::Have(const void* fn, const char* name) {
  if (fn) return true;
  strLastError = library_.loaded() ? cp(format("Não foi possível carregar a função %s de InterfaceEpson.dll.", name))
                                   : cp("Não foi possível encontrar o componente InterfaceEpson.dll.");
  Log("CEpsonCV2009", strLastError);
  return false;
}

BOOL CEpsonCV2009::OpenThroughLibrary(const char* where) {
  if (!Have(reinterpret_cast<const void*>(fnAbrirPorta_), "EPSON_Serial_Abrir_Porta")) return kFalse;
  const int port = nPortNumber == 999 ? 0 : nPortNumber;
  Log(where, format("EPSON_Serial_Abrir_Porta(%d, %d)", nBaudRate, port));
  const int r = fnAbrirPorta_(nBaudRate, static_cast<unsigned short>(port));
  Log(where, "Abriu");
  return r == 0 ? kTrue : kFalse;
}

BOOL CEpsonCV2009::OpenComm(BOOL bReadPrinterInfo) {
  const char* where = "CEpsonCV2009::OpenComm";
  if (bPortOpen) return kTrue;
  if (fnSysLog_) Log(where, fnSysLog_("C:\\TEMP", 1) == 0 ? "Log ativado." : cp("Não foi possível ativar o log."));
  if (!Have(reinterpret_cast<const void*>(fnAbrirPorta_), "EPSON_Serial_Abrir_Porta")) return kFalse;
  OpenThroughLibrary(where);
  // The library's own answer to the open is not what decides: the exchanges
  // that follow are.
  bPortOpen = kTrue;
  return LoadECFInfo(bReadPrinterInfo);
}

BOOL CEpsonCV2009::ContinueComm() {
  if (!OpenThroughLibrary("CEpsonCV2009::ContinueComm")) {
    if (strLastError.empty()) strLastError = cp("Erro de comunicação.");
    bPortOpen = kFalse;
    return kFalse;
  }
  bPortOpen = kTrue;
  return kTrue;
}

BOOL CEpsonCV2009::PauseComm() {
  if (fnFecharPorta_) fnFecharPorta_();
  bPortOpen = kFalse;
  return kTrue;
}

BOOL CEpsonCV2009::CloseComm() {
  return PauseComm();
}

BOOL CEpsonCV2009::ECFOnline() {
  if (!Have(reinterpret_cast<const void*>(fnEstadoCom_), "EPSON_Serial_Obter_Estado_Com")) return kFalse;
  return fnEstadoCom_() == 0 ? kTrue : kFalse;
}

// Wire example: command 0x0001 with "1|2|abc|" goes as the text "0100" "31|32|abc|".
std::string CEpsonCV2009::CommandText(const ByteArray& frame) {
  if (frame.size() < 6 || frame[0] != kSOH) return {};
  std::string t = format("%2.2X%2.2X", frame[2], frame[3]);
  const size_t length = frame[4] | (static_cast<size_t>(frame[5]) << 8);
  const size_t end = std::min(frame.size(), 6 + length);
  int param = 0;
  for (size_t i = 6; i < end; ++i) {
    const uint8_t b = frame[i];
    if (param < 2) {
      if (b == kSeparator) {
        t += '|';
        ++param;
      } else {
        t += format("%2.2X", b);
      }
    } else {
      t += static_cast<char>(b);
    }
  }
  return t;
}

std::string CEpsonCV2009::ReplyData(const std::string& replyIn, const std::string& previous) {
  std::string reply = replyIn;
  if (!previous.empty() && reply.size() > previous.size() && reply.compare(0, previous.size(), previous) == 0)
    reply = reply.substr(previous.size());
  size_t start = 0;
  int bars = 0;
  size_t third = std::string::npos;
  bool early = false;
  const size_t scan = std::min<size_t>(20, reply.size());
  for (size_t i = 0; i < scan; ++i) {
    if (reply[i] != '|') continue;
    ++bars;
    if (bars == 3) third = i + 1;
    if (i > 0 && reply[i - 1] == '|') {
      start = i + 1;
      early = true;
      break;
    }
  }
  if (!early) start = third == std::string::npos ? 0 : third;
  return reply.substr(start);
}

BOOL CEpsonCV2009::SendCommand(Frame command) {
  const char* where = "CEpsonCV2009::SendCommand";
  if (!command || command->empty()) return kFalse;
  try {
    if (!Have(reinterpret_cast<const void*>(fnSend_), "EPSON_Send_From_FileEXX")) return kFalse;
    if (!ContinueComm()) return kFalse;
    const ByteArray& frame = *command;
    const std::string textCommand = CommandText(frame);
    Log(where, format("EPSON_Send_From_FileEXX(%s)", textCommand.c_str()));
    std::vector<char> status(kReplyBuffer, 0), reply(kReplyBuffer, 0);
    fnSend_(textCommand.c_str(), status.data(), reply.data());
    status.back() = 0;
    reply.back() = 0;
    Log(where, "Retornou de EPSON_Send_From_FileEXX");
    Log(where, format("Status(%s), Retorno(%s)", status.data(), reply.data()));
    const std::string raw(reply.data(), strnlen(reply.data(), reply.size()));
    const std::string data = ReplyData(raw, strRetornoAnterior_);
    strRetornoAnterior_ = raw;
    // A reply frame as the serial printer would have sent it: the sequence
    // and code of the frame, class 0, the last block.
    arResposta.assign(kReplyHeader, 0);
    arResposta[0] = kSOH;
    for (size_t i = 1; i < 4 && i < frame.size(); ++i) arResposta[i] = frame[i];
    arResposta[5] = 0x01;
    arResposta[9] = static_cast<uint8_t>(data.size() & 0xFF);
    arResposta[10] = static_cast<uint8_t>((data.size() >> 8) & 0xFF);
    arResposta.insert(arResposta.end(), data.begin(), data.end());
    arResposta.push_back(0);
    arAnswer = arResposta;
    bMaisBlocos = false;
    PauseComm();
    return kTrue;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

}  // namespace tarvion
