// What the wine test programs share: the identifiers of the module, the check
// counters and their report, and text helpers.
#pragma once

// windows.h comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>
// clang-format on

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace winetest {

inline const CLSID kControlClsid = {0xE6F0942A, 0x3030, 0x43AA, {0x8C, 0x6E, 0xF3, 0xB5, 0x30, 0x5C, 0x27, 0xD8}};
inline const CLSID kPropPageClsid = {0xA68663A8, 0xF6CD, 0x4235, {0x84, 0x2E, 0x28, 0xEF, 0x26, 0xBB, 0x4A, 0x47}};
inline const GUID kLibId = {0x0D6F643A, 0x0BA4, 0x419E, {0x8B, 0x07, 0xE2, 0xEB, 0x23, 0x5A, 0x65, 0x43}};
inline const IID kDispatchIid = {0x2FD5563F, 0xC739, 0x41F1, {0x82, 0xE3, 0x8E, 0x35, 0xBC, 0x0F, 0xF5, 0x93}};
inline const IID kEventsIid = {0x5FAF3A9B, 0x70FB, 0x48F1, {0x8C, 0x71, 0x3C, 0x6D, 0xD5, 0xFC, 0x17, 0x2B}};

inline const wchar_t kNotInitialised[] =
    L"A comunica\u00e7\u00e3o com a impressora ainda n\u00e3o foi inicializada ou a impressora n\u00e3o foi "
    L"configurada.";

inline int passed = 0, failed = 0;

inline void check(bool ok, const char* what, const char* detail = "") {
  if (ok) {
    ++passed;
    return;
  }
  ++failed;
  std::printf("FAIL: %s %s\n", what, detail);
  std::fflush(stdout);
}

inline std::string hex(HRESULT hr) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "(hr=0x%08lX)", static_cast<unsigned long>(hr));
  return buf;
}

inline void checkHr(HRESULT got, HRESULT want, const char* what) {
  std::string d = "got " + hex(got) + " want " + hex(want);
  check(got == want, what, d.c_str());
}

inline std::string narrow(const wchar_t* w, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += (w[i] >= 32 && w[i] < 127) ? static_cast<char>(w[i]) : '?';
  return s;
}
inline std::string narrow(const std::wstring& w) {
  return narrow(w.data(), w.size());
}

// Prints the closing line the runner looks for; 1 on any failure.
inline int report() {
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}

}  // namespace winetest
