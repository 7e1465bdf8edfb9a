#include "drivers/check/check_protocol.h"

#include <algorithm>

#include "core/text.h"

namespace tarvion::check {

using text::cp;

std::string unixBreaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
      continue;
    }
    out += '\n';
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return out;
}

bool dateText(const DateTime& dt, const char* layout, std::string& out) {
  DateParts p;
  if (!dt.parts(p)) return false;
  out.clear();
  for (const char* c = layout; *c; ++c) {
    if (*c != '%' || !c[1]) {
      out += *c;
      continue;
    }
    switch (*++c) {
      case 'd':
        out += text::format("%02d", p.day);
        break;
      case 'm':
        out += text::format("%02d", p.month);
        break;
      case 'y':
        out += text::format("%02d", p.year % 100);
        break;
      case 'Y':
        out += text::format("%04d", p.year);
        break;
      default:
        out += *c;
    }
  }
  return true;
}

namespace {

// Each line of the text up to (not including) its LF; a last piece without LF
// is a line only when `lastWithoutBreak` says so.
std::vector<std::string_view> splitLines(std::string_view text, bool lastWithoutBreak) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (;;) {
    const size_t lf = text.find('\n', start);
    if (lf == std::string_view::npos) {
      if (lastWithoutBreak && start < text.size()) lines.push_back(text.substr(start));
      return lines;
    }
    lines.push_back(text.substr(start, lf - start));
    start = lf + 1;
  }
}

// "%-100s" of the line, cut to width: what is past the width never prints, and
// padding beyond it changes nothing once the right is trimmed.
std::string padCut(std::string_view line, size_t width) {
  std::string s(line.substr(0, std::min(line.size(), width)));
  if (s.size() < width && s.size() < 100) s.resize(std::min<size_t>(width, 100), ' ');
  return s;
}

}  // namespace

// ---------------------------------------------------------------- Perto

namespace perto {

uint8_t blockCheck(const uint8_t* data, size_t n) {
  uint8_t x = 0;
  for (size_t i = 0; i < n; ++i) x ^= data[i];
  return x;
}

ByteArray frame(const ByteArray& command, const ByteArray& parameters) {
  ByteArray f;
  f.reserve(command.size() + parameters.size() + 3);
  f.push_back(kSTX);
  f.insert(f.end(), command.begin(), command.end());
  f.insert(f.end(), parameters.begin(), parameters.end());
  f.push_back(kETX);
  f.push_back(blockCheck(f.data(), f.size()));
  return f;
}

std::string printParameters(const std::string& cents, std::string_view bank) {
  return "C" + cents + std::string(bank.substr(0, 3));
}

std::string additionalInfo(std::string_view text) {
  const size_t width = text.size() > 20 ? 40 : 20;
  std::string s(text.substr(0, width));
  s.resize(width, ' ');
  return s;
}

std::string textBlock(std::string_view text, const Convert& convert) {
  const std::string all = unixBreaks(text) + "\n";
  const std::vector<std::string_view> lines = splitLines(all, false);
  std::string out;
  for (size_t i = 0; i < kTextLines; ++i) {
    if (i < lines.size()) out += convert(text::trim(padCut(lines[i], kTextWidth)));
    out += static_cast<char>(kLineEnd);
  }
  return out;
}

bool frameIntact(const ByteArray& reply) {
  const size_t n = reply.size();
  if (n < 6 || reply[0] != kSTX || reply[n - 2] != kETX) return false;
  if (blockCheck(reply.data(), n - 1) != reply[n - 1]) return false;
  // The data never holds ETX: the first one closes the frame.
  if (std::find(reply.begin(), reply.end() - 2, kETX) != reply.end() - 2) return false;
  int code = 0;
  return statusCode(reply, code);
}

void frameReply(ByteArray& reply) {
  if (reply.empty() || reply.front() != kSTX) reply.insert(reply.begin(), kSTX);
  const size_t n = reply.size();
  const bool endsFramed = reply.back() == kETX || (n >= 3 && reply[n - 2] == kETX);
  if (!endsFramed) reply.push_back(kETX);
}

bool statusCode(const ByteArray& reply, int& code) {
  if (reply.size() < 4 || reply[0] != kSTX) return false;
  int v = 0;
  for (size_t i = 1; i <= 3; ++i) {
    if (reply[i] < '0' || reply[i] > '9') return false;
    v = v * 10 + (reply[i] - '0');
  }
  code = v;
  return true;
}

std::string statusMessage(int code) {
  struct Row {
    int code;
    const char* text;
  };
  static const Row kRows[] = {
      {1, "Mensagem com dados inválidos."},
      {2, "Tamanho da mensagem inválido."},
      {5, "Leitura dos caracteres magnéticos inválida."},
      {6, "Problemas no acionamento do motor 1."},
      {7, "Documento já pós-marcado."},
      {8, "Problemas no acionamento do motor 2."},
      {9, "Banco diferente do solicitado."},
      {10, "Sensor 3 desobstruído: fita magnética no fim ou ausente."},
      {11, "Sensor 1 obstruído."},
      {12, "Sensor 2 obstruído."},
      {13, "Sensor 4 obstruído."},
      {14, "Erro no posicionamento da cabeça de impressão (relativo à S4)."},
      {15, "Erro no posicionamento da pós-marcação."},
      {16, "Dígito verificador do cheque não confere."},
      {17, "Ausência de caracteres magnéticos ou cheque na posição errada."},
      {18, "Documento não inserido na máquina."},
      {19, "Documento mal inserido."},
      {20, "Cheque preso durante o alinhamento: S1 e S2 desobstruídos."},
      {21, "Cheque preso durante o alinhamento: S1 obstruído e S2 desobstruído."},
      {22, "Cheque preso durante o alinhamento: S1 desobstruído e S2 obstruído."},
      {23, "Cheque preso durante o alinhamento: S1 e S2 obstruídos."},
      {24, "Cheque preso durante o preenchimento: S1 e S2 desobstruídos."},
      {25, "Cheque preso durante o preenchimento: S1 obstruído e S2 desobstruído."},
      {26, "Cheque preso durante o preenchimento: S1 desobstruído e S2 obstruído."},
      {27, "Cheque preso durante o preenchimento: S1 e S2 obstruídos."},
      {28, "Caracter inexistente."},
      {31, "Lista negra interna cheia."},
      {40, "Relógio ausente ou não funcionando."},
      {41, "Máquina sem pós-marcação."},
      {42, "Cheque ausente."},
      {50, "Erro de transmissão."},
      {60, "Cheque na lista negra."},
      {73, "Cheque não encontrado na lista negra."},
      {74, "Comando cancelado."},
      {84, "Arquivo de layouts cheio."},
      {85, "Layout inexistente na memória da impressora."},
      {97, "Cheque na posição errada."},
  };
  for (const Row& r : kRows)
    if (r.code == code) return cp(r.text);
  return text::format("%i - %s", code, "Erro indefinido.");
}

std::string cmc7Line(const ByteArray& reply, size_t trailer) {
  if (reply.size() < trailer || reply.size() - trailer == 0 || reply.size() < 5) return {};
  const size_t n = std::min(reply.size() - trailer, reply.size() - 5);
  return std::string(reply.begin() + 5, reply.begin() + 5 + static_cast<long>(n));
}

}  // namespace perto

// ---------------------------------------------------------------- Chronos

namespace chronos {

ByteArray frame(const ByteArray& command, const ByteArray& parameters) {
  ByteArray f;
  f.reserve(command.size() + parameters.size() + 2);
  f.push_back(kESC);
  f.insert(f.end(), command.begin(), command.end());
  f.insert(f.end(), parameters.begin(), parameters.end());
  f.push_back(0x00);
  return f;
}

fields::Result amount(double value) {
  fields::Result r = fields::format(value, field::kValue);
  if (!r.ok()) return r;
  // The field zero-fills; the printer's layout pads with blanks up to the units.
  const size_t comma = r.text.find(',');
  size_t i = 0;
  while (i + 1 < comma && r.text[i] == '0') r.text[i++] = ' ';
  return r;
}

bool statusOk(uint8_t status) {
  return (status & ~0x14) == 0;
}

std::string statusMessage(uint8_t status) {
  struct Bit {
    uint8_t mask;
    const char* text;
  };
  static const Bit kBits[] = {
      {0x01, "Buffer de impressão cheio.\n"}, {0x02, "Sem papel.\n"},
      {0x08, "Falha na margem.\n"},           {0x20, "Falha no motor.\n"},
      {0x40, "Erro de paridade.\n"},
  };
  std::string s;
  for (const Bit& b : kBits)
    if (status & b.mask) s += cp(b.text);
  return s;
}

std::vector<std::string> textLines(std::string_view text, int columns, const Convert& convert) {
  std::vector<std::string> out;
  const std::string all = unixBreaks(text);
  for (std::string_view line : splitLines(all, false))
    out.push_back(convert(text::trimRight(padCut(line, static_cast<size_t>(std::max(columns, 0))))) + "\n");
  return out;
}

}  // namespace chronos

// ---------------------------------------------------------------- Imprecheq

namespace imprecheq {

ByteArray frame(const ByteArray& command, const ByteArray& parameters) {
  ByteArray f;
  f.reserve(command.size() + parameters.size() + 1);
  f.push_back(kESC);
  f.insert(f.end(), command.begin(), command.end());
  f.insert(f.end(), parameters.begin(), parameters.end());
  return f;
}

std::string textBlock(std::string_view text, int columns, const Convert& convert) {
  const std::string all = unixBreaks(text);
  std::string out;
  for (std::string_view line : splitLines(all, true))
    out += convert(text::trimRight(padCut(line, static_cast<size_t>(std::max(columns, 0))))) + "\n";
  out += static_cast<char>(kFF);
  return out;
}

}  // namespace imprecheq

}  // namespace tarvion::check
