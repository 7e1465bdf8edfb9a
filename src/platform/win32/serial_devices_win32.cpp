// The COM ports Windows knows, as the serial port map in the registry lists
// them. USB identities and permissions are not looked up here: a COM port any
// program may open is opened by whoever comes first.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/serial_devices.h"

namespace tarvion::platform {

std::vector<SerialDevice> listSerialDevices() {
  std::vector<SerialDevice> found;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return found;
  for (DWORD i = 0;; ++i) {
    char name[256];
    BYTE data[256];
    DWORD nameLen = sizeof name, dataLen = sizeof data - 1, type = 0;
    LONG rc = RegEnumValueA(key, i, name, &nameLen, nullptr, &type, data, &dataLen);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataLen] = 0;
    std::string com(reinterpret_cast<const char*>(data));
    while (!com.empty() && com.back() == '\0') com.pop_back();
    SerialDevice d;
    d.path = com;
    d.kind = "com";
    d.driver = std::string(name, nameLen);  // the kernel device ("\Device\Serial0")
    d.access = true;
    if (com.size() > 3 && _strnicmp(com.c_str(), "COM", 3) == 0 &&
        com.find_first_not_of("0123456789", 3) == std::string::npos && com.size() <= 6) {
      int n = std::stoi(com.substr(3));
      if (n >= 1 && n <= 998) d.port = n;
    }
    found.push_back(std::move(d));
  }
  RegCloseKey(key);
  std::sort(found.begin(), found.end(), [](const SerialDevice& a, const SerialDevice& b) {
    // Numbered ports in number order, anything else after them.
    const unsigned pa = static_cast<unsigned>(a.port - 1), pb = static_cast<unsigned>(b.port - 1);
    return pa != pb ? pa < pb : a.path < b.path;
  });
  return found;
}

}  // namespace tarvion::platform
