#include "drivers/daruma/daruma_protocol.h"

#include <algorithm>
#include <iterator>

#include "core/text.h"

namespace tarvion::daruma {

namespace {

struct Message {
  int code;
  const char* text;
};

// The FS600 error codes and what they mean, in code order.
constexpr Message kMessages[] = {
    {1, "ECF com falha mecânica."},
    {2, "MF não conectada."},
    {3, "MFDE não conectada."},
    {4, "MFDE esgotada."},
    {5, "Erro na comunicação com a MF."},
    {6, "Erro na comunicação com a MFDE."},
    {7, "MF não inicializada."},
    {8, "MFDE não inicializada."},
    {9, "MFDE já inicializada."},
    {10, "MFDE foi substituída."},
    {11, "MFDE já cadastrada."},
    {12, "Erro na inicialização da MFDE."},
    {13, "Faltam parâmetros de inicialização na MF."},
    {14, "Comando não suportado."},
    {15, "Superaquecimento da cabeça de impressão."},
    {16, "Perda de dados da MT."},
    {17, "Operação habilitada apenas em MIT."},
    {18, "Operação habilitada apenas em modo fiscal."},
    {19, "Data inexistente."},
    {20, "Data inferior ao do último documento."},
    {21, "Intervalo inconsistente."},
    {22, "Não existem dados."},
    {23, "Clichê de formato inválido."},
    {24, "Erro no verificador da comunicação."},
    {25, "Senha incorreta."},
    {26, "Número de decimais para quantidade inválido."},
    {27, "Número de decimais para valor unitário inválido."},
    {28, "Tipo de impressão de FD inválido."},
    {29, "Caracter não estampável."},
    {30, "Caracter não estampável ou em branco."},
    {31, "Caracteres não podem ser repetidos."},
    {32, "Limite de itens atingido."},
    {33, "Todos os totalizadores fiscais já estão programados."},
    {34, "Totalizador fiscal já programado."},
    {35, "Todos os totalizadores não fiscais já estão programados."},
    {36, "Totalizador não fiscal já programado."},
    {37, "Todos os relatórios gerenciais já estão programados."},
    {38, "Relatório gerencial já programado."},
    {39, "Meio de pagamento já programado."},
    {40, "Índice inválido."},
    {41, "Índice do meio de pagamento inválido."},
    {42, "Erro gravando número de decimais na MF."},
    {43, "Erro gravando moeda na MF."},
    {44, "Erro gravando símbolos de decodificação do GT na MF."},
    {45, "Erro gravando número de fabricação da MFDE na MF."},
    {46, "Erro gravando usuário na MF."},
    {47, "Erro gravando GT do usuário anterior na MF."},
    {48, "Erro gravando registro de marcação na MF."},
    {49, "Erro gravando CRO na MF."},
    {50, "Erro gravando impressão de FD na MF."},
    {51, "Campo em branco ou zero não permitido."},
    {52, "Campo reservado a gravação da moeda na MF esgotado."},
    {53, "Campo reservado a gravação da tabela de GT na MF esgotado."},
    {54, "Campo reservado a gravação do NS da MFDE na MF esgotado."},
    {55, "Campo reservado a gravação de usuário na MF esgotado."},
    {56, "CNPJ inválido."},
    {57, "CRZ e CRO em zero."},
    {58, "Intervalo invertido."},
    {59, "Utilize apenas 0 ou 1."},
    {60, "Configuração permitida apenas imediatamente a RZ."},
    {61, "Símbolo gráfico inválido."},
    {62, "Falta pelo menos 1 campo no nome da moeda para cheque."},
    {63, "Código supera o valor 255."},
    {64, "Utilize valores entre 25 e 80."},
    {65, "Utilize valores entre 1 e 15."},
    {66, "Utilize valores entre 0 e 7250."},
    {67, "Data informada não coincide com a data do ECF."},
    {68, "Deve ajustar o relógio ( utilize o comando [FS] M <200> )."},
    {69, "Erro ao ajustar o relógio."},
    {70, "Capacidade da MF esgotada."},
    {71, "Versão do SB gravado na MF incorreta."},
    {72, "Fim do papel."},
    {73, "Nenhum usuário programado."},
    {74, "Utilize apenas dígitos numéricos."},
    {75, "Campo não pode estar em zero."},
    {76, "Campo não pode estar em branco."},
    {77, "Valor da operação não pode ser zero."},
    {78, "CF aberto."},
    {79, "CNF aberto."},
    {80, "CCD aberto."},
    {81, "RG aberto."},
    {82, "CF não aberto."},
    {83, "CNF não aberto."},
    {84, "CCD não aberto."},
    {85, "RG não aberto."},
    {86, "CCD ou RG não aberto."},
    {87, "Documento já totalizado."},
    {88, "RZ do movimento anterior pendente."},
    {89, "Já emitiu RZ de hoje."},
    {90, "Totalizador sem alíquota programada."},
    {91, "Campo de código ausente."},
    {92, "Campo de descrição ausente."},
    {93, "VU ou quantidade em zero."},
    {94, "Item ainda não vendido."},
    {95, "Desconto ou acréscimo não pode ser zero."},
    {96, "Item já possui desconto ou acréscimo."},
    {97, "Item cancelado."},
    {98, "Operação inibida por configuração."},
    {99, "Opção não suportada."},
    {100, "Desconto ou acréscimo supera valor bruto."},
    {101, "Desconto ou acréscimo final de valor zero."},
    {102, "Valor bruto zero."},
    {103, "Overflow no valor do item."},
    {104, "Overflow no valor do desconto ou acréscimo."},
    {105, "Overflow na capacidade do documento."},
    {106, "Overflow na capacidade do totalizador."},
    {107, "Item não possui desconto."},
    {108, "Item já possui desconto."},
    {109, "Quantidade possui mais de 2 decimais."},
    {110, "Valor unitário possui mais de 2 decimais."},
    {111, "Quantidade a cancelar deve ser inferior a total."},
    {112, "Campo de descrição deste item não mais presente na MT."},
    {113, "Subtotal não possui desconto ou acréscimo."},
    {114, "Não em fase de totalização."},
    {115, "Não em fase de venda ou totalização."},
    {116, "Mais de 1 desconto ou acréscimo não permitido."},
    {117, "Valor do desconto ou acréscimo supera subtotal."},
    {118, "Meio de pagamento não programado."},
    {119, "Não em fase de pagamento ou totalização."},
    {120, "Não em fase de finalização de documento."},
    {121, "Já emitiu mais CCDs que poderia estornar."},
    {122, "Último documento não é cancelável."},
    {123, "Estorne CCDs."},
    {124, "Último documento não foi CF."},
    {125, "Último documento não foi CNF."},
    {126, "Não pode cancelar."},
    {127, "Pagamento não mais na MT."},
    {128, "Já emitiu CCD deste pagamento."},
    {129, "RG não programado."},
    {130, "CNF não programado."},
    {131, "Cópia não disponível."},
    {132, "Já emitiu segunda via."},
    {133, "Já emitiu reimpressão."},
    {134, "Informações sobre o pagamento não disponíveis."},
    {135, "Já emitiu todas as parcelas."},
    {136, "Parcelamento somente na seqüência."},
    {137, "CCD não encontrado."},
    {138, "Não pode utilizar SANGRIA ou SUPRIMENTO."},
    {139, "Pagamento não admite CCD."},
    {140, "Relógio inoperante."},
    {141, "Usuário sem CNPJ."},
    {142, "Usuário sem IM."},
    {143,
     "Não se passou 1 hora após o fechamento do último documento / Tentando entrar em HV quando já se está em HV, ou "
     "vice-versa."},
    {144, "ECF OFF LINE."},
    {145, "Documento em emissão."},
    {146, "COO não coincide."},
    {147, "Erro na autenticação."},
    {148, "Erro na impressão de cheque."},
    {149, "Data não pertence ao século XXI."},
    {150, "Usuário já programado."},
    {151, "Descrição do pagamento já utilizada."},
    {152, "Descrição do totalizador já utilizada."},
    {153, "Descrição do RG já utilizada."},
    {154, "Já tem desconto após acréscimo (ou vice versa)."},
    {155, "Já programou 15 totalizadores para ICMS."},
    {156, "Já programou 15 totalizadores para ISS."},
    {157, "MFDE com problemas."},
    {158, "Razão social excede 48 caracteres."},
    {159, "Nome fantasia excede 48 caracteres."},
    {160, "Endereço excede 120 caracteres."},
    {161, "Identificação do programa aplicativo ausente."},
    {162, "Valor de desconto supera valor acumulado em totalizador."},
    {163, "Número de parcelas supera 24."},
    {164, "MFDE não cadastrada."},
    {165, "Atingido limite de impressão de Fita-Detalhe."},
    {166, "Meio de pagamento estornado é igual ao efetivado."},
    {301, "CFBP não habilitado."},
    {302, "Modalidade de transporte inválida."},
    {303, "Categoria de transporte inválida."},
    {304, "UF do destino não é compatível com a categoria selecionada."},
    {305, "Operação disponível apenas em CF genérico ( não CFBP )."},
};

// The classic printers' error codes, in code order.
constexpr Message kClassicMessages[] = {
    {0, "IF em modo manutenção. Foi ligada sem o jumper de operação."},
    {1, "Comando disponível somente em modo manutenção."},
    {2, "Erro durante a gravação da memória fiscal."},
    {3, "Memória Fiscal esgotada."},
    {4, "Erro no relógio interno da IF."},
    {5, "Falha mecânica na IF."},
    {6, "Erro durante a leitura da Memória Fiscal."},
    {10, "Documento sendo emitido."},
    {11, "Documento não foi aberto."},
    {12, "Não existe documento a cancelar."},
    {13, "Dígito não numérico não esperado foi encontrado nos parâmetros."},
    {14, "Não há mais memória disponível para esta operação."},
    {15, "Item a cancelar não foi encontrado."},
    {16, "Erro de sintaxe no comando."},
    {17, "\"Estouro\" de capacidade numérica (overflow)."},
    {18, "Selecionado totalizador tributado com alíquota de imposto não definida."},
    {19, "Memória Fiscal vazia."},
    {20, "Não existem campos que requerem atualização."},
    {21, "Detectado proximidade do final da bobina de papel."},
    {22, "Cupom de Redução Z já foi emitido. IF inoperante até 0:00h do próximo dia."},
    {23, "Redução Z do período anterior ainda pendente. IF inoperante."},
    {24, "Valor de desconto ou acréscimo inválido (limitado a 100%)."},
    {25, "Caracter inválido foi encontrado nos parâmetros."},
    {27, "Nenhum periférico conectado à interface auxiliar."},
    {28, "Foi encontrado um campo em zero."},
    {29, "Documento anterior não foi Cupom Fiscal. Não pode emitir Cupom Adicional."},
    {30, "Acumulador Não Fiscal selecionado não é válido ou não está disponível."},
    {31, "Não pode autenticar. Excedeu 4 repetições ou não é permitida nesta fase."},
    {32, "Cupom adicional inibido por configuração."},
    {36, "Versão do firmware gravada na Memória Fiscal não é a esperada."},
    {37, "Alíquota de imposto informada já está carregada na memória."},
    {38, "Forma de pagamento selecionada não é válida."},
    {39, "Erro na seqüência de fechamento do Cupom Fiscal."},
    {40, "IF em Jornada Fiscal. Alteração da configuração não é permitida."},
    {41, "Data inválida. Data fornecida é inferior à última gravada na Memória Fiscal."},
    {42, "Leitura X inicial ainda não foi emitida."},
    {43, "Não pode emitir Comprovante Vinculado."},
    {44, "Operação inválida."},
    {45, "Campo obrigatório em branco."},
    {50, "Sem papel."},
    {61, "Queda de energia durante a emissão de Cupom Fiscal."},
    {80, "Periférico na interface auxiliar não pode ser reconhecido."},
    {81, "Solicitado preenchimento de cheque de banco desconhecido."},
    {82, "Solicitado transmissão de mensagem nula pela interface auxiliar."},
    {83, "Extenso de cheque não cabe no espaço disponível."},
    {84, "Erro na comunicação com a interface auxiliar."},
    {85, "Erro no dígito verificador durante comunicação com a PertoCheck."},
    {86, "Erro na carga."},
    {87, "Parâmetro inválido."},
    {90, "Erro na comunicação."},
};

template <size_t N>
const char* lookup(const Message (&table)[N], int code) {
  const auto* end = std::end(table);
  const auto* it = std::lower_bound(std::begin(table), end, code, [](const Message& m, int c) { return m.code < c; });
  return it != end && it->code == code ? it->text : nullptr;
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

// ---------------------------------------------------------------- FS600 frames

uint8_t checkByte(const uint8_t* data, size_t n) {
  uint8_t x = 0;
  for (size_t i = 0; i < n; ++i) x ^= data[i];
  return x;
}

ByteArray buildFrame(const ByteArray& command, const ByteArray& parameters) {
  if (command.empty()) return {};
  ByteArray f;
  f.reserve(command.size() + parameters.size() + 3);
  f.push_back(kFS);
  f.insert(f.end(), command.begin(), command.end());
  f.insert(f.end(), parameters.begin(), parameters.end());
  f.push_back(checkByte(f.data(), f.size()));
  f.push_back(0x00);
  return f;
}

ByteArray registerRead(int number) {
  const std::string digits = text::format("%03d", number % 1000 < 0 ? 0 : number % 1000);
  ByteArray f;
  f.reserve(6);
  f.push_back(kFS);
  f.push_back('R');
  f.push_back(kRead);
  for (char c : digits) f.push_back(static_cast<uint8_t>(c));
  return f;
}

bool isRegisterRead(const ByteArray& command) {
  return command.size() == 2 && command[0] == 'R' && (command[1] == kRead || command[1] == kRead + 1);
}

// ---------------------------------------------------------------- replies

size_t replyLength(const uint8_t* data, size_t n) {
  const uint8_t* start = std::find(data, data + n, kReplyStart);
  if (start == data + n) return 0;
  const uint8_t* end = std::find(start, data + n, kReplyEnd);
  return end == data + n ? 0 : static_cast<size_t>(end - data) + 1;
}

std::string_view replyBody(const ByteArray& reply) {
  const std::string_view all(reinterpret_cast<const char*>(reply.data()), reply.size());
  const size_t start = all.find(static_cast<char>(kReplyStart));
  if (start == std::string_view::npos) return {};
  const size_t end = all.find(static_cast<char>(kReplyEnd), start);
  return all.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

bool replyCode(std::string_view body, int& code) {
  if (body.size() < 6 || body[0] != static_cast<char>(kReplyStart)) return false;
  if (!isDigit(body[3]) || !isDigit(body[4]) || !isDigit(body[5])) return false;
  code = (body[3] - '0') * 100 + (body[4] - '0') * 10 + (body[5] - '0');
  return true;
}

const char* messageUtf8(int code) {
  return lookup(kMessages, code);
}

std::string errorText(int code) {
  const char* m = messageUtf8(code);
  return text::cp(m ? m : "Erro indefinido.");
}

size_t messageCount() {
  return std::size(kMessages);
}

bool registerValue(std::string_view body, uint8_t codeByte, int number, std::string& value) {
  if (body.size() < 5 || body[0] != static_cast<char>(kReplyStart)) return false;
  if (static_cast<uint8_t>(body[1]) != codeByte) return false;
  if (number < 0 || number > 999 || body.substr(2, 3) != text::format("%03d", number)) return false;
  value.assign(body.substr(5));
  return true;
}

// ---------------------------------------------------------------- classic frames

ByteArray buildClassicFrame(const ByteArray& command, const ByteArray& parameters) {
  if (command.empty()) return {};
  ByteArray f;
  f.reserve(1 + command.size() + parameters.size());
  f.push_back(kESC);
  f.insert(f.end(), command.begin(), command.end());
  f.insert(f.end(), parameters.begin(), parameters.end());
  return f;
}

bool classicError(std::string_view body, int& code) {
  // The body stops before the CR; an error is exactly ":E" and two digits.
  if (body.size() != 4 || body[0] != static_cast<char>(kReplyStart) || body[1] != 'E') return false;
  if (!isDigit(body[2]) || !isDigit(body[3])) return false;
  code = (body[2] - '0') * 10 + (body[3] - '0');
  return true;
}

const char* classicMessageUtf8(int code) {
  return lookup(kClassicMessages, code);
}

size_t classicMessageCount() {
  return std::size(kClassicMessages);
}

// ---------------------------------------------------------------- values

std::string textField(std::string_view cp1252, size_t width, bool pad) {
  std::string s = text::printable(cp1252, text::LineBreaks::Blank);
  for (char& c : s)
    if (static_cast<uint8_t>(c) == kTextEnd) c = 'y';
  if (width && s.size() > width) s.resize(width);
  if (width && pad) s.resize(width, ' ');
  return s;
}

bool digitsValue(std::string_view s, long long& out) {
  if (s.empty() || s.size() > 18) return false;
  long long v = 0;
  for (char c : s) {
    if (!isDigit(c)) return false;
    v = v * 10 + (c - '0');
  }
  out = v;
  return true;
}

DateTime stampValue(std::string_view s) {
  long long n = 0;
  const bool longYear = s.size() == 8 || s.size() == 14;
  const bool shortYear = s.size() == 6 || s.size() == 12;
  if ((!longYear && !shortYear) || !digitsValue(s, n) || n == 0) return DateTime::invalid();
  auto num = [&](size_t at, size_t len) {
    int v = 0;
    for (size_t i = at; i < at + len; ++i) v = v * 10 + (s[i] - '0');
    return v;
  };
  const int day = num(0, 2), month = num(2, 2);
  const size_t yearLen = longYear ? 4 : 2;
  int year = num(4, yearLen);
  if (!longYear) year += 2000;
  int hour = 0, minute = 0, second = 0;
  if (s.size() > 4 + yearLen) {
    const size_t t = 4 + yearLen;
    hour = num(t, 2);
    minute = num(t + 2, 2);
    second = num(t + 4, 2);
  }
  return DateTime::fromParts(year, month, day, hour, minute, second);
}

bool dateField(const DateTime& dt, bool withTime, std::string& out) {
  DateParts p;
  if (!dt.valid() || !dt.parts(p)) return false;
  out = text::format("%02d%02d%02d", p.day, p.month, p.year % 100);
  if (withTime) out += text::format("%02d%02d%02d", p.hour, p.minute, p.second);
  return true;
}

namespace field {
Field quantityField(int decimals) {
  return Field{"Quantidade", 7, decimals, Rounding::HalfAwayFromZero, false, 0};
}
Field priceField(int decimals) {
  return Field{"Valor unit\xE1rio", 8, decimals, Rounding::HalfAwayFromZero, false, 0};
}
}  // namespace field

}  // namespace tarvion::daruma
