// Every family of the family list is registered in one place: its driver
// classes, its virtual-printer face with the bytes its answers start with and
// its bench model, and the frames the emulator fuzzer writes for it. And every
// model row, through InitializeECF and InitializeCheckPrinter alike, gives its
// driver the settings the table below holds for its class.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "control/ctrl_state.h"
#include "core/capabilities.h"
#include "drivers/bematech/CBematech.h"
#include "drivers/cv2009/CECFCV2009.h"
#include "drivers/driver_classes.h"
#include "drivers/itautec/CItautec.h"
#include "emulator/printers.h"
#include "emulator/registry.h"
#include "fuzz/records.h"
#include "tarvion/tarvion.hpp"
#include "test_support.h"

namespace tarvion {
namespace {

using emulator::FaceFamily;

const DriverFamily* driverFolder(const std::string& folder) {
  for (const DriverFamily& f : driverFamilies())
    if (folder == f.folder) return &f;
  return nullptr;
}

bool hasClass(const DriverFamily& f, const std::string& name) {
  return std::any_of(f.classes.begin(), f.classes.end(), [&](const DriverClass& c) { return name == c.name; });
}

// Everything a printer writes back, in order.
class Collect final : public emulator::ReplySink {
 public:
  void send(const ByteArray& bytes, uint32_t) override { got.insert(got.end(), bytes.begin(), bytes.end()); }
  int64_t nowUs() override { return now += 1000; }
  void hangUp() override {}
  ByteArray got;
  int64_t now = 0;
};

TEST(FamilyRegistry, EveryListedFamilyBringsAllItsParts) {
  const auto& faces = emulator::faceFamilies();
  const auto& records = fuzz::frameRecords();
  ASSERT_FALSE(faces.empty());
  ASSERT_EQ(records.size(), faces.size());  // both come from the one list
  size_t modelCount = 0;
  for (size_t i = 0; i < faces.size(); ++i) {
    const FaceFamily& f = faces[i];
    SCOPED_TRACE(f.name);
    EXPECT_STREQ(records[i].family, f.name);
    const DriverFamily* drivers = driverFolder(f.name);
    ASSERT_NE(drivers, nullptr) << "no driver classes";
    EXPECT_FALSE(drivers->classes.empty());
    EXPECT_FALSE(f.answerStarts.empty());

    // The face serves rows of the fiscal table (or the check table) whose
    // classes are the family's.
    ASSERT_NE(f.models, nullptr);
    const std::vector<emulator::VirtualModel> models = f.models();
    ASSERT_FALSE(models.empty());
    modelCount += models.size();
    bool benchIsOwn = false;
    for (const emulator::VirtualModel& m : models) {
      const caps::ModelRow* row = emulator::virtualModelRow(m.number);
      ASSERT_NE(row, nullptr) << m.number;
      EXPECT_EQ(m.name, row->name);
      EXPECT_TRUE(hasClass(*drivers, row->driverClass)) << row->driverClass;
      EXPECT_EQ(emulator::findVirtualModel(m.number)->name, m.name);  // and the registry has it
      benchIsOwn = benchIsOwn || m.number == f.benchModel;
    }
    // A family without a sale to bench (check printers) names no model.
    EXPECT_TRUE(benchIsOwn || f.benchModel == 0) << "bench model " << f.benchModel;

    // The fuzz frames are this family's: a printer of the family answers the
    // first one, and its answer starts with one of the family's bytes.
    auto printer = emulator::makePrinter(f.benchModel ? f.benchModel : models.front().number, "", "");
    ASSERT_NE(printer, nullptr);
    printer->lineOpened();
    Collect sink;
    int sequence = 0;
    const uint8_t body[] = {0x00};
    const std::vector<ByteArray> packets = records[i].frames(body, sizeof body, false, sequence);
    ASSERT_FALSE(packets.empty());
    for (const ByteArray& p : packets) printer->receive(p.data(), p.size(), sink);
    ASSERT_FALSE(sink.got.empty()) << "the family's own printer did not answer its fuzz frame";
    EXPECT_NE(std::find(f.answerStarts.begin(), f.answerStarts.end(), sink.got[0]), f.answerStarts.end())
        << "answer starts with " << int(sink.got[0]);
    EXPECT_TRUE(records[i].frames(body, 0, false, sequence).empty());
  }
  EXPECT_EQ(emulator::virtualModels().size(), modelCount);  // no model outside a listed family
}

TEST(FamilyRegistry, DriverClassesAreCreatedByTheNamesTheRowsGive) {
  std::set<std::string> names;
  for (const DriverFamily& f : driverFamilies()) {
    SCOPED_TRACE(f.folder);
    EXPECT_FALSE(f.classes.empty());
    for (const DriverClass& c : f.classes) {
      EXPECT_TRUE(names.insert(c.name).second) << c.name << " listed twice";
      ASSERT_NE(c.make, nullptr);
      const DriverPtr d = c.make(0);
      EXPECT_STREQ(d->ClassName(), c.name);
      EXPECT_EQ(findDriverClass(c.name), &c);
    }
  }
  for (const auto* table : {&caps::fiscalModels(), &caps::checkModels()})
    for (const caps::ModelRow& r : *table) EXPECT_EQ(names.count(r.driverClass), 1u) << r.name;
  EXPECT_EQ(findDriverClass("CNoSuchPrinter"), nullptr);
  EXPECT_STREQ(createDriver("CNoSuchPrinter")->ClassName(), "CECFBase");
  EXPECT_STREQ(createDriver(nullptr)->ClassName(), "CECFBase");
}

// Reaches the noise a face sends for the "garbage" fault.
class NoiseFace final : public emulator::PrinterFace {
 public:
  static ByteArray noise(size_t n, uint32_t seed) { return garble(n, seed); }
  void receive(const uint8_t*, size_t, emulator::ReplySink&) override {}
  std::string modelName() const override { return {}; }
};

TEST(FamilyRegistry, NoiseNeverStartsLikeAnAnswerOfAnyFamily) {
  std::set<uint8_t> starts;
  for (const FaceFamily& f : emulator::faceFamilies())
    for (uint8_t b : f.answerStarts) {
      starts.insert(b);
      EXPECT_TRUE(emulator::startsAnAnswer(b)) << f.name << " " << int(b);
    }
  std::set<uint8_t> firsts;
  for (uint32_t seed = 0; seed < 20000; ++seed) {
    const ByteArray n = NoiseFace::noise(3, seed);
    ASSERT_EQ(n.size(), 3u);
    ASSERT_EQ(starts.count(n[0]), 0u) << "seed " << seed << " starts with " << int(n[0]);
    EXPECT_FALSE(emulator::startsAnAnswer(n[0]));
    firsts.insert(n[0]);
  }
  // Still noise: every other first byte turns up.
  EXPECT_EQ(firsts.size(), 256 - starts.size());
  EXPECT_TRUE(NoiseFace::noise(0, 7).empty());
}

// The capability flags of the driver interface, one letter each.
std::string flags(const CECFBase& d) {
  std::string s;
  if (d.SendFullReport) s += 'S';
  if (d.CanAuthenticateDocument) s += 'A';
  if (d.FreeReport) s += 'F';
  if (d.Thermal) s += 'T';
  if (d.CanReadCheck) s += 'R';
  if (d.HasPaperCutter) s += 'C';
  if (d.CanGetCurrentDocumentDateTime) s += 'D';
  // The three discount flags are set together or not at all.
  if (d.CanRegDiscountAnyItem && d.CanCancelDiscountAnyItem && d.CanCCDAfterReport) s += 'I';
  if (d.CanRegDiscountAnyItem != d.CanCancelDiscountAnyItem || d.CanRegDiscountAnyItem != d.CanCCDAfterReport) s += '?';
  return s;
}

constexpr int kESC = 0x1B, kFS = 0x1C;

// What a model's driver holds after the control made it: its class's own
// settings (a class keeps what its base class set unless it sets its own, and
// what no class sets keeps the driver interface's default), and the control's
// creation details of the fiscal table: the columns of models 6 and 29 and the
// Itautec variant code. The check table's drivers get no creation details.
// -1: not this family's.
struct Want {
  int model;          // fiscal model number; 0: `check` names a check printer
  const char* check;  // the check printer's name
  const char* cls;
  int columns;
  const char* flags;  // S A F T R C D I as in flags() above
  int prefix = -1;    // Bematech command prefix; the Z cuts the payments only under ESC
  int maker = -1, bold = -1, taxBases = -1, replyMs = -1;  // 2009 command set
  int variant = -1;                                        // Itautec
};

const Want kWant[] = {
    {1, nullptr, "CBematech", 48, "SA", kESC},
    {6, nullptr, "CBematech", 40, "SA", kESC},
    {2, nullptr, "CBematech2000", 48, "SAFTDI", kFS},
    {3, nullptr, "CBematech2100", 48, "SAFTDI", kFS},
    {4, nullptr, "CBematechMP25", 48, "SAF", kFS},
    {7, nullptr, "CBematechMP6000", 48, "SAFTRCDI", kFS},
    {10, nullptr, "CBematechMP7000", 48, "SAFTRCDI", kFS},
    {26, nullptr, "CIBM4610", 48, "SAFTDI", kFS},
    {54, nullptr, "CECFCV2009", 48, "", -1, 1, 1, 0, 2000},
    {55, nullptr, "CECFCV2009V2", 57, "", -1, 2, 0, 1, 2000},
    {56, nullptr, "CDarumaFS800i", 48, "", -1, 3, 1, 1, 10000},
    {24, nullptr, "CEpson", 48, ""},
    {25, nullptr, "CEpson", 48, ""},
    {19, nullptr, "CFiscNET", 48, ""},
    {23, nullptr, "CElginX5", 48, ""},
    {30, nullptr, "CItautecFiscNet", 48, ""},
    {32, nullptr, "CFiscNET", 48, ""},
    {53, nullptr, "CZPM", 48, ""},
    // Two of the three discount flags, as the FS600 class sets them.
    {13, nullptr, "CDarumaFS600", 40, "SFTD?"},
    {18, nullptr, "CDarumaMach2", 40, "SFTD?"},
    {11, nullptr, "CDaruma", 40, "A"},
    {28, nullptr, "CItautec", 40, "", -1, -1, -1, -1, -1, 0},
    {29, nullptr, "CItautec", 43, "", -1, -1, -1, -1, -1, 15},
    {0, "BEMATECH MP-40 FI II ECF-IF", "CBematech", 48, "SA", kESC},
    {0, "BEMATECH MP-50 FI", "CBematechMP25", 48, "SAF", kFS},
    {0, "BEMATECH MP-7000 TH FI", "CBematechMP7000", 48, "SAFTRCDI", kFS},
    {0, "IBM 4610 SUREMARK", "CIBM4610", 48, "SAFTDI", kFS},
    {0, "PERTOPAY 2023 ECF-IF", "CFiscNET", 48, ""},
    {0, "ZPM ZPM/2ECF LOGGER", "CZPM", 48, ""},
    {0, "ITAUTEC POS4000 ECF-IF/3E II", "CItautec", 40, "", -1, -1, -1, -1, -1, 0},
    {39, nullptr, "CSweda", 40, ""},
    {46, nullptr, "CSwedaST", 48, ""},
    {51, nullptr, "CSwedaST2500", 48, ""},
    {0, "SWEDA IF S-9000I", "CSweda", 40, ""},
    {0, "SWEDA IF ST2500", "CSwedaST2500", 48, ""},
    {0, "PERTOCHECK", "CPertoCheck", 40, ""},
    {0, "PERTOPAY", "CPertoPay", 40, ""},
    {0, "CHRONOS CHECK-PRONTO", "CChronos", 82, ""},
    {0, "IMPRECHEQ", "CImprecheq", 40, ""},
    {0, "DARUMA FS2100T", "CDarumaFS600", 40, "SFTD?"},
    {20, nullptr, "CSchalterECFIF", 40, "A"},
    {38, nullptr, "CSchalterECFIF", 40, "A"},
};

TEST(FamilyRegistry, EachModelRowGivesItsDriverItsClassSettings) {
  testsupport::TempDir tmp;
  for (const Want& w : kWant) {
    const std::string what = w.model ? "model " + std::to_string(w.model) : std::string(w.check);
    SCOPED_TRACE(what);
    CTarvionCtrl c;
    // A port nobody has: the check printer's opening fails, its driver stays.
    constexpr int kNoPort = 987;
    if (w.model)
      ASSERT_EQ(c.InitializeECF(w.model, kNoPort, 9600, 0, 8, 1, 0, 0, 0), -1);
    else
      EXPECT_EQ(c.InitializeCheckPrinter(w.check, kNoPort, 9600, 0, 8, 1), 0);
    CECFBase* d = w.model ? c.state().fiscal.get() : c.state().check.get();
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->ClassName(), w.cls);
    EXPECT_EQ(d->Columns, w.columns);
    EXPECT_EQ(flags(*d), w.flags);

    auto* bematech = dynamic_cast<CBematech*>(d);
    EXPECT_EQ(bematech != nullptr, w.prefix >= 0);
    if (bematech) {
      EXPECT_EQ(bematech->nPrefix, w.prefix);
      EXPECT_EQ(bematech->bCutPaymentsOnZ != 0, w.prefix == kESC);
      // {325DDF96-938C-11D3-9E34-0080C82727F4}, the family's USB device driver.
      EXPECT_EQ(d->usbInterfaceClass.bytes[0], 0x96);
      EXPECT_EQ(d->usbInterfaceClass.bytes[15], 0xF4);
    }
    auto* cv = dynamic_cast<CECFCV2009*>(d);
    EXPECT_EQ(cv != nullptr, w.maker >= 0);
    if (cv) {
      EXPECT_EQ(cv->intFabricante, w.maker);
      EXPECT_EQ(cv->bSuportaNegrito, w.bold);
      EXPECT_EQ(cv->bBaseCalculoDoECF, w.taxBases);
      EXPECT_EQ(cv->intTimeoutResposta, w.replyMs);
    }
    auto* itautec = dynamic_cast<CItautec*>(d);
    EXPECT_EQ(itautec != nullptr, w.variant >= 0);
    if (itautec) {
      EXPECT_EQ(itautec->nItautecVariant, w.variant);
    }
  }
}

}  // namespace
}  // namespace tarvion
