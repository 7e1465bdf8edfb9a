// The operations that name an output file, on the plain driver and on every
// Bematech class (none of which reads the fiscal memory into a file): what each
// answers, that nothing goes to the printer and that no file appears. The
// answers are the ones docs/files.md lists.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "bematech_fake_printer.h"
#include "control/ctrl_state.h"
#include "core/text.h"
#include "driver_port.h"
#include "test_support.h"

using namespace tarvion;
using text::cp;

namespace {

struct FileOperation {
  const char* name;
  std::function<BOOL(CECFBase&, const std::string& path)> call;
};

const FileOperation kOperations[] = {
    {"LeMFDataBIN",
     [](CECFBase& d, const std::string& p) {
       return d.LeMFDataBIN(DateTime::fromParts(2026, 1, 1), DateTime::fromParts(2026, 1, 31), p);
     }},
    {"LeMFContZBIN", [](CECFBase& d, const std::string& p) { return d.LeMFContZBIN(1, 10, p); }},
    {"ReadCFeXML",
     [](CECFBase& d, const std::string& p) {
       std::string xml = "untouched";
       const BOOL r = d.ReadCFeXML("1", "2", 0, 1, xml);
       (void)p;
       EXPECT_EQ(xml, "untouched");  // no text pretends to be the XML either
       return r;
     }},
    {"ReadOperationsByDate",
     [](CECFBase& d, const std::string& p) {
       return d.ReadOperationsByDate(DateTime::fromParts(2026, 1, 1), DateTime::fromParts(2026, 1, 31), p);
     }},
    {"ReadOperationsByCounter", [](CECFBase& d, const std::string& p) { return d.ReadOperationsByCounter(1, 10, p); }},
};

struct Expected {
  const char* driverClass;      // nullptr: the plain CECFBase of an unknown model
  bool fs;                      // the printer speaks the FS protocol
  const char* byDateOrCounter;  // the message of ReadOperationsBy* (UTF-8)
};

}  // namespace

TEST(FileOperations, NoDriverLetsTheHostBelieveAFileWasWritten) {
  const char* const kUnsupported = "Função não suportada pelo modelo de ECF utilizado.";
  const char* const kWinMfd = "Utilize o aplicativo WinMFD fornecido pela Bematech.";
  const Expected drivers[] = {
      {nullptr, false, kUnsupported},     {"CBematech", false, kUnsupported},    {"CBematech2000", true, kWinMfd},
      {"CBematech2100", true, kWinMfd},   {"CBematechMP25", true, kUnsupported}, {"CBematechMP6000", true, kWinMfd},
      {"CBematechMP7000", true, kWinMfd}, {"CIBM4610", true, kWinMfd},
  };
  testsupport::TempDir tmp;
  for (const Expected& e : drivers) {
    const std::string who = e.driverClass ? e.driverClass : "CECFBase";
    // The driver on an open port to a printer: whatever it did would show on the wire.
    auto printer = std::make_shared<bematest::FakeBematech>();
    printer->fs = e.fs;
    printer->data[{35, 1}] = {0x03, 0x10};
    auto dev = std::make_shared<VirtualDevice>(printer);
    ports::attachVirtual(90, dev);
    DriverPtr d = createDriver(e.driverClass);
    ASSERT_TRUE(d) << who;
    testsupport::usePort(*d, 90);
    ASSERT_NE(d->OpenComm(0), 0) << who << ": " << d->strLastError;
    dev->clearWritten();
    for (const FileOperation& op : kOperations) {
      const std::string path = tmp.file(who + "-" + op.name + ".bin");
      const bool byOperations = std::string(op.name).rfind("ReadOperations", 0) == 0;
      d->strLastError.clear();
      const BOOL result = op.call(*d, path);
      if (byOperations) {
        // The reads of the operations tape fail and say why.
        EXPECT_EQ(result, 0) << who << " " << op.name;
        EXPECT_EQ(d->strLastError, cp(e.byDateOrCounter)) << who << " " << op.name;
      } else {
        // The fiscal-memory and CF-e reads answer TRUE as the plain driver does
        // (docs/files.md says so): with nothing written and no error.
        EXPECT_NE(result, 0) << who << " " << op.name;
        EXPECT_EQ(d->strLastError, "") << who << " " << op.name;
      }
      EXPECT_FALSE(std::filesystem::exists(path)) << who << " " << op.name;
    }
    EXPECT_TRUE(dev->written().empty()) << who;
    d->CloseComm();
    d.reset();
    ports::detachVirtual(90);
  }
}
