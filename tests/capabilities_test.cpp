// The model rows are the one description of each model: the control creates the
// row's class and hands the driver its row.
#include "core/capabilities.h"

#include <gtest/gtest.h>

#include "control/ctrl_state.h"
#include "drivers/cv2009/CECFCV2009.h"
#include "drivers/itautec/CItautec.h"
#include "tarvion/tarvion.hpp"
#include "test_support.h"

namespace tarvion {
namespace {

TEST(Capabilities, TablesAreNumberedByPositionAndNamesAreUniquePerTable) {
  for (const auto* table : {&caps::fiscalModels(), &caps::checkModels()}) {
    for (size_t i = 0; i < table->size(); ++i) {
      const caps::ModelRow& r = (*table)[i];
      EXPECT_EQ(r.number, static_cast<int>(i + 1)) << r.name;
      for (size_t j = i + 1; j < table->size(); ++j) EXPECT_STRNE(r.name, (*table)[j].name);
    }
  }
  EXPECT_EQ(caps::fiscalModels().size(), 56u);
  EXPECT_EQ(caps::checkModels().size(), 21u);
  EXPECT_EQ(caps::fiscalModel(0), nullptr);
  EXPECT_EQ(caps::fiscalModel(57), nullptr);
}

// Every fiscal row: InitializeECF creates its class, hands the maker code to the
// constructor and applies the row's columns and variant.
TEST(Capabilities, InitializeEcfFollowsEveryFiscalRow) {
  testsupport::TempDir tmp;
  for (const caps::ModelRow& r : caps::fiscalModels()) {
    SCOPED_TRACE(r.name);
    CTarvionCtrl c;
    ASSERT_EQ(c.InitializeECF(r.number, 1, 9600, 0, 8, 1, 0, 0, 0), -1);
    CECFBase& d = *c.state().fiscal;
    EXPECT_STREQ(d.ClassName(), r.driverClass);
    if (r.columns) {
      EXPECT_EQ(d.Columns, r.columns);
    }
    if (r.family == caps::Family::CV2009) {
      auto* cv = dynamic_cast<CECFCV2009*>(&d);
      ASSERT_NE(cv, nullptr);
      EXPECT_EQ(cv->intFabricante, r.maker);
    }
    if (auto* it = dynamic_cast<CItautec*>(&d)) {
      EXPECT_EQ(it->nItautecVariant, r.variant);
    }
    if (r.family == caps::Family::Bematech) {
      EXPECT_EQ(d.Thermal != 0, r.thermal);
      EXPECT_EQ(d.HasPaperCutter != 0, r.cutter);
      EXPECT_EQ(d.CanReadCheck != 0, r.canReadCheck);
      EXPECT_FALSE(d.usbInterfaceClass.isZero());
    }
  }
}

// The check table creates the row's class and changes nothing of it.
TEST(Capabilities, CheckRowsCreateTheirClassUnchanged) {
  for (const caps::ModelRow& r : caps::checkModels()) {
    SCOPED_TRACE(r.name);
    DriverPtr d = createDriver(r.driverClass);
    EXPECT_STREQ(d->ClassName(), r.driverClass);
    const caps::ModelRow* own = caps::classRow(r.driverClass);
    ASSERT_NE(own, nullptr);
    if (own->columns) {
      EXPECT_EQ(d->Columns, own->columns);
    }
  }
}

}  // namespace
}  // namespace tarvion
