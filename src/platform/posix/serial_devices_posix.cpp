// The serial devices of a Linux machine, read from sysfs and /dev: built-in
// UARTs that have hardware behind them, USB adapters and terminals, USB printer
// nodes and whatever TARVION_PORT_<n> names. Also the explanation of a port
// that cannot be opened: the group to join, the program that holds it.

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/channel.h"
#include "core/text.h"
#include "platform/posix/sysfs_dir.h"
#include "platform/serial_devices.h"

namespace tarvion::platform {

namespace {

using posix::envOr;
using posix::numberedEntries;

// The first line of a small sysfs file, without surrounding blanks.
std::string readAttribute(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  const auto first = line.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return line.substr(first, line.find_last_not_of(" \t\r\n") - first + 1);
}

std::string realPath(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// A path made comparable: the file it finally names, or itself when it is not there.
std::string identity(const std::string& path) {
  std::string r = realPath(path);
  return r.empty() ? path : r;
}

std::string baseName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool nodeExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::string groupOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  std::vector<char> buf(16384);
  struct group g {};
  struct group* found = nullptr;
  if (::getgrgid_r(st.st_gid, &g, buf.data(), buf.size(), &found) == 0 && found && found->gr_name)
    return found->gr_name;
  return std::to_string(st.st_gid);
}

std::vector<std::string> folderEntries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (struct dirent* e = ::readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A ttyS node exists for every slot the 8250 driver reserves, most of them
// with no chip behind; only a port whose type is known answers.
bool uartAnswers(const std::string& sysEntry, const std::string& node) {
  std::string type = readAttribute(sysEntry + "/type");
  if (!type.empty()) return type != "0";
#if defined(__linux__) && defined(TIOCGSERIAL)
  int fd = ::open(node.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct serial_struct ss {};
  const bool known = ::ioctl(fd, TIOCGSERIAL, &ss) == 0 && ss.type != PORT_UNKNOWN;
  ::close(fd);
  return known;
#else
  (void)node;
  return false;
#endif
}

// The USB device a class entry hangs from: the nearest folder above its
// device link with a vendor id, inside the sysfs tree.
void readUsbAttributes(const std::string& sysRoot, const std::string& sysEntry, SerialDevice& d) {
  std::string dir = realPath(sysEntry + "/device");
  const std::string root = identity(sysRoot);
  while (!dir.empty() && dir.size() > root.size() && dir.compare(0, root.size(), root) == 0) {
    // The nearest driver that is not the generic serial-core "port" one
    // newer kernels hang every UART from: the one that tells the hardware.
    if (d.driver.empty()) {
      const std::string driver = realPath(dir + "/driver");
      if (!driver.empty() && driver.find("/serial-base/") == std::string::npos) d.driver = baseName(driver);
    }
    if (nodeExists(dir + "/idVendor")) {
      d.vendorId = readAttribute(dir + "/idVendor");
      d.productId = readAttribute(dir + "/idProduct");
      d.manufacturer = readAttribute(dir + "/manufacturer");
      d.product = readAttribute(dir + "/product");
      d.serial = readAttribute(dir + "/serial");
      return;
    }
    dir = dir.substr(0, dir.rfind('/'));
  }
}

}  // namespace

std::vector<SerialDevice> listSerialDevices() {
  const std::string sys = envOr("TARVION_SYSFS_ROOT", "/sys");
  const std::string dev = envOr("TARVION_DEV_ROOT", "/dev");

  std::vector<SerialDevice> found;
  std::vector<int> uartNumbers;  // ttyS<n> of each "uart" entry, parallel to found
  auto add = [&](const std::string& sysEntry, const std::string& node, const char* kind, int uart) {
    SerialDevice d;
    d.path = node;
    d.kind = kind;
    readUsbAttributes(sys, sysEntry, d);
    found.push_back(std::move(d));
    uartNumbers.push_back(uart);
  };
  for (const auto& name : numberedEntries(sys + "/class/tty", "ttyS")) {
    const std::string entry = sys + "/class/tty/" + name, node = dev + "/" + name;
    if (nodeExists(node) && uartAnswers(entry, node)) add(entry, node, "uart", std::stoi(name.substr(4)));
  }
  for (const auto& [prefix, kind] : {std::pair{"ttyACM", "usb-acm"}, std::pair{"ttyUSB", "usb-serial"}})
    for (const auto& name : numberedEntries(sys + "/class/tty", prefix)) {
      const std::string node = dev + "/" + name;
      if (nodeExists(node)) add(sys + "/class/tty/" + name, node, kind, -1);
    }
  for (const auto& name : numberedEntries(sys + "/class/usbmisc", "lp")) {
    const std::string node = dev + "/usb/" + name;
    if (nodeExists(node)) add(sys + "/class/usbmisc/" + name, node, "usb-printer", -1);
  }

  // Port numbers the environment gives: the first number naming a device wins,
  // as the first port a program opens would.
  std::map<int, std::string> named;
  std::map<std::string, int> numberOf;
  for (int n = 1; n <= 998; ++n) {
    const std::string value = envOr(("TARVION_PORT_" + std::to_string(n)).c_str(), "");
    if (value.empty()) continue;
    named[n] = value;
    numberOf.emplace(identity(value), n);
  }
  // Devices only the environment knows (a pseudo-terminal, a node the search
  // does not cover) are listed too, when they exist.
  std::set<std::string> listed;
  for (const auto& d : found) listed.insert(identity(d.path));
  for (const auto& [n, value] : named)
    if (nodeExists(value) && listed.insert(identity(value)).second) {
      SerialDevice d;
      d.path = value;
      d.kind = "named";
      found.push_back(std::move(d));
      uartNumbers.push_back(-1);
    }

  // Stable names: /dev/serial/by-id links, by the node they lead to.
  std::map<std::string, std::string> byId;
  const std::string byIdDir = dev + "/serial/by-id";
  for (const auto& link : folderEntries(byIdDir)) {
    const std::string target = realPath(byIdDir + "/" + link);
    if (!target.empty()) byId.emplace(target, byIdDir + "/" + link);
  }

  // The USB search the Bematech drivers run for port 999: any non-empty
  // interface class selects it. The driver takes the first device that opens.
  InterfaceClass anyClass;
  anyClass.bytes[0] = 1;
  std::vector<std::string> searched;
  for (const auto& p : sysports::findUsb(anyClass)) searched.push_back(identity(p));

  // Numbers already spoken for: every TARVION_PORT_<n> and the default number
  // of every built-in port listed.
  std::set<int> taken;
  for (const auto& entry : named) taken.insert(entry.first);
  for (int u : uartNumbers)
    if (u >= 0) taken.insert(u + 1);
  int nextFree = 1;

  for (size_t i = 0; i < found.size(); ++i) {
    SerialDevice& d = found[i];
    const std::string id = identity(d.path);
    if (auto it = byId.find(id); it != byId.end()) d.byId = it->second;
    d.access = ::access(d.path.c_str(), R_OK | W_OK) == 0;
    d.group = groupOf(d.path);
    const auto pos = std::find(searched.begin(), searched.end(), id);
    d.usbSearch = pos != searched.end();
    if (auto it = numberOf.find(id); it != numberOf.end()) {
      d.port = it->second;
    } else if (uartNumbers[i] >= 0 && uartNumbers[i] < 998 && !named.count(uartNumbers[i] + 1)) {
      d.port = uartNumbers[i] + 1;
    } else if (pos == searched.begin()) {
      d.port = 999;
    } else {
      while (taken.count(nextFree)) ++nextFree;
      if (nextFree <= 998) {
        taken.insert(nextFree);
        d.setting = "TARVION_PORT_" + std::to_string(nextFree) + "=" + (d.byId.empty() ? d.path : d.byId);
      }
    }
  }
  return found;
}

std::string portFailureDetail(int err, const std::string& path, const std::string& group, const PortHolder* holder) {
  switch (err) {
    case EACCES:
    case EPERM:
      if (group.empty()) return text::cp("o usuário não pode ler e escrever em ") + path + ".";
      return path + " pertence ao grupo " + group + text::cp("; inclua o usuário nesse grupo.");
    case EBUSY:
      if (holder && holder->pid > 0)
        return path + text::cp(" está em uso pelo processo ") + std::to_string(holder->pid) +
               (holder->name.empty() ? std::string() : " (" + holder->name + ")") + ".";
      return path + text::cp(" está em uso por outro programa.");
    default:
      return {};
  }
}

// The first process (in /proc order) with a descriptor on the same device.
// Only processes the user may look into are seen.
bool findPortHolder(const std::string& path, PortHolder& holder) {
  struct stat target {};
  if (::stat(path.c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) return false;
  bool hit = false;
  DIR* proc = ::opendir("/proc");
  if (!proc) return false;
  while (!hit) {
    struct dirent* p = ::readdir(proc);
    if (!p) break;
    const std::string pid = p->d_name;
    if (pid.empty() || pid.size() > 9 || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string fdDir = "/proc/" + pid + "/fd";
    DIR* fds = ::opendir(fdDir.c_str());
    if (!fds) continue;
    while (struct dirent* f = ::readdir(fds)) {
      if (f->d_name[0] == '.') continue;
      struct stat st {};
      if (::stat((fdDir + "/" + f->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == target.st_rdev) {
        holder.pid = std::stol(pid);
        holder.name = text::utf8ToCp1252(readAttribute("/proc/" + pid + "/comm"));
        hit = true;
        break;
      }
    }
    ::closedir(fds);
  }
  ::closedir(proc);
  return hit;
}

std::string explainPortFailure(int err, const std::string& path) {
  if (err == EBUSY) {
    PortHolder holder;
    return portFailureDetail(err, path, {}, findPortHolder(path, holder) ? &holder : nullptr);
  }
  if (err == EACCES || err == EPERM) return portFailureDetail(err, path, groupOf(path), nullptr);
  return {};
}

}  // namespace tarvion::platform
