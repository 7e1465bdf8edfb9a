// Where a check's fields go, per bank: the layout tables the FiscNET printers
// print checks with. They are data files installed with the library
// (banks-a.txt, banks-b.txt, banks-zpm.txt under <datadir>/tarvion/fiscnet),
// found through TARVION_DATA_DIR when it is set.
//
// A file holds one row per line: the three-digit bank code ("###" for any
// bank the table does not list) and the sixteen positions in the order the
// "ImprimeCheque" command takes them. Blank lines and lines starting with ';'
// are comments.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tarvion::fiscnet {

// A: column and line units, with a check width; B: finer units, no width;
// ZPM: the ZPM printers' own table, in the units of B.
enum class BankTable { A, B, ZPM };

// The order of the positions in a row and in the command.
inline constexpr std::array<const char*, 16> kBankFields = {
    "HPosAno",        "HPosCidade",    "HPosDia",   "HPosExtensoLinha1", "HPosExtensoLinha2", "HPosFavorecido",
    "HPosMes",        "HPosMsgLinha1", "HPosValor", "VPosCidade",        "VPosExtensoLinha1", "VPosExtensoLinha2",
    "VPosFavorecido", "VPosMsgLinha1", "VPosValor", "LarguraCheque"};

struct BankRow {
  std::string code;
  std::array<int, 16> pos{};
};

// The table of a firmware version: B for "03.00" and "03.01", A otherwise.
BankTable tableForFirmware(std::string_view version);
// The folder the data files are read from: $TARVION_DATA_DIR, else the
// library's installed data folder.
std::string dataDir();
std::string tableFile(BankTable table);

// Parses a table file's text; false with a message (Windows-1252) naming the
// line that is wrong.
bool parseBankTable(std::string_view text, std::string_view fileName, std::vector<BankRow>& rows, std::string& error);
// The row of a bank in a table: its own, else "###" for an empty or unknown
// code. The table is the data folder's file when there is one, else the copy
// compiled into the library. False with a message when the file cannot be
// read, is not a table or has no "###" row.
bool bankRow(BankTable table, std::string_view bank, BankRow& out, std::string& error);

}  // namespace tarvion::fiscnet
