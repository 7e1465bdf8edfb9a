#include "drivers/bematech/bematech_protocol.h"

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
