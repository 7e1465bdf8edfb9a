// The per-user key store on Windows: string values in the registry under
// HKEY_CURRENT_USER. The registry makes each value write atomic by itself.
#include <windows.h>

#include <vector>

#include "platform/keystore.h"

namespace tarvion::platform {

namespace {

// The registry takes key paths without a trailing backslash.
std::string registryPath(const std::string& keyPath) {
  std::string path = keyPath;
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace

bool readKeyValue(const std::string& keyPath, const std::string& valueName, std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_CURRENT_USER, registryPath(keyPath).c_str(), &key) != ERROR_SUCCESS) return false;
  bool ok = false;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, valueName.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    std::vector<char> buf(size + 1, '\0');
    DWORD got = size;
    if (RegQueryValueExA(key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &got) ==
        ERROR_SUCCESS) {
      // A stored string may or may not carry its terminating zero.
      size_t n = got;
      while (n > 0 && buf[n - 1] == '\0') --n;
      value.assign(buf.data(), n);
      ok = true;
    }
  }
  RegCloseKey(key);
  return ok;
}

bool writeKeyValue(const std::string& keyPath, const std::string& valueName, const std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_CURRENT_USER, registryPath(keyPath).c_str(), &key) != ERROR_SUCCESS) return false;
  const bool ok = RegSetValueExA(key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

}  // namespace tarvion::platform
