// The paper of a virtual printer: what a real one would print, as readable
// UTF-8 text at the printer's column width. It appends to a file (one per
// emulated printer; `tail -f` shows the receipts as they come out) or keeps the
// text in memory for tests. Text handed in is Windows-1252, as in the printer.
//
// A printer may run for days: a paper kept in a file holds only its last lines
// in memory (what a screen shows), and one kept in memory only its last
// megabyte, so that neither grows with the receipts.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/fiscal_core.h"

namespace tarvion::emulator {

// "1.234,56" from cents; "-0,50" below zero.
std::string money(Cents cents);
// "1,500" from thousandths (three decimals).
std::string quantity(int64_t thousandths);
// "DD/MM/YYYY" and "DD/MM/YYYY hh:mm:ss" of the printer's clock.
std::string dateText(int64_t seconds);
std::string dateTimeText(int64_t seconds);
// How a tax label reads on paper: "T18,00%", "S05,00%", "I1", "F1", "N1"...
std::string taxText(const FiscalCore& core, const std::string& label);
// An amount written out in words, as on a check, in upper case Windows-1252:
// "CENTO E VINTE E TRÊS REAIS E QUARENTA E CINCO CENTAVOS". The currency names
// are the printer's (singular for exactly one unit).
std::string amountInWords(Cents cents, const std::string& singular, const std::string& plural);

// What a check station prints on a check.
struct CheckPrint {
  Cents value = 0;
  std::string payee, city, bank;  // bank: three digits, or "###" when not given
  int64_t date = 0;               // printer seconds (the day counts)
  std::string extra;              // the optional line under the date
};

class Paper {
 public:
  explicit Paper(int columns = 48);                  // kept in memory
  Paper(const std::string& path, int columns = 48);  // appended to a file
  Paper(const Paper&) = delete;
  Paper& operator=(const Paper&) = delete;

  int columns() const { return columns_; }
  void setColumns(int c) { columns_ = c < 20 ? 20 : c; }
  const std::string& path() const { return path_; }

  // One line, wrapped at the column width. Control bytes other than tabs are dropped.
  void line(const std::string& cp1252);
  // Text with line breaks ("\r\n", "\r" or "\n"); each line wrapped.
  void text(const std::string& cp1252);
  void centered(const std::string& cp1252);
  void leftRight(const std::string& left, const std::string& right);
  void rule(char c = '-');
  void blank();

  static constexpr size_t kTailLines = 200;         // kept in memory by a paper in a file
  static constexpr size_t kMemoryLimit = 1u << 20;  // kept by a paper in memory, bytes

  // What was printed, UTF-8: for a paper in a file, everything this object
  // appended, read back from the file (its last lines when the file is gone);
  // for a paper in memory, what it keeps (the last kMemoryLimit bytes at most,
  // whole lines).
  std::string printed() const;
  // The last lines printed (at most kTailLines), UTF-8, each ending in '\n'.
  std::string tail(size_t lines = kTailLines) const;
  // Bytes of printed text this paper holds in memory.
  size_t memoryBytes() const;
  // Forgets what was printed so far (the file keeps it).
  void clear();
  uint64_t lineCount() const { return lines_; }

  // Documents, drawn from the fiscal half's data.
  void header(const FiscalCore& core, const std::string& title);
  void item(const FiscalCore& core, const Item& item);
  void itemCancelled(const FiscalCore& core, const Item& item);
  // A discount or increase given to an item after it, or its cancellation.
  void itemAdjusted(const FiscalCore& core, const Item& item, bool increase, bool cancelled);
  void subtotal(const FiscalCore& core, const Document& doc);
  void payment(const FiscalCore& core, const Payment& p);
  void receiptEnd(const FiscalCore& core, const Document& doc, Cents change, const std::string& message);
  void receiptCancelled(const FiscalCore& core, int coo, Cents total);
  void linkedHeader(const FiscalCore& core, const Document& doc, int receiptCoo);
  void nonFiscalItem(const FiscalCore& core, const Item& item);
  void report(const FiscalCore& core, const std::string& title, const std::vector<std::string>& lines);
  void authentication(const FiscalCore& core, const std::string& text);
  void footer(const FiscalCore& core);  // identification of the printer, then the cut
  // The knife: feed lines first, then a mark across the paper.
  void cut(int feed, bool partial);
  // A check from the check station, drawn where it can be read.
  void check(const FiscalCore& core, const CheckPrint& c);

 private:
  void emit(const std::string& utf8Line);
  uint64_t fileSize() const;
  std::string path_;
  int columns_;
  mutable std::mutex mu_;
  std::string memory_;            // a paper in memory: its text, bounded
  std::deque<std::string> tail_;  // a paper in a file: its last lines
  size_t tailBytes_ = 0;
  uint64_t fileStart_ = 0;  // a paper in a file: where this object's text begins
  uint64_t lines_ = 0;
};

}  // namespace tarvion::emulator
