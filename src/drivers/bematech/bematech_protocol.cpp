#include "drivers/bematech/bematech_protocol.h"

#include <cmath>
#include <cstdlib>

#include "core/text.h"

namespace tarvion::bematech {

uint16_t checksum(const uint8_t* data, size_t n) {
  uint32_t s = 0;
  for (size_t i = 0; i < n; ++i) s += data[i];
  return static_cast<uint16_t>(s & 0xFFFF);
}

ByteArray buildFrame(uint8_t prefix, const ByteArray& command, const ByteArray& parameters) {
  const size_t n = 1 + command.size() + parameters.size() + 2;
  ByteArray f;
  f.reserve(3 + n);
  f.push_back(kSTX);
  f.push_back(static_cast<uint8_t>(n & 0xFF));
  f.push_back(static_cast<uint8_t>((n >> 8) & 0xFF));
  f.push_back(prefix);
  f.insert(f.end(), command.begin(), command.end());
  f.insert(f.end(), parameters.begin(), parameters.end());
  uint16_t s = checksum(f.data() + 3, f.size() - 3);
  f.push_back(static_cast<uint8_t>(s & 0xFF));
  f.push_back(static_cast<uint8_t>(s >> 8));
  return f;
}

FrameState parseFrame(const uint8_t* data, size_t n, ParsedFrame& out) {
  if (n == 0) return FrameState::Incomplete;
  if (data[0] != kSTX) return FrameState::NotAFrame;
  if (n < 3) return FrameState::Incomplete;
  const size_t len = data[1] | (static_cast<size_t>(data[2]) << 8);
  if (len < 4) return FrameState::NotAFrame;  // prefix, command and checksum at least
  if (n < 3 + len) return FrameState::Incomplete;
  out.size = 3 + len;
  out.prefix = data[3];
  const uint16_t sum = checksum(data + 3, len - 2);
  const uint16_t got = static_cast<uint16_t>(data[3 + len - 2] | (data[3 + len - 1] << 8));
  out.body.assign(data + 4, data + 3 + len - 2);
  return sum == got ? FrameState::Ok : FrameState::BadChecksum;
}

bool isDataCommand(uint8_t c) {
  switch (c) {
    case 23:
    case 26:
    case 27:
    case 30:
    case 35:
    case 62:
    case 71:
    case 88:
      return true;
    default:
      return false;
  }
}

bool isTextRead(const ByteArray& command, const ByteArray& parameters) {
  if (command.empty()) return false;
  if (command[0] == cmd::LeituraXSerial) return true;
  if (command[0] == cmd::FiscalMemory && !parameters.empty())
    return parameters.back() == 'r' || parameters.back() == 'R';
  return false;
}

Status statusOf(const ByteArray& reply, uint8_t command, bool fsPrefix) {
  Status s;
  const long n = static_cast<long>(reply.size());
  if (reply.empty()) return s;
  if (isDataCommand(command)) {
    long i1 = fsPrefix ? n - 4 : n - 2, i2 = fsPrefix ? n - 3 : n - 1;
    if (i1 < 0) i1 = 0;
    if (i2 < 0) i2 = 0;
    s.st1 = reply[i1];
    s.st2 = reply[i2];
  } else {
    s.st1 = reply[0];
    s.st2 = n > 1 ? reply[1] : 0;
  }
  return s;
}

std::string statusText(Status s) {
  static const char* const k1[8] = {"Número de parâmetros do comando inválido.\n",
                                    "Cupom aberto.\n",
                                    "Comando inexistente.\n",
                                    "Primeiro dado do comando não foi ESC.\n",
                                    "Impressora em erro.\n",
                                    "Erro no relógio.\n",
                                    nullptr,
                                    "Fim de papel ou tampa aberta.\n"};
  static const char* const k2[8] = {"Comando não executado.\n",      "CGC/IE do proprietário não programados.\n",
                                    "Cancelamento não permitido.\n", "Capacidade de alíquotas programáveis lotada.\n",
                                    "Alíquota não programada.\n",    "Erro na memória RAM CMOS não volátil.\n",
                                    "Memória fiscal lotada.\n",      "Tipo de parâmetro do comando inválido.\n"};
  std::string out;
  for (int b = 0; b < 8; ++b)
    if ((s.st1 >> b) & 1 && k1[b]) out += text::cp(k1[b]);
  for (int b = 0; b < 8; ++b)
    if ((s.st2 >> b) & 1) out += text::cp(k2[b]);
  return out;
}

uint16_t st3Of(const ByteArray& reply) {
  const size_t n = reply.size();
  if (n < 2) return 0;
  return static_cast<uint16_t>(reply[n - 2] | (reply[n - 1] << 8));
}

namespace {
// Extended status texts (ST3) of the full table, code 1 first.
static const char* const kFullSt3[208] = {
    "Comando inválido.",
    "Erro desconhecido.",
    "Número de parâmetro inválido.",
    "Tipo de parâmetro inválido.",
    "Todas alíquotas já programadas.",
    "Totalizador não fiscal já programado.",
    "Cupom fiscal aberto.",
    "Cupom fiscal fechado.",
    "ECF ocupado.",
    "Impressora em erro.",
    "Impressora sem papel.",
    "Impressora com tampa aberta.",
    "Impressora off line.",
    "Alíquota não programada.",
    "Terminador de string faltando.",
    "Acréscimo ou desconto maior que o total do cupom fiscal.",
    "Cupom fiscal sem item vendido.",
    "Comando não efetivado.",
    "Sem espaço para novas formas de pagamento.",
    "Forma de pagamento não programada.",
    "Índice maior que número de forma de pagamento.",
    "Formas de pagamento encerradas.",
    "Cupom não totalizado.",
    "Comando maior que 7F.",
    "Cupom fiscal aberto e sem item.",
    "Cancelamento não imediatamente após.",
    "Cancelamento já efetuado.",
    "Comprovante de crédito ou débito não permitido ou já emitido.",
    "Meio de pagamento não permite TEF.",
    "Sem comprovante não fiscal aberto.",
    "Comprovante de crédito ou débito já aberto.",
    "Reimpressão não permitida.",
    "Comprovante não fiscal já aberto.",
    "Totalizador não fiscal não programado.",
    "Cupom não fiscal sem item vendido.",
    "Acréscimo e desconto maior que total CNF.",
    "Meio de pagamento não indicado.",
    "Meio de pagamento diferente do total do recebimento.",
    "Não permitido mais de uma sangria ou suprimento.",
    "Relatório já programado.",
    "Relatório gerencial não programado.",
    "Relatório gerencial não permitido.",
    "MFD não inicializada.",
    "MFD ausente.",
    "MFD sem número de série.",
    "MFD já inicializada.",
    "MFD lotada.",
    "Cupom não fiscal aberto.",
    "Memória fiscal desconectada.",
    "Memória fiscal sem número de série da MFD.",
    "Memória fiscal lotada.",
    "Data inicial inválida.",
    "Data final inválida.",
    "Contador de redução Z inicial inválido.",
    "Contador de redução Z final inválido.",
    "Erro de alocação.",
    "Dados do RTC incorretos.",
    "Data anterior ao último documento emitido.",
    "Fora de intervenção técnica.",
    "Em intervenção técnica.",
    "Erro na memória de trabalho.",
    "Já houve movimento no dia.",
    "Bloqueio por redução Z.",
    "Forma de pagamento aberta.",
    "Aguardando primeiro proprietário.",
    "Aguardando redução Z.",
    "ECF ou loja igual a zero.",
    "Cupom adicional não permitido.",
    "Desconto maior que total vendido em ICMS.",
    "Recebimento não fiscal nulo não permitido.",
    "Acréscimo ou desconto maior que total não fiscal.",
    "Memória fiscal lotada para novo cartucho.",
    "Erro de gravação na MF.",
    "Erro de gravação na MFD.",
    "Dados do RTC anteriores ao último documento armazenado.",
    "Memória fiscal sem espaço para gravar leituras da MFD.",
    "Memória fiscal sem espaço para gravar versão do software básico.",
    "Descrição igual a default não permitido.",
    "Extrapolado número de repetições permitidas.",
    "Segunda via do comprovante de crédito ou débito não permitido.",
    "Parcelamento fora da sequência.",
    "Comprovante de crédito ou débito aberto.",
    "Texto com sequência de ESC inválida.",
    "Texto com sequência de ESC incompleta.",
    "Venda com valor nulo.",
    "Estorno de valor nulo.",
    "Forma de pagamento diferente do total da sangria.",
    "Redução não permitida em intervenção técnica.",
    "Aguardando redução Z para entrada em intervenção técnica.",
    "Forma de pagamento com valor nulo não permitido.",
    "Acréscimo e desconto maior que valor do item.",
    "Autenticação não permitida.",
    "Timeout na validação.",
    "Comando não executado em impressora bilhete de passagem.",
    "Comando não executado em impressora de cupom fiscal.",
    "Cupom não fiscal fechado.",
    "Parâmetro não ASCII em campo ASCII.",
    "Parâmetro não ASCII numérico em campo ASCII numérico.",
    "Tipo de transporte inválido.",
    "Data e hora inválidas.",
    "Sem relatório gerencial.",
    "Número do totalizador não fiscal inválido.",
    "Parâmetro de acréscimo ou desconto inválido.",
    "Acréscimo ou desconto em sangria ou suprimento não permitido.",
    "Número do relatório gerencial inválido.",
    "Forma de pagamento fonte não programada.",
    "Forma de pagamento destino não programada.",
    "Estorno maior que forma pagamento.",
    "Caracter numérico na codificação do GT não permitido.",
    "Erro na inicialização da MF.",
    "Nome do totalizador em branco não permitido.",
    "Data e hora anteriores ao último documento armazenado.",
    "Parâmetro de acréscimo ou desconto inválido.",
    "Item anterior aos trezentos últimos.",
    "Item não existe ou já cancelado.",
    "Código com espaços não permitido.",
    "Descrição sem caracter alfabético não permitido.",
    "Acréscimo maior que valor do item.",
    "Desconto maior que valor do item.",
    "Desconto em ISS não permitido.",
    "Acréscimo em item já efetuado.",
    "Desconto em item já efetuado.",
    "Erro na memória fiscal. Chamar credenciado.",
    "Aguardando gravação na memória fiscal.",
    "Caracter repetido na codificação do GT.",
    "Versão já gravada na memória fiscal.",
    "Estouro de capacidade no cheque.",
    "Timeout na leitura do cheque.",
    "Mês inválido.",
    "Coordenada inválida.",
    "Sobreposição de texto.",
    "Sobreposição de texto no valor.",
    "Sobreposição de texto no extenso.",
    "Sobreposição de texto no favorecido.",
    "Sobreposição de texto na localidade.",
    "Sobreposição de texto no opcional.",
    "Sobreposição de texto no dia.",
    "Sobreposição de texto no mês.",
    "Sobreposição de texto no ano.",
    "Usando MFD de outro ECF.",
    "Primeiro dado diferente de 1B ou 1C.",
    "Não permitido alterar sem intervenção técnica.",
    "Dados da última redução Z corrompidos.",
    "Comando não permitido no modo inicialização.",
    "Aguardando acerto de relógio.",
    "MFD já inicializada para outra memoria fiscal.",
    "Aguardando acerto do relógio ou desbloqueio pelo teclado.",
    "Valor forma de pagamento maior que máximo permitido.",
    "Razão social em branco.",
    "Nome de fantasia em branco.",
    "Endereço em branco.",
    "Estorno de CDC não permitido.",
    "Dados do proprietário iguais ao atual.",
    "Estorno de forma de pagamento não permitido.",
    "Descrição de forma de pagamento igual já programada.",
    "Acerto de horário de verão só imediatamente após redução Z.",
    "Intervenção técnica não permitida. MF reservada para redução Z.",
    "Senha CNPJ inválida.",
    "Timeout na inicialização da nova MF.",
    "Dados da MFD não encontrados.",
    "Sangria ou suprimento devem ser únicos no comprovante não fiscal.",
    "Índice da forma de pagamento nulo não permitido.",
    "UF de destino inválida.",
    "Tipo de transporte incompatível com a UF de destino.",
    "Descrição do primeiro item do bilhete de passagem diferente de \"TARIFA\".",
    "Aguardando impressão de cheque ou autenticação.",
    "Programação de CNPJ e IE preenchido com espaços em branco não permitido.",
    "Programação de UF preenchido com espaços em branco não permitido.",
    "Número de impressões da fita detalhe nesta intervenção técnica esgotado.",
    "Cupom fiscal já subtotalizado.",
    "Cupom não subtotalizado.",
    "Acréscimo em subtotal já efetuado.",
    "Desconto em subtotal já efetuado.",
    "Acréscimo com valor nulo não permitido.",
    "Desconto com valor nulo não permitido.",
    "Cancelamento de acréscimo ou desconto em subtotal não permitido.",
    "Data inválida.",
    "Valor do cheque nulo não permitido.",
    "Valor do cheque inválido.",
    "Cheque sem a informação da localidade não permitido.",
    "Cancelamento de acréscimo em item não permitido.",
    "Cancelamento de desconto em item não permitido.",
    "Número máximo de itens atingido.",
    "Número do item nulo não permitido.",
    "Mais que duas alíquotas diferentes no bilhete de passagem não permitido.",
    "Acréscimo ou desconto em item não permitido.",
    "Cancelamento de acréscimo ou desconto em item não permitido.",
    "Clichê já impresso.",
    "Texto opcional do cheque excedeu o máximo de linhas permitido.",
    "Impressão automática no verso não disponível neste equipamento.",
    "Timeout na inserção do cheque.",
    "Overflow na capacidade de texto do comprovante de crédito ou débito.",
    "Programação de espaços entre cupons menor que o mínimo permitido.",
    "Equipamento não possui leitor de cheque.",
    "Programação da alíquota com valor nulo não permitida.",
    "Parâmetro baud rate inválido.",
    "Configuração permitida somente pela porta do fisco.",
    "Valor total do item excede 11 dígitos.",
    "Programação da moeda com espaços em branco não permitido.",
    "Casa decimais devem ser programadas com 2 ou 3.",
    "Não permite cadastrar usuários diferentes na mesma MFD.",
    "Identificação do consumidor não permitido para sangria ou suprimento.",
    "Casas decimais em quantidade maior do que a permitida.",
    "Casas decimais do unitário maior do que o permitido.",
    "Posição reservada para ICMS.",
    "Posição reservada para ISS.",
    "Todas as alíquotas com a mesma vinculação não permitido.",
    "Data de embarque anterior a data de emissão.",
};

std::vector<std::string> buildTable(St3Table which) {
  std::vector<std::string> full;
  for (const char* t : kFullSt3) full.push_back(text::cp(t));
  switch (which) {
    case St3Table::Full:
      return full;
    case St3Table::MP25: {
      std::vector<std::string> t(full.begin(), full.begin() + 195);
      t[11] = text::cp("Impressora com cabeça levantada.");
      return t;
    }
    case St3Table::IBM4610: {
      std::vector<std::string> t = buildTable(St3Table::MP25);
      t.erase(t.begin() + 167);  // no "Programação de UF preenchido com espaços em branco..."
      return t;
    }
    case St3Table::MP2000: {
      std::vector<std::string> t(full.begin(), full.begin() + 158);
      t[29] = text::cp("Comprovante não fiscal aberto.");
      t[39] = text::cp("Já programado.");
      t[105] = t[106] = text::cp("Forma de pagamento não programada.");
      t[108] = text::cp("Caracter numérico na codificação GT não permitido.");
      t.erase(t.begin() + 124);  // no "Caracter repetido na codificação do GT."
      return t;
    }
  }
  return full;
}
}  // namespace

const std::vector<std::string>& st3Table(St3Table which) {
  static const std::vector<std::string> tables[4] = {buildTable(St3Table::Full), buildTable(St3Table::MP25),
                                                     buildTable(St3Table::IBM4610), buildTable(St3Table::MP2000)};
  return tables[static_cast<int>(which)];
}

std::string st3Text(St3Table which, uint16_t code) {
  const auto& t = st3Table(which);
  if (code < 1 || code > t.size()) return {};
  return t[code - 1];
}

uint64_t bcdValue(const uint8_t* data, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v = v * 100 + (data[i] >> 4) * 10 + (data[i] & 0x0F);
  return v;
}

std::string bcdDigits(const uint8_t* data, size_t n) {
  return text::hexDump(data, n);
}

ByteArray toBcd(uint64_t value, size_t bytes) {
  ByteArray out(bytes, 0);
  for (size_t i = bytes; i-- > 0;) {
    uint8_t lo = value % 10;
    value /= 10;
    uint8_t hi = value % 10;
    value /= 10;
    out[i] = static_cast<uint8_t>((hi << 4) | lo);
  }
  return out;
}

}  // namespace tarvion::bematech

namespace tarvion::bematech::fmt {

namespace {

bool isAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::string fixedField(double value, int width, int decimals) {
  return fields::printfFixed(value, width, decimals);
}

std::string padRight(const std::string& s, size_t width) {
  if (s.size() >= width) return s;
  return s + std::string(width - s.size(), ' ');
}

std::string totaliserCode(int t, const char* first, const char* second) {
  if (t == 1) return first;
  if (t == 2) return second;
  if (t <= 4) return text::format("#%i", t - 2);
  return text::format("%02i", t - 2);
}

long double bcdDecimal(const uint8_t* data, size_t n) {
  long double v = 0.0L;
  for (size_t i = 0; i < n; ++i) v = v * 100.0L + (data[i] >> 4) * 10 + (data[i] & 0x0F);
  return v;
}

long hexDigitsValue(const uint8_t* data, size_t n) {
  std::string digits = text::hexDump(data, n);
  long v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') break;
    v = v * 10 + (c - '0');
  }
  return v;
}

std::string taxKey(double rate, bool service) {
  std::string key(1, service ? 'S' : 'T');
  key += fixedField(rate, 5, 2);
  return key;
}

std::string taxLabel(int index, double rate, bool service) {
  std::string label = text::format("%02i", index);
  label += service ? 'S' : 'T';
  label += fixedField(rate * 100, 4, 0);
  return label;
}

std::string exemptLabel(double rate, bool service) {
  const double t = std::trunc(rate);
  if (t == 0.0) return service ? "SI" : "II";
  if (t == -1.0) return service ? "SF" : "FF";
  if (t == -2.0) return service ? "SN" : "NN";
  return {};
}

std::string lastItemLabel(const std::string& label) {
  if (label.size() == 2) return std::string(1, label[0]) + "1";
  if (label.size() == 3) return std::string(1, label[1]) + "S1";
  return label;
}

std::string taxMissingMessage(double rate, bool service) {
  return text::cp(service ? "Alíquota de ISS de " : "Alíquota de ICMS de ") + fixedField(rate, 5, 2) +
         text::cp("% não cadastrada no ECF.");
}

ItemFields itemFields(const std::string& label, double quantity, double unitPrice, double discount, bool mp7000) {
  ItemFields f;
  fields::Checked num;
  f.tax = label.substr(0, 2);
  f.unitPrice = num(unitPrice, mp7000 ? field::kUnitPriceMP7000 : field::kUnitPrice);
  f.quantity = num(quantity, field::kQuantity);
  // A discount of no value is "no discount" whatever the quantity (0 * inf is no number).
  f.discount =
      num(discount > 0 ? discount * quantity : 0.0, mp7000 ? field::kItemDiscountMP7000 : field::kItemDiscount);
  f.increase = num(discount < 0 ? std::fabs(discount) * quantity : 0.0,
                   mp7000 ? field::kItemIncreaseMP7000 : field::kItemIncrease);
  f.error = num.error();
  return f;
}

std::string itemDescription(const std::string& description) {
  std::string d = description;
  for (auto& c : d)
    if (c == '\n' || c == '\r') c = ' ';
  d = text::trimRight(d);
  bool letter = false;
  for (char c : d) letter = letter || isAsciiLetter(c);
  if (!letter) {
    if (d.size() < 20) d.resize(20, ' ');
    d[19] = 'D';
  }
  if (d.size() > 199) d.resize(199);
  return text::trimRight(d);
}

std::string itemCode(const std::string& code) {
  return text::trimRight(code.substr(0, 14));
}

std::string closingText(const std::string& message, const std::string& line1, const std::string& line2, int columns) {
  auto fit = [columns](const std::string& line) {
    if (line.empty()) return line;
    std::string padded = padRight(line, 50);
    return padded.substr(0, static_cast<size_t>(columns > 0 ? columns : 0));
  };
  const std::string l1 = fit(line1), l2 = fit(line2);
  if (l1.empty()) return message;
  return l1 + l2 + message;
}

std::vector<std::string> reportBlocks(const std::string& text, int columns) {
  std::string rest = text + "\r";
  std::string joined;
  joined.reserve(rest.size());
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '\r' && i + 1 < rest.size() && rest[i + 1] == '\n') {
      joined += '\r';
      ++i;
    } else {
      joined += rest[i] == '\n' ? '\r' : rest[i];
    }
  }
  std::vector<std::string> blocks;
  std::string block;
  int lines = 0;
  size_t start = 0;
  const size_t width = static_cast<size_t>(columns > 0 ? columns : 0);
  for (size_t cr = joined.find('\r'); cr != std::string::npos; cr = joined.find('\r', start)) {
    std::string line = padRight(joined.substr(start, cr - start), 100).substr(0, width);
    block += text::trimRight(line) + "\n";
    start = cr + 1;
    if (++lines == 12) {
      blocks.push_back(block);
      block.clear();
      lines = 0;
    }
  }
  if (lines > 0) blocks.push_back(block);
  return blocks;
}

std::string dateField(const DateTime& dt) {
  DateParts p;
  if (!dt.parts(p)) return {};
  return text::format("%02d%02d%02d", p.day, p.month, p.year % 100);
}

std::string dateTimeField(const DateTime& dt) {
  DateParts p;
  if (!dt.parts(p)) return {};
  return text::format("%02d%02d%02d%02d%02d%02d", p.day, p.month, p.year % 100, p.hour, p.minute, p.second);
}

DateTime bcdDate(const uint8_t* data, size_t n) {
  if (n < 3) return DateTime::invalid();
  auto two = [data](size_t i) { return static_cast<int>(bcdValue(data + i, 1)); };
  if (n >= 6) return DateTime::fromParts(2000 + two(2), two(1), two(0), two(3), two(4), two(5));
  return DateTime::fromParts(2000 + two(2), two(1), two(0));
}

std::string taxFlags(const ByteArray& reply) {
  std::string flags;
  for (size_t i = 0; i < 2; ++i) {
    const uint8_t b = i < reply.size() ? reply[i] : 0;
    for (int bit = 7; bit >= 0; --bit) flags += ((b >> bit) & 1) ? '1' : '0';
  }
  return flags;
}

std::vector<std::string> taxList(const ByteArray& rates, const std::string& flags) {
  std::vector<std::string> list{""};
  if (rates.empty()) return list;
  const int count = rates[0];
  int k = 1;
  for (size_t pos = 1; static_cast<int>(pos) < 2 * count && pos + 1 < rates.size(); pos += 2, ++k) {
    const bool service = static_cast<size_t>(k) <= flags.size() && flags[static_cast<size_t>(k) - 1] != '0';
    std::string entry(1, service ? 'S' : 'T');
    entry += text::format("%02x.%02x", rates[pos], rates[pos + 1]);
    list.push_back(entry);
  }
  return list;
}

std::optional<size_t> replyLength(const ByteArray& command, const ByteArray& parameters, bool fsPrefix) {
  const size_t status = fsPrefix ? 4 : 2;
  if (command.empty()) return std::nullopt;
  if (isTextRead(command, parameters)) return std::nullopt;
  const uint8_t c = command[0];
  if (!isDataCommand(c)) return status;
  // The sub-code is the second byte of the command, or the first parameter byte
  // when an operation puts it there.
  int sub = -1;
  if (command.size() > 1)
    sub = command[1];
  else if (!parameters.empty())
    sub = parameters[0];
  size_t data = 0;
  switch (c) {
    case cmd::LoadTaxRates:
      data = 33;
      break;
    case cmd::ReceiptNumber:
      data = 3;
      break;
    case cmd::Read:
      switch (sub) {
        case sub::SerialNumber:
          data = 20;
          break;
        case sub::Firmware:
        case sub::ZCounter:
        case sub::RestartCounter:
        case sub::UserNumber:
        case sub::LastItem:
        case sub::PrinterNumber:
        case sub::TaxFlags:
          data = 2;
          break;
        case sub::GrandTotal:
          data = 9;
          break;
        case sub::CancelTotal:
        case sub::DiscountTotal:
        case sub::IncreaseTotal:
          data = 7;
          break;
        case sub::OperationCounter:
        case sub::NonFiscalCounter:
        case sub::Flags:
        case sub::LastReductionDate:
        case sub::MovementDate:
          data = 3;
          break;
        case sub::DateTime:
          data = 6;
          break;
        case sub::FiscalStartDate:
          data = 3 + 16 * 7;
          break;
        default:
          return std::nullopt;
      }
      break;
    case cmd::ReadBlock:
      if (sub != sub::InitialBlock) return std::nullopt;
      data = 296;
      break;
    default:
      return std::nullopt;
  }
  // A 35 or 62 read without its sub-code has no known layout.
  if ((c == cmd::Read || c == cmd::ReadBlock) && sub < 0) return std::nullopt;
  return data + status;
}

std::string textOfReply(const ByteArray& reply, bool fsPrefix) {
  const size_t front = 2, back = fsPrefix ? 4 : 2;
  if (reply.size() <= front + back) return {};
  return std::string(reply.begin() + static_cast<long>(front), reply.end() - static_cast<long>(back));
}

std::string fitField(const std::string& s, size_t n) {
  std::string out = s.substr(0, n);
  out.resize(n, ' ');
  return out;
}

// ---------------------------------------------------------------- FS printer text

const text::Markup& fsMarkup() {
  static const text::Markup m{{{text::kBold, "\x1B\x45", "\x1B\x46", nullptr}}};
  return m;
}

std::string fsCharset(const std::string& cp1252) {
  return text::foldPrinterText(cp1252, text::charset::printer850());
}

std::string fsLayout(const std::string& text, int columns) {
  return text::layoutLines(text, columns > 0 ? columns : 1, fsMarkup());
}

std::string cutText(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t n = limit;
  if (n > 0 && text[n - 1] == '\x1B') --n;
  return text.substr(0, n);
}

std::vector<std::string> textBlocks(const std::string& text) {
  std::vector<std::string> blocks;
  size_t at = 0;
  while (text.size() - at > kBlockLimit) {
    size_t n = kBlockLimit;
    if (text[at + 598] == '\x1B')
      n = 598;
    else if (text[at + 599] == '\x1B')
      n = 599;
    blocks.push_back(text.substr(at, n));
    at += n;
  }
  if (at < text.size() || blocks.empty()) blocks.push_back(text.substr(at));
  return blocks;
}

// ---------------------------------------------------------------- checks

namespace {
// The banks of the printers' check layout table.
constexpr std::string_view kBanks[] = {
    "000", "001", "003", "004", "006", "008", "021", "022", "024", "027", "028", "029", "031", "032", "033",
    "034", "035", "036", "037", "038", "039", "041", "047", "048", "059", "070", "104", "106", "151", "153",
    "168", "200", "201", "206", "207", "211", "215", "220", "230", "231", "237", "244", "254", "275", "282",
    "291", "294", "302", "308", "320", "334", "341", "346", "347", "351", "353", "356", "369", "370", "372",
    "376", "388", "389", "392", "394", "399", "409", "415", "420", "422", "424", "434", "453", "456", "464",
    "472", "477", "479", "483", "487", "494", "602", "603", "607", "610", "630", "718", "756", "995", "996"};

std::string bankDigits(const std::string& number) {
  std::string n = text::trim(number);
  for (char c : n)
    if (c < '0' || c > '9') return n;
  if (!n.empty() && n.size() < 3) n.insert(0, 3 - n.size(), '0');
  return n;
}
}  // namespace

bool knownBank(const std::string& number) {
  const std::string n = bankDigits(number);
  for (std::string_view b : kBanks)
    if (n == b) return true;
  return false;
}

std::string bankField(const std::string& number) {
  return knownBank(number) ? bankDigits(number) : "###";
}

std::string checkDate(const DateTime& dt) {
  DateParts p;
  if (!dt.parts(p) && !DateTime::now().parts(p)) return "00000000";
  return text::format("%02d%02d%04d", p.day, p.month, p.year);
}

bool documentReady(uint8_t b) {
  return (b & 0x04) && (b & 0x20) && (b & 0x40) && !(b & 0x08);
}
bool documentReadyMP7000(uint8_t b) {
  return (b & 0x01) && (b & 0x40) && (b & 0x08);
}

std::string cmc7Text(const std::string& raw, bool dropLetters) {
  std::string out;
  for (char c : padRight(raw, 33)) {
    if (c == ' ' || c == '<' || c == '>' || c == '^' || c == '=' || c == '/') continue;
    if (dropLetters && c >= 'a' && c <= 'e') continue;
    out += c;
  }
  return out;
}

std::string pafIdentification(const std::string& line1, const std::string& line2) {
  return fitField(line1, 48) + fitField(line2, 36);
}

}  // namespace tarvion::bematech::fmt
