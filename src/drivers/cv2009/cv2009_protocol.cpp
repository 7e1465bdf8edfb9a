#include "drivers/cv2009/cv2009_protocol.h"

#include <cctype>
#include <cstdlib>

#include "core/fields.h"
#include "core/text.h"

namespace tarvion::cv2009 {

using text::cp;

namespace {

// The widest amount and quantity the printer takes: 12 whole digits for
// money, 7 for a quantity with up to 6 decimals ("%f").
constexpr fields::Field kAmount{"Valor", 14, 2};
constexpr fields::Field kQuantity{"Quantidade", 13, 6};
constexpr fields::Field kHundredths{"Quantidade", 9, 2, fields::Rounding::TowardZero};

std::string stripLeading(const std::string& digits, size_t keep) {
  size_t first = 0;
  while (first < digits.size() && digits[first] == '0' && digits.size() - first > keep) ++first;
  return digits.substr(first);
}

// Codes 1 to 5 that classes 5, 6 and 7 share: another document is open.
const char* const kOpenDocument[] = {
    "Comando enviado não pode ser executado, pois existe um Cupom Fiscal aberto.",
    "Comando enviado não pode ser executado, pois existe um Comprovante Não Fiscal aberto.",
    "Comando enviado não pode ser executado, pois existe um Comprovante de Crédito ou Débito aberto.",
    "Comando enviado não pode ser executado, pois existe um Estorno de Comprovante de Crédito ou Débito aberto.",
    "Comando enviado não pode ser executado, pois existe um Relatório Gerencial aberto.",
};

struct CodeText {
  int code;
  const char* text;
};
struct ClassTable {
  int statusClass;
  const CodeText* codes;
  size_t count;
  const char* other;  // any other code; null: the class has one text for every code
};

const CodeText kClass2[] = {
    {1, "Conteúdo de parâmetro inválido no comando."}, {2, "Falta parâmetro no comando."},
    {3, "Excesso de parâmetros no comando."},          {4, "COO inicial maior que COO final."},
    {5, "CRZ inicial maior que CRZ final."},           {6, "Data inicial maior que data final."}};
const CodeText kClass4[] = {{1, "Comando só pode ser executado em intervenção."},
                            {2, "Comando não pode ser executado em intervenção."},
                            {3, "Comando não pode ser executado localmente."},
                            {4, "Comando não pode ser executado remotamente."}};
const CodeText kClass5[] = {
    {6, "Comando enviado não pode ser executado, pois o ECF está em repouso."},
    {7, "A quantidade máxima de itens em um Cupom Fiscal foi ultrapassada."},
    {8,
     "A quantidade de parcelas somente pode ser especificada para os pagamentos que envolvam meios que aceitem a "
     "emissão de CCD."},
    {9, "Limite máximo de pagamentos por documento já foi atingido."},
    {10, "Cancelamento de um Cupom Fiscal somente será permitido após o estorno de todos os CCDs emitidos."},
    {11, "Comando não pode ser executado em documento não pago."},
    {12, "Comando não pode ser executado após desconto ou acréscimo em subtotal."},
    {13, "Comando de acréscimo/desconto já executado."},
    {14, "Comando de consumidor já executado no clichê"}};
const CodeText kClass6[] = {
    {6, "A quantidade máxima de itens em um Comprovante Não Fiscal foi ultrapassada."},
    {7,
     "A quantidade de parcelas somente pode ser especificada para os pagamentos que envolvam meios que aceitem a "
     "emissão de CCD."},
    {8, "Limite máximo de pagamentos por documento já foi atingido."},
    {9, "Cancelamento de um Comprovante Não Fiscal somente será permitido após o estorno de todos os CCDs emitidos."},
    {10, "Comando não pode ser executado em documento não pago."},
    {11, "Comando não pode ser executado após desconto ou acréscimo em subtotal."},
    {12, "Comando de acréscimo/desconto já executado."},
    {13, "Comando de consumidor já executado no clichê"}};
const CodeText kClass7[] = {{6, "Não existe CCD para o pagamento especificado."},
                            {7, "CCD especificado já foi impresso."},
                            {8, "CCD especificado já foi re-impresso."},
                            {9, "CCD especificado já foi estornado."},
                            {10, "CDD não especificado no estorno não foi impresso."},
                            {11, "Limite máximo de CCD’s por cupom foi excedido."},
                            {12, "Comando enviado não pode ser executado dentro de CCD"},
                            {13, "Documento anterior diferente de Cupom Fiscal e Comprovante Não fiscal."},
                            {14, "Envio de texto genérico para CCD ou Relatório Gerencial já fechado."}};
const CodeText kClass9[] = {{1, "Memória Fiscal inicializada em outro ECF."},
                            {2, "Memória de Fita Detalhe inicializada em outro de ECF."},
                            {3, "Marca do ECF, Tipo ou Modelo incompatível com o gravado na Memória Fiscal."},
                            {4, "Número de série da MF diferente do gravado na MFD."},
                            {5, "Não foi localizado o número de série na MF."},
                            {6, "Não foi localizado na MF o registro do BR."},
                            {7, "Não foi localizado na MF o símbolo da moeda."},
                            {8, "Não foram localizados na MF os símbolos de criptografia do GT."},
                            {9, "Não foi localizado na MF o CNPJ/ IE ou IM do usuário."},
                            {10, "Versão do Software básico inválida."},
                            {11, "Memória Fiscal foi desconectada."},
                            {12, "MFD foi desconectada."},
                            {13, "Erro de gravação na Memória fiscal."},
                            {14, "Erro de gravação na MFD."},
                            {15, "Erro na recuperação de dados da MF."},
                            {16, "Erro na recuperação de dados da MFD."},
                            {17, "Checksum inválido no comando recebido pelo ECF."}};
const CodeText kClass11[] = {{1, "Excedida a quantidade permitida."}, {2, "Não permitida na condição."}};
const CodeText kClass13[] = {{1, "Qualquer alteração do relógio não permitida."},
                             {2, "Entrada ou saída de verão não permitida."},
                             {3, "Relógio com data/hora anterior ao último documento gravado na MFD."},
                             {4, "Data/hora do relógio inválida."}};
const CodeText kClass14[] = {{1, "Índice de alíquota de ICMS já existente."},
                             {2, "Índice de alíquota de ISSQN já existente"},
                             {3, "Índice de ISSQN não permitido."},
                             {4, "Índice de Meio de pagamento já existente"},
                             {5, "Índice de Não Fiscal já existente."},
                             {6, "Índice de relatório gerencial já existente."},
                             {7, "Excedida a quantidade máxima."}};
const CodeText kClass15[] = {{1, "Caractere de controle inválido no comando recebido pelo ECF."},
                             {2, "Checksum inválido no comando recebido pelo ECF."}};

#define CV_TABLE(n, other) \
  { n, kClass##n, sizeof kClass##n / sizeof kClass##n[0], other }
const ClassTable kClasses[] = {
    {1, nullptr, 0, "Comando inválido."},
    CV_TABLE(2, "Erro desconhecido de parametro de comando."),
    {3, nullptr, 0, "Excedeu a capacidade máxima do totalizador."},
    CV_TABLE(4, "Erro desconhecido de contexto."),
    CV_TABLE(5, "Erro desconhecido em cupom fiscal."),
    CV_TABLE(6, "Erro desconhecido em comprovante não fiscal."),
    CV_TABLE(7, "Erro desconhecido em relatório gerencial ou CCD."),
    {8, nullptr, 0, "Redução Z pendente ou já realizada na data."},
    CV_TABLE(9, "Erro desconhecido de integridade."),
    {10, nullptr, 0, "Redução Z pendente ou já realizada na data."},
    CV_TABLE(11, "Erro desconhecido de autenticação."),
    {12, nullptr, 0, "Sem papel."},
    CV_TABLE(13, "Erro desconhecido de relógio."),
    CV_TABLE(14, "Erro desconhecido de programação."),
    CV_TABLE(15, "Erro desconhecido de protocolo."),
};
#undef CV_TABLE

}  // namespace

uint8_t checksum(const uint8_t* data, size_t n) {
  unsigned s = 0;
  for (size_t i = 0; i < n; ++i) s += data[i];
  return static_cast<uint8_t>(s & 0xFF);
}

int nextSequence(int seq) {
  return seq >= 255 ? 0 : seq + 1;
}

std::string parameterName(uint16_t code, size_t index) {
  struct Named {
    uint16_t code;
    size_t index;
    const char* name;
  };
  // The free-text parameters; the others are numbers and fixed flags.
  static const Named kNames[] = {
      {cmd::OpenReceipt, 0, "CPF/CNPJ do consumidor"},
      {cmd::OpenReceipt, 1, "Nome do consumidor"},
      {cmd::OpenReceipt, 2, "Endereço do consumidor"},
      {cmd::RegisterItem, 0, "Código do produto"},
      {cmd::RegisterItem, 1, "Descrição do produto"},
      {cmd::RegisterItem, 3, "Unidade"},
      {cmd::CloseReceipt, 2, "Mensagem promocional"},
      {cmd::OpenLinked, 4, "CPF/CNPJ do consumidor"},
      {cmd::OpenLinked, 5, "Nome do consumidor"},
      {cmd::OpenLinked, 6, "Endereço do consumidor"},
      {cmd::PrintText, 0, "Texto"},
      {cmd::OpenNonFiscal, 0, "CPF/CNPJ do consumidor"},
      {cmd::OpenNonFiscal, 1, "Nome do consumidor"},
      {cmd::OpenNonFiscal, 2, "Endereço do consumidor"},
      {cmd::CloseNonFiscal, 1, "Mensagem"},
      {cmd::CashInOut, 2, "Mensagem"},
      {cmd::AppIdentification, 0, "Identificação do aplicativo"},
      {cmd::AddTable, 1, "Descrição"},
      {cmd::AddNonFiscalTitle, 1, "Título"},
      {cmd::AddReport, 1, "Título"},
      {cmd::Customer, 0, "CPF/CNPJ do consumidor"},
      {cmd::Customer, 1, "Nome do consumidor"},
      {cmd::Customer, 2, "Endereço do consumidor"},
      {cmd::CFeXml, 1, "Id inicial do CF-e-ECF"},
      {cmd::CFeXml, 2, "Id final do CF-e-ECF"},
  };
  for (const Named& n : kNames)
    if (n.code == code && n.index == index) return cp(n.name);
  return cp("Parâmetro ") + std::to_string(index + 1);
}

ByteArray buildFrame(uint8_t sequence, const ByteArray& command, const ByteArray& parameters) {
  ByteArray f;
  f.reserve(7 + command.size() + parameters.size());
  f.push_back(kSOH);
  f.push_back(sequence);
  for (uint8_t b : command) f.push_back(b);
  f.push_back(static_cast<uint8_t>(parameters.size() & 0xFF));
  f.push_back(static_cast<uint8_t>((parameters.size() >> 8) & 0xFF));
  for (uint8_t b : parameters) f.push_back(b);
  f.push_back(checksum(f.data() + 1, f.size() - 1));
  return f;
}

ByteArray commandBytes(uint16_t code) {
  return ByteArray{static_cast<uint8_t>(code & 0xFF), static_cast<uint8_t>(code >> 8)};
}

ByteArray enq(uint8_t block) {
  return ByteArray{kENQ, block};
}

Kind kindOf(const uint8_t* data, size_t n) {
  if (n == 0) return Kind::Empty;
  switch (data[0]) {
    case kSOH:
      return Kind::Frame;
    case kACK:
      return Kind::Ack;
    case kDC1:
      return Kind::Busy;
    case kNAK:
      return Kind::Nak;
    case kSYN:
      return Kind::Sync;
    default:
      return Kind::Unknown;
  }
}

size_t replyLength(const uint8_t* data, size_t n) {
  switch (kindOf(data, n)) {
    case Kind::Frame:
      if (n < kReplyHeader) return 0;
      return kReplyHeader + (data[9] | (static_cast<size_t>(data[10]) << 8)) + 1;
    case Kind::Ack:
      return 1;
    case Kind::Busy:
      return kBusyLength;
    case Kind::Nak:
      return kNakLength;
    case Kind::Sync:
      return kSyncLength;
    case Kind::Unknown:
      return 1;
    case Kind::Empty:
      return 0;
  }
  return 0;
}

bool checksumOk(const uint8_t* data, size_t n) {
  if (n < kReplyHeader + 1) return false;
  return checksum(data + 1, n - 2) == data[n - 1];
}

bool parseReplyFrame(const uint8_t* data, size_t n, ReplyFrame& out, bool verify) {
  if (kindOf(data, n) != Kind::Frame || n < kReplyHeader + 1) return false;
  const size_t total = replyLength(data, n);
  if (n < total || (verify && !checksumOk(data, total))) return false;
  out.sequence = data[1];
  out.status = data[4];
  out.code = data[5];
  out.block = data[7];
  out.data.assign(data + kReplyHeader, data + total - 1);
  return true;
}

std::string statusMessage(int statusClass, int code, int maker) {
  if (statusClass == 0) return {};
  if (statusClass == 16)
    return cp(maker == 1 ? "Erro ao utilizar o ECF. Verifique se a tampa do equipamento está aberta."
                         : "Erro ao utilizar o ECF.");
  if (statusClass >= 5 && statusClass <= 7 && code >= 1 && code <= 5) return cp(kOpenDocument[code - 1]);
  for (const ClassTable& t : kClasses) {
    if (t.statusClass != statusClass) continue;
    for (size_t i = 0; i < t.count; ++i)
      if (t.codes[i].code == code) return cp(t.codes[i].text);
    return cp(t.other);
  }
  return cp("Erro desconhecido.");
}

std::vector<std::string> splitFields(const uint8_t* data, size_t n) {
  std::vector<std::string> out;
  std::string cur;
  for (size_t i = 0; i < n; ++i) {
    if (data[i] == kSeparator) {
      out.push_back(std::move(cur));
      cur.clear();
    } else {
      cur.push_back(static_cast<char>(data[i]));
    }
  }
  if (!cur.empty()) out.push_back(std::move(cur));
  return out;
}

DateTime parseDateTimeText(const std::string& s) {
  auto part = [&](size_t at, size_t len) -> int {
    if (s.size() < at + len) return 0;
    int v = 0;
    for (size_t i = at; i < at + len; ++i) {
      if (!std::isdigit(static_cast<unsigned char>(s[i]))) return -1;
      v = v * 10 + (s[i] - '0');
    }
    return v;
  };
  if (s.size() < 8) return DateTime::invalid();
  const int day = part(0, 2), month = part(2, 2), year = part(4, 4);
  const int hour = s.size() >= 10 ? part(8, 2) : 0;
  const int minute = s.size() >= 12 ? part(10, 2) : 0;
  const int second = s.size() >= 14 ? part(12, 2) : 0;
  if (day < 0 || month < 0 || year < 0 || hour < 0 || minute < 0 || second < 0) return DateTime::invalid();
  return DateTime::fromParts(year, month, day, hour, minute, second);
}

std::string dateText(const DateTime& dt) {
  DateParts p;
  if (!dt.parts(p)) return {};
  return text::format("%02i%02i%04i", p.day, p.month, p.year);
}

std::string timeText(const DateTime& dt) {
  DateParts p;
  if (!dt.parts(p)) return {};
  return text::format("%02i%02i%02i", p.hour, p.minute, p.second);
}

long integerOf(const std::string& s) {
  return std::strtol(s.c_str(), nullptr, 10);
}

double amountOf(const std::string& s) {
  // Digits, an optional sign and one point: read by hand so that the process
  // locale never decides what the point means.
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  double v = 0.0, scale = 0.0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '.' && scale == 0.0) {
      scale = 1.0;
    } else if (c >= '0' && c <= '9') {
      if (scale == 0.0) {
        v = v * 10 + (c - '0');
      } else {
        scale /= 10;
        v += (c - '0') * scale;
      }
    } else {
      break;
    }
  }
  return negative ? -v : v;
}

bool amountText(double value, std::string& out, std::string& error) {
  const fields::Result r = fields::format(value, kAmount);
  if (!r.ok()) {
    error = r.error;
    return false;
  }
  out = stripLeading(r.text, 3);
  return true;
}

bool quantityText(double value, std::string& digits, std::string& decimals, std::string& error) {
  const fields::Result r = fields::format(value, kQuantity);
  if (!r.ok()) {
    error = r.error;
    return false;
  }
  const std::string whole = r.text.substr(0, r.text.size() - 6);
  std::string fraction = r.text.substr(r.text.size() - 6);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  digits = stripLeading(whole + fraction, 1);
  decimals = std::to_string(fraction.size());
  return true;
}

bool hundredthsText(double value, std::string& digits, std::string& error) {
  const fields::Result r = fields::format(value, kHundredths);
  if (!r.ok()) {
    error = r.error;
    return false;
  }
  digits = stripLeading(r.text, 1);
  return true;
}

const text::Markup& printerMarkup(bool bold) {
  static const text::Markup withBold{{{text::kBold,
                                       "\x1B"
                                       "E",
                                       "\x1B"
                                       "F",
                                       nullptr}}};
  static const text::Markup plain{};
  return bold ? withBold : plain;
}

}  // namespace tarvion::cv2009
