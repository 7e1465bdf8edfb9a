// The driver's side of the 2009 command set as pure functions: the command
// frame, the reply kinds and their lengths, the status classes and codes with
// their messages, the reply fields and the parameter texts. The virtual printer
// has a codec of its own, so a mistake here shows up as a disagreement on the
// line.
//
// A command:  SOH SEQ CODE_L CODE_H LEN_L LEN_H PARAMS... CK
//   SEQ counts the frames (1 first, 255 then 0); PARAMS is text, each parameter
//   closed by '|'; CK is the low byte of the sum of every byte after SOH.
// A reply starts with its kind:
//   SOH  a reply frame: SOH SEQ x x CLASS CODE x BLOCK x LEN_L LEN_H DATA... CK
//        (CK over bytes 1 to the last data byte); class 0 is success, and then
//        bit 0 of CODE set marks the last block
//   ACK  the command was taken; ENQ 00 asks for its reply
//   DC1  the printer is busy (6 bytes)
//   NAK  refused: NAK CLASS CODE and three more bytes
//   SYN  SYN SEQ, the answer to a SYN probe
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/host_text.h"
#include "core/types.h"

namespace tarvion::cv2009 {

constexpr uint8_t kSOH = 0x01, kENQ = 0x05, kACK = 0x06, kDC1 = 0x11, kNAK = 0x15, kSYN = 0x16;
constexpr uint8_t kSeparator = '|';
constexpr size_t kReplyHeader = 11;

// Command codes (the 16-bit code; every one has a high byte of zero).
namespace cmd {
constexpr uint16_t OpenReceipt = 0x0001, RegisterItem = 0x0002, CancelItem = 0x0003, Payment = 0x0004,
                   CloseReceipt = 0x0005, OpenDrawer = 0x0006, CancelClosed = 0x0007, OpenLinked = 0x0008,
                   PrintText = 0x0009, CloseText = 0x000A, CutPaper = 0x000B, OpenReport = 0x000C,
                   OpenNonFiscal = 0x0010, NonFiscalItem = 0x0011, CloseNonFiscal = 0x0012, LeituraX = 0x0014,
                   ReducaoZ = 0x0015, FiscalMemory = 0x0016, CashInOut = 0x0017, AppIdentification = 0x0018,
                   Read = 0x001A, ItemAdjustment = 0x001B, CancelItemAdjustment = 0x001C, SubtotalAdjustment = 0x001D,
                   CancelOpen = 0x001F, DaylightSaving = 0x0050, AddTable = 0x0054, AddNonFiscalTitle = 0x0055,
                   AddReport = 0x0056, FiscalMemoryBin = 0x0067, DetailMemory = 0x0068, Customer = 0x0095,
                   CFeXml = 0x0096;
}  // namespace cmd

// The low byte of the sum of the bytes.
uint8_t checksum(const uint8_t* data, size_t n);
// The sequence number after seq: 255 becomes 0.
int nextSequence(int seq);

// Wire example, the first frame after the driver is made, command 01 00 with the
// parameter text "a|":
//   01 01 01 00 02 00 61 7C E1
ByteArray buildFrame(uint8_t sequence, const ByteArray& command, const ByteArray& parameters);
// The frame's 16-bit length field bounds the parameter bytes of one command:
// more would wrap it and the printer would read a frame that is not this one.
constexpr size_t kMaxParameterBytes = 65535;
// The name of a command's parameter for the refusal of one that does not fit
// (Windows-1252): "Texto", "Nome do consumidor", or "Parâmetro n" (from 1).
std::string parameterName(uint16_t code, size_t index);

// The two command bytes of a code, low first.
ByteArray commandBytes(uint16_t code);

// Wire example, asking for the reply (block 0) of the last command:  05 00
ByteArray enq(uint8_t block);

// What the first byte of a reply says.
enum class Kind { Frame, Ack, Busy, Nak, Sync, Unknown, Empty };
Kind kindOf(const uint8_t* data, size_t n);
// The bytes a reply takes once its first bytes are in, 0 while they do not tell
// yet (a frame before its header is whole). An unknown first byte takes 1: the
// reply is judged at once.
size_t replyLength(const uint8_t* data, size_t n);
// The fixed part of the short replies.
constexpr size_t kBusyLength = 6, kNakLength = 6, kSyncLength = 2;

// A whole reply frame's parts.
struct ReplyFrame {
  uint8_t sequence = 0, status = 0, code = 0, block = 0;
  ByteArray data;
  bool lastBlock() const { return (code & 1) != 0; }
};
// False when the bytes are not a whole reply frame with a right checksum (or,
// without verify, a whole one whatever its check byte: the exchange has
// already judged it).
bool parseReplyFrame(const uint8_t* data, size_t n, ReplyFrame& out, bool verify = true);
bool checksumOk(const uint8_t* data, size_t n);

// The message of a status class and code (Windows-1252); class 0 has none. The
// text of class 16 depends on the maker (1: Bematech mentions the cover).
std::string statusMessage(int statusClass, int code, int maker);

// The data cut at every '|': each '|' closes a field (empty ones stay); text
// after the last '|' is a field only when not empty.
std::vector<std::string> splitFields(const uint8_t* data, size_t n);
inline std::vector<std::string> splitFields(const ByteArray& data) {
  return splitFields(data.data(), data.size());
}

// "DDMMYYYY[hh[mm[ss]]]": the parts the text reaches, the others 0. Invalid
// when the date does not exist.
DateTime parseDateTimeText(const std::string& s);
// "%02i%02i%04i" and "%02i%02i%02i" of a date-time; empty for an invalid one.
std::string dateText(const DateTime& dt);
std::string timeText(const DateTime& dt);

// Leading digits as atoi reads them (sign allowed); 0 for none.
long integerOf(const std::string& s);
// Decimal text with a point as atof reads it; 0 for none.
double amountOf(const std::string& s);

// An amount sent as its "%.2f" text without the point ("1250" for 12.5).
// False when it does not fit (negative, NaN or above the largest amount).
bool amountText(double value, std::string& out, std::string& error);
// A quantity as "%f" with trailing zeros and point trimmed, sent as the digits
// without the point and the count of decimals ("15", "1" for 1.5; "2", "0" for 2).
bool quantityText(double value, std::string& digits, std::string& decimals, std::string& error);
// A quantity in hundredths cut toward zero ("300" for 3, "150" for 1.509).
bool hundredthsText(double value, std::string& digits, std::string& error);

// The markup of printed text (reports, linked receipts, closing messages):
// <b> </b> as ESC E and ESC F on the models that print bold, no bytes on the
// others; <h> and <barcode> take no bytes.
const text::Markup& printerMarkup(bool bold);

}  // namespace tarvion::cv2009
