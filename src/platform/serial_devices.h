// The serial devices this machine has, as `tarvion ports` lists them, and the
// explanation given when one of them cannot be opened.
#pragma once

#include <string>
#include <vector>

namespace tarvion::platform {

struct SerialDevice {
  std::string path;  // the device node
  std::string byId;  // its stable link under /dev/serial/by-id, when there is one
  // "uart" (a built-in port), "usb-serial" (an adapter), "usb-acm" (a USB
  // terminal), "usb-printer" (a USB printer node), "named" (known only from a
  // TARVION_PORT_<n> setting) or "com" (a Windows COM port).
  std::string kind;
  std::string driver;  // the kernel driver behind it, when known
  // USB vendor and product ids (4 hex digits) and the device's own strings.
  std::string vendorId, productId, manufacturer, product, serial;
  // The port number it opens as today: ttyS<n> is n+1, a TARVION_PORT_<n>
  // setting gives n, 999 the first device of the USB search. 0: none yet.
  int port = 0;
  // When port is 0, the environment line that gives it a number
  // ("TARVION_PORT_2=/dev/serial/by-id/...").
  std::string setting;
  bool usbSearch = false;  // the USB search (port 999) lists it
  bool access = false;     // the current user may open it for reading and writing
  std::string group;       // the group that owns the device node
};

// Every serial device present, built-in ports first, then USB terminals and
// printer nodes, then devices known only from TARVION_PORT_<n>. On POSIX the
// search reads TARVION_SYSFS_ROOT (default /sys) and TARVION_DEV_ROOT (default /dev).
std::vector<SerialDevice> listSerialDevices();

#ifndef _WIN32
// The program holding a device open.
struct PortHolder {
  long pid = 0;
  std::string name;  // its command name
};

// What to tell the user after a port failed to open with the system error
// err (errno): for a refused permission, the device's group to join; for a
// busy port, which program holds it. group and holder may be unknown (empty,
// null). Empty for errors with nothing to add. Windows-1252.
std::string portFailureDetail(int err, const std::string& path, const std::string& group, const PortHolder* holder);

// The first process found with the device open (through any name of it).
bool findPortHolder(const std::string& path, PortHolder& holder);
// portFailureDetail with the device's group and holder looked up.
std::string explainPortFailure(int err, const std::string& path);
#endif

}  // namespace tarvion::platform
