// The Bematech face of a virtual printer: frames in (STX, length, prefix,
// command, parameters, checksum), ACK and the reply out, every command decoded
// into FiscalCore calls and every refusal encoded as the ST1/ST2 bits (and, with
// the FS prefix, the ST3 code) a real printer of the family sets. The FS models
// answer ST3 from their own table: the code under which it lists the text of
// the full table (a text the model words its own way keeps its code; one the
// model lacks becomes 18, "Comando não efetivado.").
//
// Frames and status bytes are those of codec.h. The reads answer as follows
// (data bytes, before ST1 ST2 [ST3]; BCD amounts are in cents):
//
//   35/0    serial number, 20 characters padded with spaces
//   35/6    the operation counter (COO), 3 BCD
//   35/17   3 bytes; byte 0: 0x01 fiscal receipt open, 0x04 daylight saving,
//           0x08 day closed by its Z, 0x20 Z pending; byte 1: 0x01 linked
//           receipt open, 0x02 management report open, 0x04 non-fiscal receipt
//           open; byte 2: 0x01 fiscal receipt open
//   35/27   fiscal start date (3 BCD, DDMMYY), then 16 x 7 BCD: the day's net
//           total per tax position
//   35/32   byte 0 the number of payment types; 50 names of 16 bytes from byte 1
//           (unused ones blank); bytes 801-832 zero; from byte 833, 50 x 10 BCD:
//           the day's amount per type in ten-thousandths
//   35/33   one 31-byte record per non-fiscal totaliser: byte 0 its number (BCD,
//           01 SANGRIA, 02 SUPRIMENTO, 03...), bytes 1-10 the day's amount
//           (10 BCD), byte 11 the day's count (BCD, up to 99), bytes 12-30 the
//           title (19 bytes, blank padded)
//   35/40   serial number, 20 characters
//   35/41   firmware, 3 BCD (033000 is 3.30.00)
//   35/49   20 payment names of 16 bytes (unused ones blank), then from byte
//           320 the day's amount per payment, 20 x 7 BCD (byte 320 + 7i)
//   35/50   one 30-byte record per totaliser after SANGRIA and SUPRIMENTO
//           (none for unprogrammed ones, so the reply may be empty): byte 0 its
//           number (BCD, 03, 04...), bytes 1-10 the day's amount (10 BCD),
//           bytes 11-29 the title (19 bytes, blank padded)
//   35/51   one 17-byte record per management report, in number order (01
//           first): the name, blank padded
//   35/52, 35/54, 35/55   linked receipts (2 BCD), management reports (3 BCD),
//           fiscal receipts (3 BCD) counters
//   35/60   maker (15), model (20), type (7), blank padded: "BEMATECH" (or
//           "IBM"), the model name without the maker, "ECF-IF"
//   35/64   date and time of the last document, 6 BCD DDMMYYhhmmss
//   35/76   the day's discounts on ISS items (item discounts, at or after
//           registration), 7 BCD
//   26      byte 0 the number of rates, then 16 x 2 BCD (rate x 100)
//   27      16 x 7 BCD per tax position, then 7 BCD each for FF, II, NN, SF,
//           SI, SN (the day's net totals)
//   30      the operation counter (COO), 3 BCD
//   62/'0'  the check station's document sensor, 1 byte: 0x64 with a document
//           in the slot (0x04 at the entry, 0x20 at the print position, 0x40
//           aligned; 0x08 would be busy, never seen as every command ends at
//           once); the MP-7000 answers 0x49 (0x01, 0x08, 0x40); 0 without
//   62/55   296 bytes: byte 0 is 1 once the day has movement, the day's initial
//           grand total (9 BCD) from byte 1, the day's initial COO (3 BCD) from
//           byte 284
//   71      the new payment's index as two ASCII digits ("03")
//   88      200 bytes: the day's initial COO (3 BCD) from byte 5, the day's
//           initial grand total (9 BCD) from byte 150
//
// Commands that print text back over the line, and 87, answer the status
// first as well: ST1 ST2, data, ST1 ST2 [ST3]:
//   69, 8 r/R   the report text (lines ended by CR LF)
//   76      the CMC-7 line of the document, 33 characters: '<' group 1 (8
//           digits: bank, branch, check digit of group 2) '<' group 2 (10:
//           clearing house, check number, type) '>' group 3 (12: check digit
//           of group 1, account, its check digit), as in
//           "<34191570<0180000455>500007651286"; the MP-7000 writes the marks
//           as 'a', 'a', 'b'
//   87      the per-tax totals in the layout of 27
//
// Commands and their parameters as decoded:
//   0 [code(29) [name(30) [address(80)]]] (the customer's CPF/CNPJ, name and
//   address, printed under the receipt's heading); 5 [DDMMYYhhmmss]; 6;
//   7 rate(4) [kind: 0 ICMS, 1 ISS];
//   8 first(6) last(6) i|I|r|R, first and last DDMMYY dates, or reduction
//     counters when they begin with "00"; 14; 16 [text]; 18 (toggles daylight
//   saving); 19; 20 [text]; 21; 22 [pulse]; 23; 25 title(2) value(14) [payment(16)],
//   titles "SA", "SU", "#1", "#2" or a number NN addressing the totaliser NN + 2
//   in table order (FS models also take "29" and "30" for SA and SU);
//   26; 27; 30; 31 item(4); 32 a|d|A|D amount(14) (upper case: percent x 100);
//   34 [message]; 35/sub; 40 number(2) title(19);
//   57 value(14) payee(45) city(27) date DDMMYYYY(8) bank(3 digits or "###")
//     [text] [NUL]: prints a check on the document in the slot (refused with
//     ST3 191 without one; 178 for a value of 0, 180 without a city, 177 with
//     ST2 0x80 for a date that does not exist); the document stays in the slot;
//   58 name(1-19), 59 name(1-22): the currency's name in the singular and the
//     plural, written out in the checks' amounts ("Real", "Reais" at first);
//   62 alone: lets the document in the slot go; 62/'0'; 62/55;
//   62/'K' feed(1) cut(1): feed 0-10 lines (a byte, or an ASCII digit), then
//     cut, 1 whole, 0 partial, drawn on the paper as a line with scissors;
//   62/'@' line1(48) line2(36): the point-of-sale application's
//     identification, printed under the X report, the Z reduction and the
//     fiscal memory reads; blank lines take it away; refused inside a document;
//   62/'I' (MP-7000 only) code(14) tax(2) unit(2) quantity(7, x 1000)
//     price(8, x 1000) discount(8) increase(8) description [NUL]: an item;
//   62/'L' (MP-7000 only): a check as 57, the payee in 80 characters;
//   63 (the ten item fields); 66 payment(16) [value(14)] [coo(6)]; 67 text;
//   69; 71 name(16); 72 index(2) value(14) [text]; 73 names(16 each);
//   76 [one byte]: the CMC-7 read (ST3 128 without a document); 82 number(2)
//     name(17): names a management report; a number in use or a name already
//     there gives ST3 40, a number past the next free one takes the next free
//     one, above 20 gives 105, a blank name 111; 83 number(2): opens that
//     management report (ST3 41 when there is none); 85: the second copy of
//     the linked receipt just closed, once (ST3 80 otherwise); 87; 88;
//   93 D|A item(3) value(8): a discount (D) or increase (A) on an item of the
//     open receipt after it, once of each per item, before the subtotal
//     (ST3 115 no such item, 184 item 0, 122 / 121 already given, 175 / 174
//     value 0, 119 a discount of the whole item, 118 an increase above it,
//     170 after the subtotal); 114 D|A item(3): takes it back (182 / 181 when
//     the item has none).
//
// Text parameters are Windows-1252, or code page 850 when they begin with ESC
// 't' 2 (the thermal models); two-byte escapes (ESC 'E' / ESC 'F' for bold)
// are left out of the paper.
//
// The check station is on every model. Its document comes and goes through
// setDocumentInserted, or an operator of setAutoDocument feeds a check each
// time the station looks for one (62/'0', 57, 62/'L', 76) and takes it away
// once printed.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "emulator/bematech/codec.h"
#include "emulator/fiscal_core.h"
#include "emulator/registry.h"
#include "emulator/virtual_printer.h"

namespace tarvion::emulator {

struct BematechModel {
  int number = 1;  // the model number of the control's table
  std::string name = "BEMATECH MP-20 FI II ECF-IF";
  uint8_t prefix = bematech::kESC;
  int columns = 48;
  bematech::St3Table table = bematech::St3Table::Full;
  bool mp7000 = false;  // its own document sensor bits

  // The Bematech protocol models: 1-10 and 26 (IBM 4610 SureMark).
  static const std::vector<BematechModel>& all();
  // One of them by number. False otherwise.
  static bool byNumber(int number, BematechModel& out);
};

class BematechPrinter final : public VirtualPrinter {
 private:
  struct Outcome;

 public:
  BematechPrinter(std::shared_ptr<FiscalCore> core, const BematechModel& model);

  const BematechModel& model() const { return model_; }

  // One command as the printer runs it: the body is the command, sub-code and
  // parameters (after the prefix). The result is the whole answer, ACK first.
  ByteArray execute(uint8_t prefix, const ByteArray& body);

  // The extended status code of the model for a code of the full table.
  uint16_t st3For(uint16_t fullCode) const { return bematech::st3Code(model_.table, fullCode); }

  // No upper limit on a command's parameter bytes (the frame's own limit holds).
  static constexpr uint16_t kAnyLength = 0xFFFF;

  // One command the printer knows: its code, how many parameter bytes it takes
  // (a count outside the range answers a wrong parameter count before the
  // handler runs), whether only the MP-7000 has it, and its handler.
  struct Command {
    uint8_t code = 0;
    uint16_t minParams = 0, maxParams = kAnyLength;
    bool mp7000Only = false;
    Outcome (BematechPrinter::*run)(const ByteArray& params) = nullptr;
  };
  // The commands, in code order; a code without an entry answers an unknown
  // command.
  static std::span<const Command> dispatchTable();
  // The sub-commands of 62, keyed by its first parameter byte (the counts are
  // of the bytes after it), in order. Bare 62 lets the check station's
  // document go; a byte without an entry answers an unknown command.
  static std::span<const Command> blockTable();

  // One register of the reads (35/number), answered by one generic reader:
  //   Bcd      value() as packed BCD in `size` bytes
  //   Text     text() cut or blank padded to `size` characters
  //   Date     value() as printer seconds: DDMMYY (size 3) or DDMMYYhhmmss
  //            (size 6); zeros when it is negative (no such date yet)
  //   Block    bytes(), `size` bytes laid out by the register
  //   Records  bytes(), as many records of `size` bytes as the tables hold
  struct Register {
    enum class Shape : uint8_t { Bcd, Text, Date, Block, Records };
    uint8_t number = 0;
    Shape shape = Shape::Bcd;
    uint16_t size = 0;
    int64_t (*value)(const FiscalCore&) = nullptr;
    std::string (*text)(const FiscalCore&) = nullptr;
    ByteArray (*bytes)(const FiscalCore&, const BematechModel&) = nullptr;
  };
  // The registers, in number order; a number without an entry is refused as a
  // wrong parameter.
  static std::span<const Register> registers();

 protected:
  void consume(ByteArray& buf, ReplySink& out) override;
  std::string formatCmc7(const std::string& digits) const override;

 private:
  Outcome run(const ByteArray& body);
  Outcome dispatch(const Command& command, const ByteArray& params);
  // The answer to what the fiscal half said: done for Ok, its refusal otherwise.
  Outcome refuse(FiscalError e);
  static Outcome failed(uint8_t st1, uint8_t st2, uint16_t st3);
  static Outcome badCount();
  static Outcome unknownCommand();
  ByteArray status(uint8_t st1, uint8_t st2, uint16_t st3);
  ByteArray readRegister(const Register& r);
  Outcome printCheck(const ByteArray& p, size_t payeeWidth);
  Outcome setCurrency(const ByteArray& p, bool plural);
  uint8_t sensor();
  std::string printerText(const ByteArray& p, size_t from) const;
  int titleFor(const std::string& code);

  // The handlers of dispatchTable(), one per command (p: the parameters).
  Outcome openReceipt(const ByteArray& p);
  Outcome reducaoZ(const ByteArray& p);
  Outcome leituraX(const ByteArray& p);
  Outcome addTax(const ByteArray& p);
  Outcome fiscalMemory(const ByteArray& p);
  Outcome cancelReceipt(const ByteArray& p);
  Outcome authenticate(const ByteArray& p);
  Outcome daylightSaving(const ByteArray& p);
  Outcome statusOnly(const ByteArray& p);
  Outcome report(const ByteArray& p);
  Outcome closeReport(const ByteArray& p);
  Outcome cashDrawer(const ByteArray& p);
  Outcome drawerStatus(const ByteArray& p);
  Outcome nonFiscal(const ByteArray& p);
  Outcome taxRates(const ByteArray& p);
  Outcome taxTotals(const ByteArray& p);
  Outcome taxTotalsText(const ByteArray& p);
  Outcome receiptNumber(const ByteArray& p);
  Outcome cancelItem(const ByteArray& p);
  Outcome totalize(const ByteArray& p);
  Outcome closeReceipt(const ByteArray& p);
  Outcome read(const ByteArray& p);
  Outcome addNonFiscalTitle(const ByteArray& p);
  Outcome check(const ByteArray& p);
  Outcome currencySingular(const ByteArray& p);
  Outcome currencyPlural(const ByteArray& p);
  Outcome block(const ByteArray& p);
  Outcome registerItem(const ByteArray& p);
  Outcome openLinked(const ByteArray& p);
  Outcome linkedText(const ByteArray& p);
  Outcome leituraXSerial(const ByteArray& p);
  Outcome addPayment(const ByteArray& p);
  Outcome payment(const ByteArray& p);
  Outcome redefinePayments(const ByteArray& p);
  Outcome readCmc7(const ByteArray& p);
  Outcome nameReport(const ByteArray& p);
  Outcome openNamedReport(const ByteArray& p);
  Outcome secondCopy(const ByteArray& p);
  Outcome dayStart(const ByteArray& p);
  Outcome itemAdjustment(const ByteArray& p);
  Outcome cancelItemAdjustment(const ByteArray& p);
  // The handlers of blockTable() (p: the bytes after the sub-command).
  Outcome documentSensor(const ByteArray& p);
  Outcome dayStartTotals(const ByteArray& p);
  Outcome cutPaper(const ByteArray& p);
  Outcome appIdentification(const ByteArray& p);
  Outcome mp7000Item(const ByteArray& p);
  Outcome longCheck(const ByteArray& p);

  BematechModel model_;
};

namespace bematech {
// The family's rows for the registry.
std::vector<VirtualModel> virtualModels();
}  // namespace bematech

}  // namespace tarvion::emulator
