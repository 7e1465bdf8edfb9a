// A sale's items through the control, against each family's virtual printer:
// the number LastItemNumber answers is the item the printer holds last, and an
// item's result is the item's own even when its discount is refused.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/virtual_wire.h"
#include "emulator/printer_face.h"
#include "emulator/printers.h"
#include "emulator/virtual_printer.h"
#include "tarvion/tarvion.hpp"

using namespace tarvion;
using namespace tarvion::emulator;

namespace {

struct Family {
  const char* name;
  int model;
  int baud;
};

const Family kBematech{"Bematech", 1, 9600};
const Family kCv2009{"2009 set", 54, 115200};
const Family kFiscNET{"FiscNET", 23, 115200};

// The control on a port of its own with the family's virtual printer behind it.
struct Sale {
  static constexpr int kPort = 771;
  std::shared_ptr<VirtualPrinter> printer;
  CTarvionCtrl c;

  explicit Sale(const Family& f) {
    printer = makePrinter(f.model, "", "");
    EXPECT_NE(printer, nullptr) << f.name;
    ports::attachVirtual(kPort, makeVirtualDevice(printer));
    EXPECT_NE(c.InitializeECF(f.model, kPort, f.baud, 0, 8, 1, 0, 1, 1), 0) << f.name << ": " << c.UltimoErro();
    EXPECT_NE(c.AbreCupomFiscal(), 0) << f.name << ": " << c.UltimoErro();
  }
  ~Sale() {
    c.CloseComm();
    ports::detachVirtual(kPort);
  }
  // The items of the receipt the printer has open.
  std::vector<Item> items() {
    std::lock_guard<std::mutex> lock(printer->mutex());
    return printer->core().document().items;
  }
};

}  // namespace

// Whoever keeps the count (the printer, the driver or the control), the last
// item's number cancels the last item and nothing else.
TEST(SaleItems, CancellingTheLastItemNumberCancelsTheLastItem) {
  for (const Family& f : {kBematech, kCv2009, kFiscNET}) {
    SCOPED_TRACE(f.name);
    Sale s(f);
    const char* const names[] = {"CAFE", "ARROZ", "FEIJAO"};
    for (int i = 0; i < 3; ++i) {
      ASSERT_NE(s.c.RegistraItemFiscal(std::to_string(i + 1), names[i], "UN", 18, 1, 2.0 + i, 0), 0)
          << s.c.UltimoErro();
      EXPECT_EQ(s.c.LastItemNumber(), i + 1);
    }
    const int last = s.c.LastItemNumber();
    ASSERT_NE(s.c.CancelaItemFiscal(last, "", 0, 0, 0, 0), 0) << "item " << last << ": " << s.c.UltimoErro();
    const std::vector<Item> items = s.items();
    ASSERT_EQ(items.size(), 3u);
    for (const Item& it : items) EXPECT_EQ(it.cancelled, it.description == "FEIJAO") << it.description;
  }
}

// The printer refuses a discount larger than its item: the item stays sold, so
// the call answers TRUE and the refusal is told by the discount flag and the
// error text. The next item with a discount the printer takes clears the flag.
TEST(SaleItems, ARefusedItemDiscountLeavesTheItemsResultAlone) {
  for (const Family& f : {kCv2009, kFiscNET}) {
    SCOPED_TRACE(f.name);
    Sale s(f);
    EXPECT_NE(s.c.RegistraItemFiscal("1", "CAFE", "UN", 18, 1, 2.0, 3.0), 0) << s.c.UltimoErro();
    EXPECT_EQ(s.c.LastOutcome(), CTarvionCtrl::Outcome::Done);
    EXPECT_NE(s.c.ErroRegistroDescontoItem(), 0);
    // The printer's own reason, after words that say the item did go through.
    EXPECT_EQ(s.c.UltimoErro().rfind("Item registrado; o desconto do item falhou: ", 0), 0u) << s.c.UltimoErro();
    EXPECT_GT(s.c.UltimoErro().size(), 45u) << s.c.UltimoErro();
    EXPECT_EQ(s.c.LastItemNumber(), 1);
    std::vector<Item> items = s.items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_FALSE(items[0].cancelled);
    EXPECT_EQ(items[0].discount, 0);

    EXPECT_NE(s.c.RegistraItemFiscal("2", "ARROZ", "UN", 18, 2, 5.0, 0.5), 0) << s.c.UltimoErro();
    EXPECT_EQ(s.c.ErroRegistroDescontoItem(), 0);
    EXPECT_EQ(s.c.LastItemNumber(), 2);
    items = s.items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].discount, 100);  // 0,50 a unit, two units
  }
}

// On the 2009 set a negative discount has no command of its own: it is refused
// before anything is sent, not dropped with the item sold at full price.
TEST(SaleItems, TheTwoThousandNineSetRefusesANegativeItemDiscount) {
  Sale s(kCv2009);
  EXPECT_EQ(s.c.RegistraItemFiscal("1", "CAFE", "UN", 18, 1, 2.0, -0.5), 0);
  EXPECT_EQ(s.c.LastOutcome(), CTarvionCtrl::Outcome::NotWritten);
  EXPECT_NE(s.c.UltimoErro().find("negativo"), std::string::npos) << s.c.UltimoErro();
  EXPECT_NE(s.c.UltimoErro().find("-0.50"), std::string::npos) << s.c.UltimoErro();
  EXPECT_TRUE(s.items().empty());
}
