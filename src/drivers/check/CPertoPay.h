// CPertoPay: the Perto commands through the maker's library (PertoPay) instead
// of the serial port. The library frames each command and returns the
// printer's answer as text; the operations and the status check are
// CPertoCheck's.
//
// The library is looked for in the shared folder of this product under the
// system's folder of common program files (platform::commonFilesFolder):
//   <common files>\Norvex Dirazido\Shared\PertoPay.dll       (Windows)
//   $XDG_DATA_HOME/Norvex Dirazido/Shared/libPertoPay.so      (elsewhere)
// A missing library or function fails the open with a message; nothing is
// called through a null entry.
#pragma once

#include <string>

#include "drivers/check/CPertoCheck.h"
#include "platform/dynamic_library.h"

namespace tarvion {

class CPertoPay : public CPertoCheck {
 public:
  CPertoPay();
  // The library from another file (the tests' stand-in).
  explicit CPertoPay(const std::string& libraryPath);
  ~CPertoPay() override;
  const char* ClassName() const override { return "CPertoPay"; }

  BOOL OpenComm(BOOL bReadPrinterInfo) override;
  BOOL CloseComm() override;
  BOOL SendCommand(Frame command) override;
  Frame BuildCommand(const ByteArray& command, const ByteArray& parameters) override;
  std::string OversizedCommand() const override;

  // Where the library is looked for.
  static std::string DefaultLibraryPath();
  // "COM%i:%i,n,%i,%i": port, baud rate, data bits, stop bits.
  static std::string PortDescription(int port, int baud, int dataBits, int stopBits);

  bool LibraryLoaded() const { return library_.loaded(); }

  static constexpr size_t kRequestSize = 255, kReplySize = 255, kPortSize = 256;

 private:
#ifdef _WIN32
#define TARVION_PERTO_CALL __stdcall
#else
#define TARVION_PERTO_CALL
#endif
  using OpenFn = int(TARVION_PERTO_CALL*)(char* port);
  using CloseFn = int(TARVION_PERTO_CALL*)();
  using ProcessFn = int(TARVION_PERTO_CALL*)(char* request, char* reply);
#undef TARVION_PERTO_CALL

  void Release();

  std::string libraryPath_;
  platform::DynamicLibrary library_;
  OpenFn fnIniciaPorta_ = nullptr;
  CloseFn fnFechaPorta_ = nullptr;
  ProcessFn fnProcessaComando_ = nullptr;
};

}  // namespace tarvion
