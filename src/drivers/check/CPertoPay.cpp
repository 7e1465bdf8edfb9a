// CPertoPay: the maker's library in place of the serial exchange.
#include "drivers/check/CPertoPay.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tarvion {

using namespace check;
using text::cp;
using text::format;

CPertoPay::CPertoPay() : CPertoPay(DefaultLibraryPath()) {}

CPertoPay::CPertoPay(const std::string& libraryPath) : libraryPath_(libraryPath) {
  portProfile.logTag = "CPertoPay";
  // The library's reply has no check byte after its ETX.
  nReplyTrailer = perto::kLibraryTrailer;
}

CPertoPay::~CPertoPay() {
  try {
    if (bPortOpen) CloseComm();
    Release();
  } catch (...) {
  }
}

std::string CPertoPay::DefaultLibraryPath() {
  const std::string folder = platform::commonFilesFolder();
  if (folder.empty()) return {};
#ifdef _WIN32
  const char* sep = "\\";
#else
  const char* sep = "/";
#endif
  return folder + sep + "Norvex Dirazido" + sep + "Shared" + sep + platform::libraryFileName("PertoPay");
}

std::string CPertoPay::PortDescription(int port, int baud, int dataBits, int stopBits) {
  return format("COM%i:%i,n,%i,%i", port, baud, dataBits, stopBits);
}

void CPertoPay::Release() {
  fnIniciaPorta_ = nullptr;
  fnFechaPorta_ = nullptr;
  fnProcessaComando_ = nullptr;
  library_.close();
}

BOOL CPertoPay::OpenComm(BOOL bReadPrinterInfo) {
  const char* where = "CPertoPay::OpenComm";
  Log(where, format("COM%i", nPortNumber));
  if (bPortOpen) return kTrue;
  // A library left from an earlier open is let go first.
  Release();
  std::string error;
  if (libraryPath_.empty() || !library_.open(libraryPath_, &error)) {
    strLastError = cp(
        format("Não foi possível carregar a biblioteca %s.", libraryPath_.empty() ? "PertoPay" : libraryPath_.c_str()));
    Log(where, strLastError + " " + error);
    return kFalse;
  }
  fnIniciaPorta_ = library_.function<OpenFn>("IniciaPorta");
  fnFechaPorta_ = library_.function<CloseFn>("FechaPorta");
  fnProcessaComando_ = library_.function<ProcessFn>("ProcessaComando");
  for (auto [fn, name] :
       {std::pair<const void*, const char*>{reinterpret_cast<const void*>(fnIniciaPorta_), "IniciaPorta"},
        {reinterpret_cast<const void*>(fnFechaPorta_), "FechaPorta"},
        {reinterpret_cast<const void*>(fnProcessaComando_), "ProcessaComando"}}) {
    if (fn) continue;
    strLastError = cp(format("Não foi possível carregar a função %s de PertoPay.", name));
    Log(where, strLastError);
    Release();
    return kFalse;
  }
  const std::string port = PortDescription(nPortNumber, nBaudRate, nDataBits, nStopBits);
  std::vector<char> buffer(kPortSize, 0);
  std::memcpy(buffer.data(), port.data(), std::min(port.size(), kPortSize - 1));
  Log(where, format("IniciaPorta(%s)", buffer.data()));
  if (fnIniciaPorta_(buffer.data()) == 0) {
    strLastError = cp("Erro inicializando PertoPay.");
    Log(where, strLastError);
    Release();
    return kFalse;
  }
  bPortOpen = kTrue;
  return LoadECFInfo(bReadPrinterInfo);
}

BOOL CPertoPay::CloseComm() {
  if (fnFechaPorta_ && bPortOpen) fnFechaPorta_();
  Release();
  bPortOpen = kFalse;
  return kTrue;
}

std::string CPertoPay::OversizedCommand() const {
  // The request buffer ends in a zero the command never reaches.
  const size_t n = arCommand.size() + arParameters.size();
  return n < kRequestSize ? std::string() : fields::textTooLong("Comando", n, kRequestSize - 1);
}

// Wire example: "P" goes to the library as the text "P"; the library frames it.
Frame CPertoPay::BuildCommand(const ByteArray& command, const ByteArray& parameters) {
  if (command.empty()) return nullptr;
  auto f = std::make_unique<ByteArray>(command);
  f->insert(f->end(), parameters.begin(), parameters.end());
  return f;
}

BOOL CPertoPay::SendCommand(Frame command) {
  const char* where = "CPertoPay::SendCommand";
  try {
    if (!command) return kTrue;
    arAnswer.clear();
    strLastError.clear();
    if (!fnProcessaComando_) {
      strLastError = cp("Erro enviando comando para PertoPay.");
      lastOutcome = exchange::Outcome::NotWritten;
      return kFalse;
    }
    std::vector<char> request(kRequestSize, 0), reply(kReplySize + 1, 0);
    std::memcpy(request.data(), command->data(), command->size());
    command.reset();
    ++nCommandsWritten;
    const int result = fnProcessaComando_(request.data(), reply.data());
    reply[kReplySize] = 0;  // whatever the library wrote, the text ends within the buffer
    if (result == 0) {
      strLastError = cp("Erro enviando comando para PertoPay.");
      Log(where, strLastError);
      lastOutcome = exchange::Outcome::MayHaveRun;
      return kFalse;
    }
    const size_t n = std::strlen(reply.data());
    arAnswer.assign(reply.data(), reply.data() + n);
    // The library hands the answer over without its frame: framed here, it
    // reads like the serial printer's.
    perto::frameReply(arAnswer);
    int code = 0;
    if (!perto::statusCode(arAnswer, code)) {
      strLastError = cp("Resposta inválida da impressora.");
      lastOutcome = exchange::Outcome::MayHaveRun;
      return kFalse;
    }
    const BOOL ok = CECFBase::SendCommand(std::make_unique<ByteArray>());
    lastOutcome = ok ? exchange::Outcome::Done : exchange::Outcome::Refused;
    return ok;
  } catch (...) {
    RecordError(where, cp("Erro desconhecido."));
    return kFalse;
  }
}

}  // namespace tarvion
