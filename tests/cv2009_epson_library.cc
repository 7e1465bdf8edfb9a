// A stand-in for the printer maker's InterfaceEpson library, built as a shared
// library for the tests: it records every call in order and answers the way
// the driver expects the real one to (0 for success; the reply text with its
// status fields at the head). The tests reach its record through
// StandIn_Calls and set its next reply with StandIn_SetReply.
#include <cstdio>
#include <cstring>
#include <string>

#if defined(_WIN32)
#define STANDIN_EXPORT extern "C" __declspec(dllexport)
#define STANDIN_CALL __stdcall
#else
#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#define STANDIN_CALL
#endif

namespace {
std::string calls;
std::string nextReply = "0000|0000||";
int openResult = 0;
}  // namespace

STANDIN_EXPORT int STANDIN_CALL EPSON_Serial_Abrir_Porta(int speed, unsigned short port) {
  calls += "open(" + std::to_string(speed) + "," + std::to_string(port) + ");";
  return openResult;
}

STANDIN_EXPORT int STANDIN_CALL EPSON_Serial_Fechar_Porta() {
  calls += "close;";
  return 0;
}

STANDIN_EXPORT int STANDIN_CALL EPSON_Serial_Obter_Estado_Com() {
  calls += "state;";
  return 0;
}

STANDIN_EXPORT int STANDIN_CALL EPSON_Sys_Log(const char* path, int level) {
  calls += std::string("log(") + path + "," + std::to_string(level) + ");";
  return 0;
}

STANDIN_EXPORT int STANDIN_CALL EPSON_Send_From_FileEXX(const char* command, char* status, char* reply) {
  calls += std::string("send(") + command + ");";
  std::strcpy(status, "0000");
  std::snprintf(reply, 4096, "%s", nextReply.c_str());
  return 0;
}

STANDIN_EXPORT const char* StandIn_Calls() {
  return calls.c_str();
}

STANDIN_EXPORT void StandIn_Reset() {
  calls.clear();
  nextReply = "0000|0000||";
  openResult = 0;
}

STANDIN_EXPORT void StandIn_SetReply(const char* reply) {
  nextReply = reply;
}
