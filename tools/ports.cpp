// `tarvion ports`: the serial devices of this machine, the port number each one
// opens as (or the setting that gives it one), and whether this user may open it.
#include <iostream>
#include <string>
#include <vector>

#include "control/script.h"
#include "platform/serial_devices.h"
#include "tools/commands.h"

namespace tarvion::tool {
namespace {

using platform::SerialDevice;

std::string jsonText(const std::string& key, const std::string& value) {
  return script::jsonString(key) + ":" + (value.empty() ? std::string("null") : script::jsonString(value));
}

std::string jsonLine(const SerialDevice& d) {
  std::string o = "{" + jsonText("path", d.path) + "," + jsonText("byId", d.byId) + "," + jsonText("kind", d.kind) +
                  "," + jsonText("driver", d.driver) + "," + jsonText("vendorId", d.vendorId) + "," +
                  jsonText("productId", d.productId) + "," + jsonText("manufacturer", d.manufacturer) + "," +
                  jsonText("product", d.product) + "," + jsonText("serial", d.serial) + ",";
  o += script::jsonString("port") + ":" + (d.port ? std::to_string(d.port) : std::string("null")) + ",";
  o += jsonText("setting", d.setting) + ",";
  o += script::jsonString("usbSearch") + ":" + (d.usbSearch ? "true" : "false") + ",";
  o += script::jsonString("access") + ":" + (d.access ? "true" : "false") + ",";
  o += jsonText("group", d.group) + "}";
  return o;
}

// One line: the device, what it is, how Tarvion reaches it, whether it may.
std::string humanLine(const SerialDevice& d) {
  std::string line = d.path + "  " + d.kind;
  if (!d.driver.empty()) line += "  " + d.driver;
  if (!d.vendorId.empty()) line += "  " + d.vendorId + ":" + d.productId;
  std::string name = d.manufacturer;
  if (!d.product.empty()) name += (name.empty() ? "" : " ") + d.product;
  if (!name.empty()) line += "  " + script::humanString(name);
  if (!d.serial.empty()) line += "  serial " + script::humanString(d.serial);
  if (!d.byId.empty()) line += "  by-id " + d.byId;
  if (d.port == 999)
    line += "  port 999 (USB search)";
  else if (d.port)
    line += "  port " + std::to_string(d.port);
  else if (!d.setting.empty())
    line += "  needs " + d.setting;
  else
    line += "  no free port number";
  if (d.access)
    line += "  access ok";
  else
    line += "  no access: join group " + d.group;
  return line;
}

}  // namespace

int runPorts(bool json) {
  const std::vector<SerialDevice> devices = platform::listSerialDevices();
  if (json) {
    std::cout << "[";
    for (size_t i = 0; i < devices.size(); ++i) std::cout << (i ? ",\n" : "\n") << jsonLine(devices[i]);
    std::cout << (devices.empty() ? "]\n" : "\n]\n");
    return 0;
  }
  if (devices.empty()) std::cerr << "tarvion ports: no serial devices found\n";
  for (const auto& d : devices) std::cout << humanLine(d) << "\n";
  return 0;
}

}  // namespace tarvion::tool
