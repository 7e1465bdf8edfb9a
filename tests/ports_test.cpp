// The machine's serial devices as `tarvion ports` finds them (on a fake sysfs
// and /dev tree), and the messages of a port refused for permission or held
// by another program.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "core/ecf_base.h"
#include "core/text.h"
#include "driver_port.h"
#include "platform/platform.h"
#include "platform/serial_devices.h"
#include "test_support.h"

namespace tarvion {
namespace {

namespace fs = std::filesystem;
using platform::SerialDevice;
using text::cp;

void writeFile(const fs::path& p, const std::string& content) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << content << "\n";
}

std::string groupName(gid_t gid) {
  struct group* g = getgrgid(gid);
  return g ? g->gr_name : std::to_string(gid);
}

// A pseudo-terminal whose slave end the tests open as a port.
struct Pty {
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) slave = ptsname(master);
  }
  ~Pty() {
    if (master >= 0) close(master);
  }
  int master = -1;
  std::string slave;
};

const char* const kPortVariables[] = {"TARVION_PORT_1", "TARVION_PORT_2", "TARVION_PORT_3", "TARVION_PORT_4",
                                      "TARVION_PORT_5", "TARVION_PORT_6", "TARVION_PORT_7", "TARVION_USB_DEVICE"};

// A machine with two built-in UART slots (one with a chip, one empty) plus a
// third UART, an FTDI adapter with a by-id link, a Bematech printer on USB CDC
// and a USB printer node.
class FakeMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tarvion-machine-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = fs::canonical(tmpl);
    const fs::path sys = root_ / "sys", devices = sys / "devices";
    const fs::path uartDev = devices / "platform/serial8250", uartDrv = sys / "bus/platform/drivers/serial8250";
    const fs::path ftdi = devices / "pci0000:00/0000:00:14.0/usb1/1-2";
    const fs::path bema = devices / "pci0000:00/0000:00:14.0/usb2/2-1";
    const fs::path lp = devices / "pci0000:00/0000:00:14.0/usb3/3-4";
    usbDevice(ftdi, "0403", "6001", "FTDI", "FT232R USB UART", "A1B2C3");
    usbDevice(bema, "0b1b", "0003", "Bematech", "MP-4200 TH", "4200123");
    usbDevice(lp, "0b1b", "0004", "", "Impressora", "");
    fs::create_directories(uartDrv);
    fs::create_directories(uartDev);
    fs::create_directory_symlink(uartDrv, uartDev / "driver");
    entry("tty", "ttyS0", uartDev, "4");
    entry("tty", "ttyS1", uartDev, "0");  // a slot without a chip
    entry("tty", "ttyS3", uartDev, "4");
    entry("tty", "ttyUSB0", ftdi / "2-1:1.0/ttyUSB0", "", sys / "bus/usb-serial/drivers/ftdi_sio");
    entry("tty", "ttyACM0", bema / "2-1:1.0", "", sys / "bus/usb/drivers/cdc_acm");
    entry("usbmisc", "lp0", lp / "3-4:1.0", "", sys / "bus/usb/drivers/usblp");
    fs::create_directories(root_ / "dev/serial/by-id");
    byIdUsb0_ = (root_ / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0").string();
    fs::create_directory_symlink("../../ttyUSB0", byIdUsb0_);
    for (const char* v : kPortVariables) unsetenv(v);
    setenv("TARVION_SYSFS_ROOT", sys.c_str(), 1);
    setenv("TARVION_DEV_ROOT", (root_ / "dev").c_str(), 1);
  }
  void TearDown() override {
    for (const char* v : kPortVariables) unsetenv(v);
    unsetenv("TARVION_SYSFS_ROOT");
    unsetenv("TARVION_DEV_ROOT");
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  static void usbDevice(const fs::path& dir, const char* vid, const char* pid, const char* maker, const char* product,
                        const char* serial) {
    writeFile(dir / "idVendor", vid);
    writeFile(dir / "idProduct", pid);
    if (*maker) writeFile(dir / "manufacturer", maker);
    writeFile(dir / "product", product);
    if (*serial) writeFile(dir / "serial", serial);
  }

  // A class entry with its device link (and driver link), its type when given,
  // and the device node.
  void entry(const char* cls, const char* name, const fs::path& device, const char* type, const fs::path& driver = {}) {
    const fs::path dir = root_ / "sys/class" / cls / name;
    fs::create_directories(dir);
    fs::create_directories(device);
    fs::create_directory_symlink(fs::relative(device, dir), dir / "device");
    if (!driver.empty() && !fs::exists(device / "driver")) {
      fs::create_directories(driver);
      fs::create_directory_symlink(driver, device / "driver");
    }
    if (*type) writeFile(dir / "type", type);
    writeFile(std::string(cls) == "usbmisc" ? root_ / "dev/usb" / name : root_ / "dev" / name, "");
  }

  std::string dev(const std::string& rel) const { return (root_ / "dev" / rel).string(); }

  fs::path root_;
  std::string byIdUsb0_;
};

std::map<std::string, SerialDevice> byPath(const std::vector<SerialDevice>& list) {
  std::map<std::string, SerialDevice> m;
  for (const auto& d : list) m[d.path] = d;
  return m;
}

TEST_F(FakeMachine, DevicesAreListedWithTheirUsbIdentityInSearchOrder) {
  const auto list = platform::listSerialDevices();
  std::vector<std::string> paths;
  for (const auto& d : list) paths.push_back(d.path);
  // The empty UART slot (ttyS1) is left out; built-in ports come first.
  EXPECT_EQ(paths,
            (std::vector<std::string>{dev("ttyS0"), dev("ttyS3"), dev("ttyACM0"), dev("ttyUSB0"), dev("usb/lp0")}));
  auto m = byPath(list);
  struct Row {
    std::string path, kind, driver, vid, pid, maker, product, serial, byId;
    bool usbSearch;
  };
  const Row rows[] = {
      {dev("ttyS0"), "uart", "serial8250", "", "", "", "", "", "", false},
      {dev("ttyACM0"), "usb-acm", "cdc_acm", "0b1b", "0003", "Bematech", "MP-4200 TH", "4200123", "", true},
      {dev("ttyUSB0"), "usb-serial", "ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART", "A1B2C3", byIdUsb0_, true},
      {dev("usb/lp0"), "usb-printer", "usblp", "0b1b", "0004", "", "Impressora", "", "", true},
  };
  const std::string me = groupName(getegid());
  for (const auto& r : rows) {
    SCOPED_TRACE(r.path);
    ASSERT_TRUE(m.count(r.path));
    const SerialDevice& d = m[r.path];
    EXPECT_EQ(d.kind, r.kind);
    EXPECT_EQ(d.driver, r.driver);
    EXPECT_EQ(d.vendorId, r.vid);
    EXPECT_EQ(d.productId, r.pid);
    EXPECT_EQ(d.manufacturer, r.maker);
    EXPECT_EQ(d.product, r.product);
    EXPECT_EQ(d.serial, r.serial);
    EXPECT_EQ(d.byId, r.byId);
    EXPECT_EQ(d.usbSearch, r.usbSearch);
    EXPECT_EQ(d.access, access(r.path.c_str(), R_OK | W_OK) == 0);
    EXPECT_EQ(d.group, me);
  }
}

// How each device is reached: its own number, the USB search, or the setting
// to add, under different environments.
TEST_F(FakeMachine, EachDeviceGetsItsPortNumberOrTheSettingThatGivesOne) {
  Pty pty;
  ASSERT_FALSE(pty.slave.empty());
  struct Expect {
    std::string path;
    int port;
    std::string setting;
  };
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> env;
    std::vector<Expect> expected;
  };
  const Case cases[] = {
      {"defaults",
       {},
       {{dev("ttyS0"), 1, ""},
        {dev("ttyS3"), 4, ""},
        {dev("ttyACM0"), 999, ""},
        // Free numbers skip those of the built-in ports (1 and 4).
        {dev("ttyUSB0"), 0, "TARVION_PORT_2=" + byIdUsb0_},
        {dev("usb/lp0"), 0, "TARVION_PORT_3=" + dev("usb/lp0")}}},
      {"settings in use",
       // Port 4 moved elsewhere: ttyS3 needs a number of its own. Port 3 names
       // the adapter through its by-id link; port 7 a pseudo-terminal.
       {{"TARVION_PORT_4", "/nonexistent/tty"},
        {"TARVION_PORT_3", byIdUsb0_},
        {"TARVION_PORT_7", pty.slave},
        {"TARVION_PORT_2", dev("ttyS0")}},
       {{dev("ttyS0"), 2, ""},
        {dev("ttyS3"), 0, "TARVION_PORT_5=" + dev("ttyS3")},
        {dev("ttyACM0"), 999, ""},
        {dev("ttyUSB0"), 3, ""},
        {dev("usb/lp0"), 0, "TARVION_PORT_6=" + dev("usb/lp0")},
        {pty.slave, 7, ""}}},
      {"one USB device chosen",
       // The search then finds only the chosen device.
       {{"TARVION_USB_DEVICE", dev("usb/lp0")}},
       {{dev("ttyS0"), 1, ""},
        {dev("ttyS3"), 4, ""},
        {dev("ttyACM0"), 0, "TARVION_PORT_2=" + dev("ttyACM0")},
        {dev("ttyUSB0"), 0, "TARVION_PORT_3=" + byIdUsb0_},
        {dev("usb/lp0"), 999, ""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* v : kPortVariables) unsetenv(v);
    for (const auto& [k, v] : c.env) setenv(k.c_str(), v.c_str(), 1);
    const auto list = platform::listSerialDevices();
    ASSERT_EQ(list.size(), c.expected.size());
    auto m = byPath(list);
    for (const auto& e : c.expected) {
      SCOPED_TRACE(e.path);
      ASSERT_TRUE(m.count(e.path));
      EXPECT_EQ(m[e.path].port, e.port);
      EXPECT_EQ(m[e.path].setting, e.setting);
    }
  }
  EXPECT_EQ(byPath(platform::listSerialDevices())[dev("usb/lp0")].usbSearch, true);
}

TEST_F(FakeMachine, NothingIsListedOnAMachineWithoutSerialDevices) {
  fs::remove_all(root_ / "sys/class");
  EXPECT_TRUE(platform::listSerialDevices().empty());
}

TEST(PortFailureMessages, TellWhichGroupToJoinOrWhoHoldsThePort) {
  const platform::PortHolder minicom{1234, "minicom"}, nameless{77, ""};
  struct Case {
    int err;
    std::string group;
    const platform::PortHolder* holder;
    std::string expected;  // UTF-8
  };
  const Case cases[] = {
      {EACCES, "dialout", nullptr, "/dev/ttyUSB0 pertence ao grupo dialout; inclua o usuário nesse grupo."},
      {EPERM, "uucp", nullptr, "/dev/ttyUSB0 pertence ao grupo uucp; inclua o usuário nesse grupo."},
      {EACCES, "", nullptr, "o usuário não pode ler e escrever em /dev/ttyUSB0."},
      {EBUSY, "", &minicom, "/dev/ttyUSB0 está em uso pelo processo 1234 (minicom)."},
      {EBUSY, "", &nameless, "/dev/ttyUSB0 está em uso pelo processo 77."},
      {EBUSY, "", nullptr, "/dev/ttyUSB0 está em uso por outro programa."},
      {EIO, "dialout", &minicom, ""},
      {ENOTTY, "", nullptr, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(platform::portFailureDetail(c.err, "/dev/ttyUSB0", c.group, c.holder), cp(c.expected)) << c.err;
}

// The driver's message keeps the code and the system's text first.
TEST(PortFailureMessages, DriverMessageAppendsTheExplanationToTheSystemText) {
  CECFBase d;
  platform::setLastError(EACCES);
  platform::setLastErrorDetail(platform::portFailureDetail(EACCES, "/dev/ttyUSB0", "dialout", nullptr));
  d.SetSystemError();
  EXPECT_EQ(d.strLastError, "(13)" + platform::systemErrorText(EACCES) + ": /dev/ttyUSB0 pertence ao grupo dialout" +
                                cp("; inclua o usuário nesse grupo."));
  // A later error does not inherit the explanation.
  platform::setLastError(EACCES);
  d.SetSystemError();
  EXPECT_EQ(d.strLastError, "(13)" + platform::systemErrorText(EACCES));
  platform::setLastError(platform::kErrFileNotFound);
  d.SetSystemError();
  EXPECT_EQ(d.strLastError, cp("(2)Falha na comunicação com o ECF."));
}

TEST(PortFailureMessages, RefusedPermissionNamesTheDevicesGroup) {
  testsupport::TempDir tmp;
  const std::string node = tmp.file("ttyFake");
  std::ofstream(node) << "";
  ASSERT_EQ(chown(node.c_str(), static_cast<uid_t>(-1), 0), 0);
  EXPECT_EQ(platform::explainPortFailure(EACCES, node),
            node + " pertence ao grupo " + groupName(0) + cp("; inclua o usuário nesse grupo."));
  // A regular file is no device anyone can hold.
  EXPECT_EQ(platform::explainPortFailure(EBUSY, node), node + cp(" está em uso por outro programa."));
}

// Two drivers on one pseudo-terminal: the second is refused and told who holds it.
TEST(PortFailureMessages, BusyPortNamesTheProcessHoldingIt) {
  testsupport::TempDir tmp;
  Pty pty;
  ASSERT_FALSE(pty.slave.empty());
  setenv("TARVION_PORT_8", pty.slave.c_str(), 1);
  struct Unset {
    ~Unset() { unsetenv("TARVION_PORT_8"); }
  } unset;
  CECFBase first, second;
  for (CECFBase* d : {&first, &second}) {
    testsupport::usePort(*d, 8);
  }
  ASSERT_EQ(first.OpenComm(0), 1) << first.strLastError;
  EXPECT_EQ(second.OpenComm(0), 0);
  std::string comm;
  std::getline(std::ifstream("/proc/self/comm"), comm);
  EXPECT_EQ(second.strLastError, "(16)" + platform::systemErrorText(EBUSY) + ": " + pty.slave +
                                     cp(" está em uso pelo processo ") + std::to_string(getpid()) + " (" + comm + ").");

  // Released, the port opens for the other driver.
  first.CloseComm();
  EXPECT_EQ(second.OpenComm(0), 1) << second.strLastError;
  second.CloseComm();
}

}  // namespace
}  // namespace tarvion
