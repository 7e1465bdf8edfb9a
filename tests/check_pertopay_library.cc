// A stand-in for the printer maker's PertoPay library, built as a shared
// library for the tests: it records every call in order and answers the way a
// Perto printer behind it would, as unframed text ("000" and the data). The
// tests reach its record through StandIn_Calls, set its next replies with
// StandIn_SetReply and make its calls fail with StandIn_SetResults.
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
std::string reply = "000";
int openResult = 1, sendResult = 1;
}  // namespace

STANDIN_EXPORT int STANDIN_CALL IniciaPorta(char* port) {
  calls += std::string("open(") + port + ");";
  return openResult;
}

STANDIN_EXPORT int STANDIN_CALL FechaPorta() {
  calls += "close;";
  return 1;
}

STANDIN_EXPORT int STANDIN_CALL ProcessaComando(char* request, char* answer) {
  calls += std::string("send(") + request + ");";
  std::snprintf(answer, 255, "%s", reply.c_str());
  return sendResult;
}

STANDIN_EXPORT const char* StandIn_Calls() {
  return calls.c_str();
}

STANDIN_EXPORT void StandIn_Reset() {
  calls.clear();
  reply = "000";
  openResult = 1;
  sendResult = 1;
}

STANDIN_EXPORT void StandIn_SetReply(const char* text) {
  reply = text;
}

STANDIN_EXPORT void StandIn_SetResults(int open, int send) {
  openResult = open;
  sendResult = send;
}
