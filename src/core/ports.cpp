#include <cstdio>
#include <map>
#include <mutex>

#include "core/virtual_wire.h"

namespace tarvion {

InterfaceClass InterfaceClass::parse(const char* braced) {
  InterfaceClass c;
  unsigned v[11] = {};
  if (std::sscanf(braced, "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6],
                  &v[7], &v[8], &v[9], &v[10]) != 11)
    return c;
  // Stored in the byte order of the Windows GUID structure.
  for (int i = 0; i < 4; ++i) c.bytes[i] = static_cast<uint8_t>(v[0] >> (8 * i));
  c.bytes[4] = static_cast<uint8_t>(v[1]);
  c.bytes[5] = static_cast<uint8_t>(v[1] >> 8);
  c.bytes[6] = static_cast<uint8_t>(v[2]);
  c.bytes[7] = static_cast<uint8_t>(v[2] >> 8);
  for (int i = 0; i < 8; ++i) c.bytes[8 + i] = static_cast<uint8_t>(v[3 + i]);
  return c;
}

namespace ports {
namespace {
std::mutex gMutex;
std::map<int, std::shared_ptr<VirtualDevice>>& registry() {
  static std::map<int, std::shared_ptr<VirtualDevice>> r;
  return r;
}
const std::string kVirtualUsbPrefix = "virtual-usb:";
}  // namespace

void attachVirtual(int portNumber, std::shared_ptr<VirtualDevice> device) {
  std::lock_guard<std::mutex> g(gMutex);
  registry()[portNumber] = std::move(device);
}

void detachVirtual(int portNumber) {
  std::lock_guard<std::mutex> g(gMutex);
  registry().erase(portNumber);
}

std::shared_ptr<VirtualDevice> virtualAt(int portNumber) {
  std::lock_guard<std::mutex> g(gMutex);
  auto it = registry().find(portNumber);
  return it == registry().end() ? nullptr : it->second;
}

std::string serialName(int portNumber) {
  if (virtualAt(portNumber))
    return portNumber < 10 ? "COM" + std::to_string(portNumber) : "\\\\.\\COM" + std::to_string(portNumber);
  return sysports::serialName(portNumber);
}

ChannelPtr openSerial(int portNumber, const std::string& name) {
  if (auto v = virtualAt(portNumber)) return v->open();
  return sysports::openSerial(name);
}

std::vector<std::string> findUsb(int portNumber, const InterfaceClass& cls) {
  if (auto v = virtualAt(portNumber)) {
    // A driver without an interface class finds no device, virtual or not.
    if (cls.isZero()) return {};
    return {kVirtualUsbPrefix + std::to_string(portNumber)};
  }
  return sysports::findUsb(cls);
}

ChannelPtr openUsb(int portNumber, const std::string& path) {
  if (path.rfind(kVirtualUsbPrefix, 0) == 0) {
    if (auto v = virtualAt(portNumber)) return v->open();
    platform::setLastError(platform::kErrFileNotFound);
    return nullptr;
  }
  return sysports::openUsb(path);
}

platform::Clock& clockFor(int portNumber) {
  if (auto v = virtualAt(portNumber)) return v->clock();
  return platform::steadyClock();
}

}  // namespace ports
}  // namespace tarvion
