#include "drivers/fiscnet/fiscnet_banks.h"

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "core/embedded_data.h"
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
  // A table in the data folder overrides the compiled-in one; without it the
  // compiled copy serves, so a build tree or a bare DLL prints checks too.
  std::string path = tableFile(table);
  std::string text;
  std::ifstream f(path, std::ios::binary);
  if (f) {
    std::ostringstream all;
    all << f.rdbuf();
    if (!f.good() && !f.eof()) {
      error = cp("Não foi possível ler a tabela de layout de cheques: ") + path;
      return false;
    }
    text = all.str();
  } else {
    const std::string name = path.substr(path.rfind("/fiscnet/") + 1);
    const std::optional<std::string_view> builtIn = embeddedData(name);
    if (!builtIn) {
      error = cp("Não foi possível ler a tabela de layout de cheques: ") + path;
      return false;
    }
    text = std::string(*builtIn);
    path = name;
  }
  std::vector<BankRow> rows;
  if (!parseBankTable(text, path, rows, error)) return false;
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
