// The Schalter ECF-IF codec: frames, the status table, the reply sizes and the
// readers of the reply fields.
#include "drivers/schalter/schalter_protocol.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/text.h"

namespace tarvion::schalter {

uint8_t checkByte(const uint8_t* data, size_t n) {
  unsigned sum = 0;
  for (size_t i = 0; i < n; ++i) sum += data[i];
  return static_cast<uint8_t>((0x100 - (sum & 0xFF)) & 0xFF);
}

ByteArray buildFrame(const ByteArray& command, const ByteArray& parameters) {
  ByteArray f;
  f.reserve(4 + command.size() + parameters.size());
  f.push_back(kESC);
  f.push_back(kFrame);
  f.insert(f.end(), command.begin(), command.end());
  f.insert(f.end(), parameters.begin(), parameters.end());
  f.push_back(checkByte(f.data(), f.size()));
  return f;
}

ByteArray buildTextLine(std::string_view line) {
  ByteArray f;
  f.reserve(line.size() + 4);
  f.push_back(kESC);
  f.push_back(kText);
  // A NUL inside the line would end it early on the printer.
  for (const char c : line) f.push_back(c == '\0' ? static_cast<uint8_t>(' ') : static_cast<uint8_t>(c));
  f.push_back(0x00);
  f.push_back('\n');
  return f;
}

namespace {

// Kept in code order: looked up by binary search.
constexpr std::pair<uint8_t, const char*> kStatuses[] = {
    {1, "Erro de checksum"},
    {2, "Timeout de recepção"},
    {3, "Memória insuficiente"},
    {4, "Timeout de transmissão"},
    {10, "Erro de overrun"},
    {11, "Erro de paridade"},
    {12, "Erro de overrun e paridade"},
    {13, "Erro de framing"},
    {14, "Erro de sobreposição e formato"},
    {15, "Erro de paridade e sobreposição"},
    {16, "Erro múltiplo de comunicação"},
    {20, "Erro de cadastro dos bancos"},
    {21, "Banco não cadastrado"},
    {22, "Moeda não cadastrada"},
    {23, "Extenso excedido"},
    {30, "Erro de memória"},
    {31, "Erro de arquivo"},
    {65, "Em venda"},
    {66, "Limite de cabeçalho alcançado"},
    {68, "Cabeçalho impresso"},
    {69, "Não começou venda"},
    {70, "Valor inválido"},
    {73, "Valor a menor"},
    {74, "Valor a maior"},
    {78, "Limite de reduções Z atingido"},
    {79, "Erro de checksum"},
    {80, "Palavra reservada"},
    {81, "Papel próximo do fim"},
    {82, "Data não localizada"},
    {84, "Erro de memória fiscal"},
    {85, "Perda da RAM"},
    {86, "Não houve pagamento"},
    {87, "Cupom já totalizado"},
    {88, "Não pode cancelar venda"},
    {89, "Comando não completo"},
    {90, "Cupom aberto"},
    {91, "Não há cupom a cancelar"},
    {92, "Tabela de taxa não inicializada"},
    {94, "Seleção de taxa inválida"},
    {95, "Cancelamento inválido"},
    {96, "Nada a retificar"},
    {97, "Redução não localizada"},
    {98, "Cabeçalho não carregado"},
    {99, "Impressora em intervenção técnica"},
    {100, "Impressora em período de venda"},
    {101, "Somente com intervenção técnica"},
    {102, "Desconto inválido"},
    {103, "Limite de linhas alcançado"},
    {104, "Somente após o total"},
    {105, "Dados inválidos"},
    {106, "Taxa não disponível"},
    {107, "Comando inexistente"},
    {108, "Não houve o fechamento do dia"},
    {109, "Erro irrecuperável"},
    {110, "Alteração inválida"},
    {111, "Data já alterada"},
    {112, "Alíquota não carregada"},
    {113, "Fechamento diário não realizado"},
    {114, "Abertura do dia inválida"},
    {115, "Fechamento já realizado"},
    {116, "Ajuste somente de +/- 1 hora"},
    {117, "Acréscimo inválido"},
    {118, "Pagamento incompleto"},
    {119, "Cheque não posicionado"},
    {120, "Seqüência de cheque incorreta"},
    {121, "Erro de gravação na MEF"},
    {126, "Comando fora de seqüência"},
    {127, "Autenticação sem papel"},
    {132, "Queda de energia"},
    {133, "Data inválida"},
    {134, "Item fora da faixa"},
    {135, "Item não vendido"},
    {136, "Parâmetro errado"},
    {137, "Limite de valor ultrapassado"},
    {138, "Relógio fora de operação"},
    {139, "Pagamento não definido"},
    {140, "Limite de autenticação excedido"},
    {141, "Comando de venda inválido"},
    {142, "Posição já programada"},
    {143, "Posição inexistente"},
    {144, "Cupom vinculado pendente"},
    {145, "Excesso de cupons vinculados"},
    {146, "Não há cupom vinculado pendente"},
    {147, "Mudança de horário já solicitada"},
    {148, "Cristal do relógio não oscila"},
    {149, "Pagamentos não inicializados"},
    {150, "Inscrição estadual inválida"},
    {151, "Extenso excedido"},
    {152, "Cupom está com valor zerado"},
    {153, "Codificação já programada"},
    {154, "Não há vinculados a cupom"},
    {155, "Redução não permitida"},
    {156, "Caracter repetido na codificação"},
    {157, "Caracter proibido na codificação"},
};
static_assert(std::size(kStatuses) == 94);

constexpr bool inOrder() {
  for (size_t i = 1; i < std::size(kStatuses); ++i)
    if (kStatuses[i - 1].first >= kStatuses[i].first) return false;
  return true;
}
static_assert(inOrder(), "the status table is looked up by binary search");

}  // namespace

std::string statusMessage(uint8_t code) {
  const auto* end = std::end(kStatuses);
  const auto* it = std::lower_bound(std::begin(kStatuses), end, code,
                                    [](const std::pair<uint8_t, const char*>& e, uint8_t c) { return e.first < c; });
  if (it == end || it->first != code) return {};
  return text::cp(it->second);
}

size_t replyLength(uint8_t command) {
  switch (command) {
    case kTaxRead:
      return kTaxReply;
    case kTitleRead:
      return kTitleReply;
    case kPaymentRead:
      return kPaymentReply;
    case kPendingRead:
      return kPendingReply;
    case kState:
      return kStateReply;
    case kCounters:
      return kCountersReply;
    case kIdentity:
      return kIdentityReply;
    case kTotals:
      return kTotalsReply;
    case kGrandTotal:
      return kGrandTotalReply;
    default:
      return 1;
  }
}

std::string fixedTaxCode(double rate) {
  if (!std::isfinite(rate) || std::fabs(rate) >= 1e9) return {};
  switch (static_cast<int>(rate)) {
    case 0:
      return "17";
    case -1:
      return "16";
    case -2:
      return "18";
    default:
      return {};
  }
}

fields::Result quantity(double q) {
  return fields::format(q, q < 1000 ? field::kQuantity : field::kBigQuantity);
}

std::string textAt(const ByteArray& reply, size_t at, size_t n) {
  if (at >= reply.size()) return {};
  n = std::min(n, reply.size() - at);
  std::string s(reply.begin() + static_cast<long>(at), reply.begin() + static_cast<long>(at + n));
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

bool numberAt(const ByteArray& reply, size_t at, size_t n, double& out) {
  if (at + n > reply.size()) return false;
  std::string s = textAt(reply, at, n);
  const size_t lead = s.find_first_not_of(' ');
  if (lead == std::string::npos) return false;
  return text::parseDecimal(s.substr(lead), out);
}

bool digitsAt(const ByteArray& reply, size_t at, size_t n, long long& out) {
  if (n == 0 || at + n > reply.size()) return false;
  long long v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (reply[i] < '0' || reply[i] > '9') return false;
    v = v * 10 + (reply[i] - '0');
  }
  out = v;
  return true;
}

}  // namespace tarvion::schalter
