#include "drivers/fiscnet/fiscnet_banks.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/text.h"

#ifndef TARVION_INSTALLED_DATA_DIR
#define TARVION_INSTALLED_DATA_DIR "/usr/local/share/tarvion"
#endif

namespace tarvion::fiscnet {

using text::cp;

BankTable tableForFirmware(std::string_view version) {
  return version == "03.00" || version == "03.01" ? BankTable::B : BankTable::A;
}

std::string dataDir() {
  const char* env = std::getenv("TARVION_DATA_DIR");
  if (env && *env) return env;
  return TARVION_INSTALLED_DATA_DIR;
}

std::string tableFile(BankTable table) {
  const char* name = table == BankTable::A ? "banks-a.txt" : table == BankTable::B ? "banks-b.txt" : "banks-zpm.txt";
  return dataDir() + "/fiscnet/" + name;
}

bool parseBankTable(std::string_view textIn, std::string_view fileName, std::vector<BankRow>& rows,
                    std::string& error) {
  rows.clear();
  std::istringstream in{std::string(textIn)};
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string t = text::trim(line);
    if (t.empty() || t[0] == ';') continue;
    std::istringstream fields(t);
    BankRow row;
    fields >> row.code;
    bool ok = row.code.size() == 3;
    for (int& v : row.pos) {
      long n = -1;
      if (!(fields >> n) || n < 0 || n > 99999) ok = false;
      v = static_cast<int>(n);
    }
    std::string extra;
    if (!ok || (fields >> extra)) {
      error = cp("Tabela de layout de cheques inválida: ") + std::string(fileName) +
              text::format(cp(", linha %d.").c_str(), number);
      return false;
    }
    rows.push_back(row);
  }
  return true;
}

bool bankRow(BankTable table, std::string_view bank, BankRow& out, std::string& error) {
  const std::string path = tableFile(table);
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    error = cp("Não foi possível ler a tabela de layout de cheques: ") + path;
    return false;
  }
  std::ostringstream all;
  all << f.rdbuf();
  std::vector<BankRow> rows;
  if (!parseBankTable(all.str(), path, rows, error)) return false;
  const std::string wanted = text::trim(std::string(bank));
  const BankRow* fallback = nullptr;
  for (const BankRow& r : rows) {
    if (!wanted.empty() && r.code == wanted) {
      out = r;
      return true;
    }
    if (r.code == "###" && !fallback) fallback = &r;
  }
  if (!fallback) {
    error = cp("Tabela de layout de cheques sem a linha padrão (###): ") + path;
    return false;
  }
  out = *fallback;
  return true;
}

}  // namespace tarvion::fiscnet
