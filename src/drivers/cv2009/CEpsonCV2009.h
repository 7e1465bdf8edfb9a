// CEpsonCV2009: the 2009 command set through Epson's own library
// (InterfaceEpson) instead of the serial port. Each frame the operations build
// is turned into the library's command text, and the library's reply text
// back into a reply frame, so every operation of CECFCV2009V2 runs unchanged.
// A missing library or function fails the operation with a message; nothing
// is called through a null entry.
#pragma once

#include <string>

#include "drivers/cv2009/CECFCV2009V2.h"
#include "platform/dynamic_library.h"

namespace tarvion {

class CEpsonCV2009 : public CECFCV2009V2 {
 public:
  explicit CEpsonCV2009(int intFabricante);
  // The library from another file (the tests' stand-in).
  CEpsonCV2009(int intFabricante, const std::string& libraryPath);
  const char* ClassName() const override { return "CEpsonCV2009"; }

  BOOL OpenComm(BOOL bReadPrinterInfo) override;
  BOOL ContinueComm() override;
  BOOL PauseComm() override;
  BOOL CloseComm() override;
  BOOL ECFOnline() override;
  BOOL SendCommand(Frame command) override;
  BOOL SetPAFECFIdentification(const std::string&, const std::string&) override { return kTrue; }
  BOOL ResetPAFECFIdentification() override { return kTrue; }

  // The library's command text of a frame: the code as four hex digits (low
  // byte first), the first two parameters as hex digits each closed by '|',
  // the rest as it is. Empty for a packet that is not a frame.
  static std::string CommandText(const ByteArray& frame);
  // The data of a reply text: a repeat of the previous reply at its head cut
  // off, then the status fields at its head skipped.
  static std::string ReplyData(const std::string& reply, const std::string& previous);

  bool LibraryLoaded() const { return library_.loaded(); }

 private:
#ifdef _WIN32
#define TARVION_EPSON_CALL __stdcall
#else
#define TARVION_EPSON_CALL
#endif
  using OpenFn = int(TARVION_EPSON_CALL*)(int speed, unsigned short port);
  using VoidFn = int(TARVION_EPSON_CALL*)();
  using LogFn = int(TARVION_EPSON_CALL*)(const char* path, int level);
  using SendFn = int(TARVION_EPSON_CALL*)(const char* command, char* status, char* reply);
#undef TARVION_EPSON_CALL

  void Load(const std::string& path);
  // False with the message when the entry is missing.
  bool Have(const void* fn, const char* name);
  BOOL OpenThroughLibrary(const char* where);

  platform::DynamicLibrary library_;
  OpenFn fnAbrirPorta_ = nullptr;
  VoidFn fnFecharPorta_ = nullptr, fnEstadoCom_ = nullptr;
  LogFn fnSysLog_ = nullptr;
  SendFn fnSend_ = nullptr;
  std::string strRetornoAnterior_;
};

}  // namespace tarvion
