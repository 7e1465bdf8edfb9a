#include "drivers/fiscnet/fiscnet_protocol.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <iterator>

#include "core/host_text.h"
#include "core/text.h"

namespace tarvion::fiscnet {

namespace {

struct Message {
  int code;
  const char* text;
};

// The printer's return codes and what they mean, in code order.
constexpr Message kMessages[] = {
    {1, "Não foi possível alocar mais memória."},
    {2, "Memória RAM foi corrompida."},
    {1000, "Memória fiscal foi desconectada."},
    {1001, "Erro de leitura na memória fiscal."},
    {1002, "Memória está configurada apenas para leitura."},
    {1003, "Registro fora dos padrões (erro interno)."},
    {1004, "Memória fiscal está lotada."},
    {1005, "Número máximo de cartuchos excedidos."},
    {1006, "Tentativa de gravar novo modelo de ECF."},
    {1007, "Tentativa de gravação de qualquer dado antes da inicialização da memória fiscal."},
    {1008, "Número máximo de usuários foi atingido."},
    {1009, "Número máximo de intervenções foi atingido."},
    {1010, "Número máximo de versões foi atingido."},
    {1011, "Número máximo de reduções foi atingido."},
    {1012, "Erro na gravação de registro na memória fiscal"},
    {2000, "Erro de leitura no dispositivo físico."},
    {2001, "Erro de leitura no dispositivo."},
    {2002, "Dispositivo de transações foi desconectado."},
    {3000, "Tipo de registro a ser gravado inválido."},
    {3001, "Registro de transações está esgotado."},
    {3002, "Tentativa de abrir nova transação com transação já aberta."},
    {3003, "Tentativa de fechar uma transação que não se encontrava aberta."},
    {4000, "Erro de leitura no dispositivo físico."},
    {4001, "Erro de escrita no dispositivo."},
    {4002, "Dispositivo de contexto foi desconectado."},
    {4003, "Leitura após final do arquivo."},
    {4004, "Escrita após final do arquivo."},
    {5000, "Versão de contexto fiscal no dispositivo não foi reconhecida."},
    {5001, "CRC do dispositivo está incorreto."},
    {5002, "Tentativa de escrita fora da área de contexto."},
    {6000, "Relógio do ECF inconsistente."},
    {6001, "Data/hora informadas não estão consistentes."},
    {7000, "Nenhum mecanismo de impressão presente."},
    {7001, "Atual mecanismo de impressão está desconectado."},
    {7002, "Mecanismo não possui capacidade suficiente para realizar esta operação."},
    {7003, "Impressora está sem papel para imprimir."},
    {7004, "Faltou papel durante a impressão do comando."},
    {8000, "Comando fora de seqüência."},
    {8001, "Código mercadoria não válido."},
    {8002, "Descrição inválida."},
    {8003, "Quantidade inválida."},
    {8004, "Índice da alíquota inválido."},
    {8005, "Alíquota não carregada."},
    {8006, "Valor contém caracter inválido."},
    {8007, "Total da operação igual a 0 (zero)."},
    {8008, "Alíquota não disponível para carga."},
    {8009, "Valor da alíquota não válido."},
    {8010, "Troca de situação tributária somente após redução Z."},
    {8011, "Índice do meio de pagamento inválido."},
    {8012, "Meio de pagamento indisponível para carga."},
    {8013, "Cupom totalizado em 0 (zero)."},
    {8014, "Meio de pagamento indefinido."},
    {8015, "Carga de usuário permitido somente após redução Z."},
    {8016, "Dia sem movimento."},
    {8017, "Total pago inferior ao total do cupom."},
    {8018, "Gerencial não definido."},
    {8019, "Índice do gerencial fora da faixa."},
    {8020, "Gerencial não disponível para carga."},
    {8021, "Nome do gerencial inválido."},
    {8022, "Esgotado número de gerenciais."},
    {8023, "Acerto do horário de verão somente após a redução Z."},
    {8024, "Já acertou horário de verão."},
    {8025, "Sem alíquotas disponíveis para carga."},
    {8026, "Item não vendido no cupom."},
    {8027, "Quantidade a ser cancelada maior do que a quantidade vendida."},
    {8028, "Cabeçalho possui campo(s) inválido(s)."},
    {8029, "Nome do departamento inválido."},
    {8030, "Departamento não encontrado."},
    {8031, "Departamento não definido."},
    {8032, "Não há meio de pagamento disponível."},
    {8033, "Alteração de meio de pagamento somente após a redução Z."},
    {8034, "Nome do documento não fiscal não pode ser vazio."},
    {8035, "Não há mais documentos não fiscais disponíveis."},
    {8036, "Documento não fiscal indisponível para carga."},
    {8037, "Número da redução inicial inválida."},
    {8038, "Cabeçalho do documento já foi impresso."},
    {8039, "Número máximo de linhas de propaganda excedidas."},
    {8040, "Relógio já está no estado desejado."},
    {8041, "Valor do acréscimo inconsistente."},
    {8042, "Não há meio de pagamento definido."},
    {8043, "COO do documento vinculado inválido."},
    {8044, "Índice do item inexistente no contexto."},
    {8045, "Código de item não encontrado no cupom atual."},
    {8046, "Percentual do desconto ultrapassou 100%."},
    {8047, "Desconto do item inválido."},
    {8048, "Falta definir valor percentual ou absoluto em operação de desconto/acréscimo."},
    {8049, "Tentativa de operação sobre item cancelado."},
    {8050, "Cancelamento de acréscimo/desconto inválidos."},
    {8051, "Operação de acréscimo/desconto inválida."},
    {8052, "Número de departamentos esgotados."},
    {8053, "Índice de documento não fiscal fora da faixa."},
    {8054, "Troca de documento não fiscal somente após a redução Z."},
    {8055, "CNPJ e/ou inscrição estadual inválida(s)."},
    {8056, "Falta(m) parâmetro(s) no comando de abertura de comprovante de crédito ou débito."},
    {8057, "Código e nome do documento não fiscal indefinidos."},
    {8058, "Alíquota não definida no comando de venda."},
    {8059, "Código e nome do meio de pagamento não definidos."},
    {8060, "Parâmetro de comando não informado."},
    {8061, "Não há documentos não fiscais definidos."},
    {8062, "Acréscimo/desconto de item já cancelado."},
    {8063, "Não há acréscimo/desconto em item."},
    {8064, "Item já possui acréscimo."},
    {8065, "Operação de acréscimo em item ou subtotal só é valido para ICMS."},
    {8066, "Valor do comprovante de crédito ou débito não informado."},
    {8067, "COO inválido."},
    {8068, "Índice do meio de pagamento no cupom inválido."},
    {8069, "Documento não fiscal não encontrado."},
    {8070, "Seqüência de pagamento não encontrada no cupom."},
    {8071, "Meio de pagamento não permite CDC."},
    {8072, "Valor insuficiente para pagar o cupom."},
    {8073, "Meio de pagamento origem ou destino não encontrado no último cupom emitido."},
    {8074, "Valor do estorno não pode exceder o valor do pagamento no meio origem."},
    {8075, "Meios de pagamento origem e destino devem ser diferentes no estorno."},
    {8076, "Percentual da alíquota inválido."},
    {8077, "Não houve operação em subtotal para ser cancelada."},
    {8078, "Só é permitida uma operação de acréscimo em subtotal por cupom."},
    {8079, "Texto adicional do meio de pagamento deve ter no máximo 2 linhas."},
    {8080, "Preço unitário ultrapassou o número máximo de dígitos permitido."},
    {8081, "Código do departamento fora da faixa."},
    {8082, "O valor do desconto não pode zerar o valo do cupom ou ser maior que o item."},
    {8083, "Percentual de acréscimo não pode ser superior a 999,99%"},
    {8084, "Valor do acréscimo ultrapassa o número máximo de dígitos permitido (13 dígitos)."},
    {8085, "Cupom sem venda em alíquota de ICMS."},
    {8086, "Cancelamento inválido."},
    {8087, "Texto de cliche do usuário deve ter no máximo três linhas."},
    {8088, "Não houve venda de item não fiscal."},
    {8089, "A data não pode ser inferior a data do último documento emitido."},
    {8090, "A hora informada no comando não pode ser inferior ao horário do último documento."},
    {8091, "Sem função."},
    {8092, "Estado inválido para ajuste de relogio ou horário de verão."},
    {8093, "A operação de CDC deve preceder as operações de estorno de meio de pagamento."},
    {8094, "Senha inválida para inicialização do proprietário."},
    {8095, "Erro gerado pelo mecanismo de cheques."},
    {8096, "Comando válido somente após a abertura do dia."},
    {9000, "Não foi encontrado nenhum cartucho de dados vazio para ser inicializado."},
    {9001, "Cartucho com o número de série informado não foi encontrado."},
    {9002, "Número de série do ECF é inválido na inicialização."},
    {9003, "Cartucho de MFD desconectado ou com problemas."},
    {9004, "Erro de escrita no dispositivo de MFD."},
    {9005, "Erro na tentativa de posicionar ponteiro de leitura."},
    {9006, "Endereço do Bad Sector informado é inválido."},
    {9007, "Erro de leitura na MFD."},
    {9008, "Tentativa de leitura além dos limites da MFD."},
    {9009, "MFD não possui mais espaço para escrita."},
    {9010, "Leitura da MFD serial é interrompida por comando diferente de 'LeImpressao'."},
    {10000, "Estado inválido para registro sendo codificado."},
    {10001, "Inconsistência nos parâmetros lidos no Logger."},
    {10002, "Registro inválido detectado no Logger."},
    {10003, "Erro interno."},
    {11000, "Parâmetro repassado ao comando é inválido."},
    {11001, "Erro de sintaxe na lista de parâmetros."},
    {11002, "Valor inválido para parâmetro do comando."},
    {11003, "String contém seqüência de caracteres inválidos."},
    {11004, "Parâmetro foi declarado 2 ou mais vezes na lista."},
    {11005, "Parâmetro obrigatório ausente na lista."},
    {11006, "Não existe o comando no protocolo."},
    {11007, "Estado atual não permite a execução deste comando."},
    {11008, "Sinalização indicando que comando aborta a impressão da segunda via."},
    {11009, "Sinalização indicando que comando não possui retorno."},
    {11010, "Tempo de execução esgotado."},
    {11011, "Nome de registrador inválido."},
    {11012, "Tipo de registrador inválido."},
    {11013, "Tentativa de escrita em registrador de apenas leitura."},
    {11014, "Tentativa de leitura em registrador de apenas escrita."},
    {11015, "Comando recebido diferente do anterior no buffer de recepção."},
    {11016, "Fila de comandos cheia."},
    {11017, "Índice de registrador indexado fora dos limites."},
    {11018, "Número de emissões do Logger foi excedido na intervenção técnica."},
    {11019, "Divisão por 0 (zero) nas rotinas de BDC."},
    {15001, "Comando aceito apenas em modo de intervencao técnica."},
    {15002, "Comando não pode ser executado em modo de intervenção técnica."},
    {15003, "Já existe MFD presente neste ECF."},
    {15004, "Não existe MFD neste ECF."},
    {15005, "Memória RAM do ECF não está consistente."},
    {15006, "Memória fiscal não encontrada."},
    {15007, "Dia já fechado."},
    {15008, "Dia aberto."},
    {15009, "Falta redução Z."},
    {15010, "Mecanismo impressor não selecionado."},
    {15011, "Sem bobina de papel na estação de documento fiscal."},
    {15012, "Tentativa de finalizar documento já encerrado."},
    {15013, "Não há sinal de DTR."},
    {15014, "Sem inscrições do usuário no ECF."},
    {15015, "Sem dados do proprietário no ECF."},
    {15016, "ECF encontra-se indevidamente em linha."},
    {15017, "ECF não encontra-se em linha para executar o comando."},
};

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// The value after "name=" at the first occurrence of the name; npos when absent.
size_t valueAt(std::string_view reply, std::string_view name) {
  if (name.empty()) return std::string_view::npos;
  std::string key(name);
  key += '=';
  const size_t at = reply.find(key);
  return at == std::string_view::npos ? at : at + key.size();
}

std::string_view until(std::string_view reply, size_t from, char end) {
  if (from >= reply.size()) return {};
  const size_t stop = reply.find(end, from);
  return reply.substr(from, stop == std::string_view::npos ? std::string_view::npos : stop - from);
}

bool twoDigits(std::string_view s, size_t at, int& out) {
  if (at + 2 > s.size() || !isDigit(s[at]) || !isDigit(s[at + 1])) return false;
  out = (s[at] - '0') * 10 + (s[at + 1] - '0');
  return true;
}

}  // namespace

std::string buildFrame(int seq, std::string_view command, std::string_view params) {
  std::string f = "{";
  f += std::to_string(seq);
  f += ';';
  f.append(command);
  if (params.empty())
    f += ';';
  else
    f.append(params);
  f += ';';
  const size_t length = f.size() - 1;
  f += std::to_string(length);
  f += '}';
  return f;
}

void addParameter(std::string& params, std::string_view nameValue) {
  params += params.empty() ? ';' : ' ';
  params.append(nameValue);
}

std::string convertText(std::string_view cp1252) {
  std::string out;
  out.reserve(cp1252.size() + 8);
  for (char c : cp1252) {
    if (c == '"') continue;
    if (c == '\\') {
      out += "\\\\";
      continue;
    }
    out += c;
  }
  return text::foldPrinterText(out, text::charset::printer850());
}

std::string textParameter(std::string_view name, std::string_view cp1252, size_t width) {
  std::string value = convertText(cp1252);
  if (width && value.size() > width) {
    value.resize(width);
    // A cut through a doubled backslash would leave an escape without its character.
    size_t run = 0;
    while (run < value.size() && value[value.size() - 1 - run] == '\\') ++run;
    if (run % 2) value.pop_back();
  }
  std::string s(name);
  s += "=\"";
  s += value;
  s += '"';
  return s;
}

fields::Result decimal(double value, const fields::Field& f) {
  fields::Result r = fields::format(value, f);
  if (!r.ok()) return r;
  std::string& t = r.text;
  const size_t start = t.empty() || t[0] != '-' ? 0 : 1;
  // Leading zeros go, keeping the one digit before the comma.
  size_t keep = start;
  const size_t point = f.point ? t.find(f.point) : t.size();
  const size_t lastInt = (point == std::string::npos ? t.size() : point) - 1;
  while (keep < lastInt && t[keep] == '0') ++keep;
  t.erase(start, keep - start);
  return r;
}

bool parseMoney(std::string_view s, double& out) {
  std::string t;
  for (char c : s)
    if (c != '.') t += c;
  if (t.find_first_not_of("-0123456789,") != std::string::npos || t.empty()) return false;
  return text::parseDecimal(t, out);
}

bool dateValue(const DateTime& dt, std::string& out) {
  DateParts p;
  if (!dt.valid() || !dt.parts(p)) return false;
  out = text::format("#%02d/%02d/%04d#", p.day, p.month, p.year);
  return true;
}

bool timeValue(const DateTime& dt, std::string& out) {
  DateParts p;
  if (!dt.valid() || !dt.parts(p)) return false;
  out = text::format("#%02d:%02d:%02d#", p.hour, p.minute, p.second);
  return true;
}

size_t replyLength(const uint8_t* data, size_t n) {
  bool quoted = false;
  for (size_t i = 0; i < n; ++i) {
    const char c = static_cast<char>(data[i]);
    if (quoted) {
      if (c == '\\') {
        ++i;  // the escaped character cannot close the text
      } else if (c == '"') {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == '}') {
      return i + 1;
    }
  }
  return 0;
}

bool replyCode(std::string_view reply, int& code) {
  const size_t first = reply.find(';');
  if (first == std::string_view::npos) return false;
  const size_t close = reply.find(';', first + 1);
  if (close == std::string_view::npos) return false;  // cut inside the code
  const std::string_view digits = reply.substr(first + 1, close - first - 1);
  if (digits.empty() || digits.size() > 9) return false;
  long v = 0;
  size_t i = 0;
  const bool negative = digits[0] == '-';
  if (negative) ++i;
  if (i == digits.size()) return false;
  for (; i < digits.size(); ++i) {
    if (!isDigit(digits[i])) return false;
    v = v * 10 + (digits[i] - '0');
  }
  code = static_cast<int>(negative ? -v : v);
  return true;
}

long replyInteger(std::string_view reply, std::string_view name) {
  const size_t at = valueAt(reply, name);
  if (at == std::string_view::npos) return -1;
  const std::string_view v = until(reply, at, ';');
  size_t i = 0;
  const bool negative = !v.empty() && v[0] == '-';
  if (negative) ++i;
  long n = 0;
  bool any = false;
  // Digits beyond what a long holds are not read: the value stops growing.
  for (; i < v.size() && isDigit(v[i]) && n <= (LONG_MAX - 9) / 10; ++i, any = true) n = n * 10 + (v[i] - '0');
  if (!any) return 0;
  return negative ? -n : n;
}

bool replyValueWhole(std::string_view reply, std::string_view name) {
  const size_t at = valueAt(reply, name);
  if (at == std::string_view::npos || at >= reply.size()) return false;
  if (reply[at] == '"') return reply.find('"', at + 1) != std::string_view::npos;
  return reply.find(';', at) != std::string_view::npos;
}

bool replyFlag(std::string_view reply, std::string_view name) {
  const size_t at = valueAt(reply, name);
  if (at == std::string_view::npos || at >= reply.size()) return false;
  const char c = reply[at];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't';
}

double replyMoney(std::string_view reply, std::string_view name) {
  const size_t at = valueAt(reply, name);
  if (at == std::string_view::npos) return 0.0;
  double v = 0.0;
  return parseMoney(until(reply, at, ';'), v) ? v : 0.0;
}

std::string replyText(std::string_view reply, std::string_view name) {
  const size_t at = valueAt(reply, name);
  if (at == std::string_view::npos || at >= reply.size() || reply[at] != '"') return {};
  return std::string(until(reply, at + 1, '"'));
}

bool replyDate(std::string_view reply, std::string_view name, DateParts& out) {
  const size_t at = valueAt(reply, name);
  if (at == std::string_view::npos) return false;
  const std::string_view v = reply.substr(std::min(reply.size(), at + 1));
  int d = 0, m = 0, y1 = 0, y2 = 0;
  if (!twoDigits(v, 0, d) || !twoDigits(v, 3, m) || !twoDigits(v, 6, y1) || !twoDigits(v, 8, y2)) return false;
  DateParts p;
  p.day = d;
  p.month = m;
  p.year = y1 * 100 + y2;
  p.hour = p.minute = p.second = 0;
  if (!DateTime::fromParts(p.year, p.month, p.day).valid()) return false;
  out = p;
  return true;
}

bool replyTime(std::string_view reply, std::string_view name, DateParts& out) {
  const size_t at = valueAt(reply, name);
  if (at == std::string_view::npos) return false;
  const std::string_view v = reply.substr(std::min(reply.size(), at + 1));
  int h = 0, mi = 0, s = 0;
  if (!twoDigits(v, 0, h) || !twoDigits(v, 3, mi) || !twoDigits(v, 6, s)) return false;
  if (h > 23 || mi > 59 || s > 59) return false;
  out.hour = h;
  out.minute = mi;
  out.second = s;
  return true;
}

const char* messageUtf8(int code) {
  const auto* end = std::end(kMessages);
  const auto* it =
      std::lower_bound(std::begin(kMessages), end, code, [](const Message& m, int c) { return m.code < c; });
  return it != end && it->code == code ? it->text : nullptr;
}

size_t messageCount() {
  return std::size(kMessages);
}

std::string errorText(std::string_view reply, int code) {
  const char* m = messageUtf8(code);
  std::string out = text::cp(m ? m : "Erro inesperado ao enviar o comando.");
  const size_t at = reply.find("Circunstancia=");
  if (at != std::string_view::npos && at > 0) {
    out += "\r\n";
    out += text::cp("Circunstância: ");
    out += replyText(reply, "Circunstancia");
  }
  return out;
}

const text::Markup& printerMarkup() {
  static const text::Markup m{{{text::kBold, kBoldOn, kBoldOff, nullptr}}};
  return m;
}

std::string layoutText(std::string_view in, int columns, int maxLines) {
  return text::layoutLines(in, columns > 0 ? columns : 48, printerMarkup(), maxLines);
}

size_t nextChunk(std::string_view text, size_t from) {
  if (from >= text.size()) return 0;
  const size_t left = text.size() - from;
  if (left <= kTextChunk) return left;
  const std::string_view window = text.substr(from, kTextChunk);
  size_t cut = kTextChunk;
  const size_t off = window.find(kBoldOff.substr(0, 1), kTextChunk - kBoldOff.size());
  // The first escape that starts near the end and would not fit ends the chunk.
  for (size_t p = off; p != std::string_view::npos && p < kTextChunk; p = window.find('\x1B', p + 1)) {
    const std::string_view rest = text.substr(from + p);
    const bool boldOff = rest.substr(0, kBoldOff.size()) == kBoldOff && p >= kTextChunk - kBoldOff.size();
    const bool boldOn = rest.substr(0, kBoldOn.size()) == kBoldOn && p >= kTextChunk - kBoldOn.size();
    if (boldOff || boldOn) {
      cut = p;
      break;
    }
  }
  return cut;
}

}  // namespace tarvion::fiscnet
