#include "drivers/sweda/sweda_protocol.h"

#include <algorithm>
#include <iterator>

#include "core/text.h"

namespace tarvion::sweda {

namespace {

struct ErrorRow {
  int code;
  const char* text;  // UTF-8 here, Windows-1252 on the way out
};

// The printer's error codes, in code order.
constexpr ErrorRow kErrors[] = {
    {1, "Mensagem reservada para futuras implementações."},
    {2, "Documento já cancelado."},
    {3, "Documento já pago."},
    {4, "Pagamento em aberto."},
    {5, "Documento já totalizado."},
    {6, "Item inválido."},
    {7, "Item cancelado."},
    {8, "Total igual a zero."},
    {9, "Já foi aplicado acréscimo sobre o item indicado."},
    {11, "Já foi aplicado desconto sobre o item indicado."},
    {13, "O valor de desconto não é inferior ao total registrado no item."},
    {14, "Já foi aplicado acréscimo sobre o subtotal."},
    {16, "Já foi aplicado desconto sobre o subtotal."},
    {17, "Mensagem reservada para futuras implementações."},
    {18, "O valor do desconto não é inferior ao total registrado no documento."},
    {19, "Indicado meio de pagamento não programado."},
    {20, "Excedido o número máximo de itens permitidos (500)."},
    {21, "Alíquota de imposto não programada."},
    {22, "Alterações do estilo ou fonte de impressão não permitidas."},
    {23, "Erro de sintaxe."},
    {24,
     "O ECF está recuperando os dados da memória de trabalho a partir das informações registradas na memória de "
     "fita-detalhe."},
    {25, "Informado valor nulo."},
    {27, "Data inválida."},
    {28, "Hora inválida."},
    {29, "O comando não foi reconhecido."},
    {30, "Tabela cheia."},
    {31, "A faixa selecionada é inválida."},
    {32, "Tentativa de registro em um mesmo comprovante de operações não fiscais cadastradas com sinais distintos."},
    {33, "Sinal inválido."},
    {34,
     "Excedeu a capacidade de registro de pagamento por meio cartão de crédito ou débito em conta. Capacidade máxima: "
     "16 registros."},
    {35, "Não encontrada a operação de TEF informada pelo comando de abertura do comprovante."},
    {36, "Classificação do meio de pagamento inválida."},
    {37, "Não encontrado o título informado no comando de abertura de relatório gerencial."},
    {38, "Inscrição municipal já cadastrada."},
    {39, "Habilitar intervenção técnica."},
    {40, "Abertura do movimento."},
    {41, "Não encontrada denominação informada no comando de registro de operação não fiscal."},
    {42, "O valor total do item excede 999.999.999,99."},
    {43, "O valor do estorno excede a soma dos pagamentos registrados no meio indicado."},
    {44, "O valor efetivado é insuficiente para o pagamento."},
    {45, "O ajuste é inferior ao conjunto data e hora de emissão do último documento."},
    {46, "O ajuste é inferior ao conjunto data e hora de gravação do último CRO."},
    {47, "O ajuste é inferior ao conjunto data e hora de gravação da última redução."},
    {50, "Código de descrição do produto vazio ou em branco."},
    {51, "Não foi possível a acumulação de valor em um dos totalizadores."},
    {52,
     "Tempo de emissão esgotado. O documento em emissão (comprovante de crédito ou débito ou relatório gerencial) foi "
     "encerrado automaticamente."},
    {53, "A operação, se registrada, impede que o documento em emissão seja cancelado."},
    {54, "O ECF está emitindo o documento de leitura da memória fiscal referente ao período mensal de operação."},
    {55, "Para saída do horário verão deve decorrer uma hora da emissão do documento redução Z."},
    {56, "Iniciando a intervenção técnica."},
    {57, "Encerrando a intervenção técnica."},
    {58, "Comando inválido. Não foram obedecidos os requisitos para execução do comando."},
    {59, "As operação de circulação de mercadoria e operações não fiscais na data atual já estão encerradas."},
    {60, "É necessária a emissão do documento de Redução Z."},
    {61, "O ECF está em modo de intervenção técnica."},
    {62, "O ECF está inativo."},
    {63, "Mensagem reservada para futuras implementações."},
    {64, "Mensagem reservada para futuras implementações."},
    {65, "O firmware não está instalado."},
    {66, "Não informado o número do CNPJ."},
    {67, "Permitida uma única reimpressão."},
    {68, "Erro físico de gravação na memória fiscal."},
    {69, "Programar meios de pagamento."},
    {70, "Programar razão social, nome fantasia e endereço do usuário contribuinte."},
    {71, "Programar número seqüencial do caixa."},
    {72, "Programar alíquotas de imposto."},
    {73, "Erro na programação do relógio. Data ou hora inválida."},
    {74, "Ejetando folha solta."},
    {75, "Programar o símbolo da moeda."},
    {76, "Programar os caracteres de codificação do GT."},
    {77, "Usuário não cadastrado."},
    {78, "Chame a assistência técnica (código de defeito: 78)."},
    {79, "Chame a assistência técnica (código de defeito: 79)."},
    {80, "Esgotamento de dispostivo: memória fiscal."},
    {81, "Chame a assistência técnica (código de defeito: 81)."},
    {82, "Memória de trabalho inconsistente."},
    {83, "Chame a assistência técnica (código de defeito: 83)."},
    {84, "Chame a assistência técnica (código de defeito: 84)."},
    {85, "Chame a assistência técnica (código de defeito: 85)."},
    {86, "Chame a assistência técnica (código de defeito: 86)."},
    {87, "Layout de cheque não programado."},
    {88, "Chame a assistência técnica (código de defeito: 88)."},
    {89, "Chame a assistência técnica (código de defeito: 89)."},
    {90, "Chame a assistência técnica (código de defeito: 90)."},
    {91, "Chame a assistência técnica (código de defeito: 91)."},
    {92, "Já emitida a segunda via."},
    {93, "Excede o limite de 24 parcelas."},
    {94, "Número da parcela incorreto."},
    {95, "Valor unitário inválido."},
    {96, "Não foram estornados os comprovantes de crédito ou débito emitidos."},
    {97, "Chame a assistência técnica (código de defeito: 97)."},
    {98, "Processando."},
    {99, "Confirme."},
    {100, "Chame a assistência técnica (código de defeito: 100)."},
    {101, "Chame a assistência técnica (código de defeito: 101)."},
    {102, "Chame a assistência técnica (código de defeito: 102)."},
    {103, "Inserir a frente para preenchimento."},
    {104, "Inserir o verso para preenchimento."},
    {105, "Inserir o cheque para preenchimento."},
    {106, "A programação de novo usuário requer a instalação de novo dispositivo de memória fiscal."},
    {109, "Inserir cheque."},
    {110, "Resultado de leitura MICR-CMC7."},
    {111, "Resultado de leitura MICR-E13B."},
    {112, "Erro de leitura: Não foi detectado nenhum caracter."},
    {113, "Erro de leitura: Um dos caracteres não foi reconhecido."},
    {114, "Erro de leitura: As dimensões do cheque estão fora das especificações."},
    {115, "Erro de leitura: Erro na impressora durante o processamento."},
    {116, "Erro de leitura: A tampa foi aberta durante a leitura."},
    {117, "Fonte inválida."},
    {118, "Chame a assistência técnica (código de defeito: 118)."},
    {119, "Configurar parâmetros de operação do ECF."},
    {120, "Erro de gravação no dispositivo de memória de fita-detalhe."},
    {121, "Erro mecânico na impressora."},
    {122, "Erro na guilhotina."},
    {123, "Erro recuperável."},
    {124, "Tampa aberta."},
    {125, "Sem papel ou tampa aberta."},
    {126, "Avançando papel."},
    {127, "Substituir a bobina."},
    {128, "Falha de comunicação com o mecanismo de impressão."},
    {129, "Chame a assistência técnica (código de defeito: 129)."},
    {130, "Não emitida redução Z."},
    {131, "Totalizador desabilitado."},
    {132, "Esgotamento de dispositivo: memória de fita-detalhe."},
    {133, "O ECF está emitindo a redução Z para entrada em intervenção técnica."},
    {134, "Transmissão de leitura via porta de comunicação serial abortada."},
    {135, "Já emitido o cupom adicional."},
    {136, "CDC inválido."},
    {137, "Caracter inválido."},
    {138, "Chame a assistência técnica (código de defeito: 138)."},
    {139, "A cabeça de impressão térmica está levantada."},
    {140, "Status da cabeça de impressão térmica: temperatura elevada."},
    {141, "Status da cabeça de impressão térmica: tensão inadequada."},
    {142, "Código de barras inválido."},
    {145, "Chame a assistência técnica (código de defeito: 145)."},
    {146, "Programar número seqüencial do ECF."},
    {147, "Chame a assistência técnica (código de defeito: 147)."},
    {148, "Quantidade inválida."},
    {149, "Desconto sobre serviço desabilitado."},
    {150, "Chame a assistência técnica (código de defeito: 150)."},
    {151, "Divergência de relógio."},
    {152, "Codificação inválida."},
    {153, "Senha inválida."},
    {154, "Caracter inválido."},
    {155, "Informar inscrição estadual."},
    {156, "Função MICR não disponível."},
    {157, "Função de preenchimento de cheques não disponível."},
    {158, "Chame a assistência técnica (código de defeito: 158)."},
    {159, "Preenchendo."},
    {170, "Código de barras não disponível."},
    {171, "Erro MICR: falha de acionamento do leitor."},
    {172, "Preenchimento de cheque concluído."},
    {173, "Chame a assistência técnica (código de defeito: 173)."},
    {174, "Esgotamento dos registros de CNPJ / IE."},
    {175, "Esgotamento dos registros de inscrição municipal."},
    {176, "Esgotamento dos registros de símbolo da moeda."},
    {177, "Esgotamento dos registros de cessação de uso."},
    {178, "Esgotamento dos registros de instalação de dispositivos de memória de fita-detalhe."},
    {179, "Esgotamento dos registros de caracteres codificadores do GT."},
    {180, "Esgotamento dos registros de parametrizações do ECF."},
    {181, "Chame a assistência técnica (código de defeito: 181)."},
    {182, "Chame a assistência técnica (código de defeito: 182)."},
    {183, "Chame a assistência técnica (código de defeito: 183)."},
    {184, "Chame a assistência técnica (código de defeito: 184)."},
    {185, "Chame a assistência técnica (código de defeito: 185)."},
    {186, "Chame a assistência técnica (código de defeito: 186)."},
    {187, "O aplicativo ainda não foi identificado."},
    {188, "Chame a assistência técnica (código de defeito: 188)."},
    {189, "Chame a assistência técnica (código de defeito: 189)."},
    {190, "Chame a assistência técnica (código de defeito: 190)."},
    {191, "Chame a assistência técnica (código de defeito: 191)."},
    {193, "Falha de comunicação na transmissão das informações."},
    {195, "Enviar imagem."},
    {196, "Dimensões inválidas."},
    {197, "Falha no envio da imagem."},
    {198, "Processando."},
    {199, "Informar símbolo da moeda."},
    {200, "Efetuando leitura MICR."},
    {201, "Preço unitário inválido."},
    {202, "Os dados de identificação do consumidor já foram impressos."},
    {203, "Erro no formato do logotipo."},
    {204, "Função de autenticação não disponível."},
    {205, "Autenticação cancelada."},
    {206, "Inserir documento."},
    {207, "Autenticando."},
    {208, "Limitado a 5 autenticações."},
    {209, "Erro nos parâmetros do comando de repetição."},
    {210, "Chame a assistência técnica (código de defeito: 210)."},
    {211, "Chame a assistência técnica (código de defeito: 211)."},
    {212, "Chame a assistência técnica (código de defeito: 212)."},
    {213, "Chame a assistência técnica (código de defeito: 213)."},
    {214, "Chame a assistência técnica (código de defeito: 214)."},
    {215, "Centavos não habilitado."},
    {216,
     "A data está avançada em mais de 30 dias em relação ao último documento emitido pelo ECF. Envie o comando de "
     "programação do relógio para verificação."},
    {217, "Preparando a impressão da fita-detalhe."},
    {219, "Fazer avanço progressivo do relógio."},
    {220, "Mensagem de progressão durante a emissão da Redução Z."},
    {221, "Remove jumper JP1."},
    {225, "Informar opção de centavos."},
    {226, "Não é possível estornar."},
    {228, "Iniciando transmissão da leitura."},
    {229, "Não foi efetuado registro de recebimento no meio indicado."},
    {230, "Encerrando o uso anterior."},
    {231, "Mecanismo sem sinal de CTS."},
    {232, "Comprovante de crédito ou débito já estornado."},
    {233, "Comando de redução rejeitado."},
    {234, "Indicados os mesmos meios para estorno e efetivação."},
    {235, "Chame a assistência técnica (código de defeito: 235)."},
    {236, "Chame a assistência técnica (código de defeito: 236)."},
    {237, "Chame a assistência técnica (código de defeito: 237)."},
    {238, "Imprimir a fita-detalhe em nova intervenção."},
    {239, "Título inválido. A aplicação tentou abrir um Relatório Gerencial com o título: 'PARÂMETROS ECF'."},
    {240, "Mensagem de erro na verificação do dispositivo de MFD. A memória livre está 'suja'."},
    {241, "Chame a assistência técnica (código de defeito: 241)."},
    {242, "Chame a assistência técnica (código de defeito: 242)."},
    {243, "Redução não encontrada (comando 65)."},
    {244, "Chame a assistência técnica (código de defeito: 244)."},
    {245, "Chame a assistência técnica (código de defeito: 245)."},
    {246, "Chame a assistência técnica (código de defeito: 246)."},
    {247, "Chame a assistência técnica (código de defeito: 247)."},
    {248, "Chame a assistência técnica (código de defeito: 248)."},
    {249, "Totalizadores de ISSQN desabilitados, Inscrição Municipal não programada."},
    {250, "Totalizadores de ICMS desabilitados, CNPJ não programado."},
};

}  // namespace

uint8_t sumCheck(const uint8_t* data, size_t n) {
  unsigned sum = 0;
  for (size_t i = 0; i < n; ++i) sum += data[i];
  return static_cast<uint8_t>(sum & 0xFF);
}

ByteArray buildFrame(uint8_t sequence, std::string_view code, std::string_view parameters) {
  ByteArray f;
  f.reserve(code.size() + parameters.size() + 4);
  f.push_back(kSTX);
  f.push_back(sequence);
  f.insert(f.end(), code.begin(), code.end());
  f.insert(f.end(), parameters.begin(), parameters.end());
  f.push_back(kETX);
  f.push_back(sumCheck(f.data(), f.size()));
  return f;
}

uint8_t nextSequence(uint8_t sequence) {
  return sequence >= kLastSequence || sequence < kFirstSequence ? kFirstSequence : static_cast<uint8_t>(sequence + 1);
}

ByteArray expandRuns(const ByteArray& reply) {
  ByteArray out;
  out.reserve(reply.size());
  for (size_t i = 0; i < reply.size(); ++i) {
    if (reply[i] != kESC || i + 1 >= reply.size()) {
      out.push_back(reply[i]);
      continue;
    }
    const int more = static_cast<int>(reply[++i]) - 31;
    // A run needs a byte before it; a count below 32 repeats nothing.
    if (!out.empty() && more > 0) out.insert(out.end(), static_cast<size_t>(more), out.back());
  }
  return out;
}

bool candidateComplete(const ByteArray& buf) {
  return buf.size() >= 2 && buf[buf.size() - 2] == kETX;
}

bool replyCheckOk(const ByteArray& buf) {
  return !buf.empty() && sumCheck(buf.data(), buf.size() - 1) == buf.back();
}

int replyCode(const ByteArray& r) {
  if (r.size() < 9) return -1;
  int code = 0;
  for (size_t i = 5; i < 9; ++i) {
    if (r[i] < '0' || r[i] > '9') return -1;
    code = code * 10 + (r[i] - '0');
  }
  return code;
}

std::vector<std::string> replyFields(const ByteArray& r) {
  std::vector<std::string> out;
  if (r.size() < 10) return out;
  auto end = std::find(r.begin() + 9, r.end(), kETX);
  std::string current;
  bool open = false;
  for (auto it = r.begin() + 9; it != end; ++it) {
    if (*it == '|') {
      if (open) out.push_back(current);
      current.clear();
      open = true;
    } else if (open) {
      current += static_cast<char>(*it);
    }
  }
  if (open) out.push_back(current);
  return out;
}

std::string errorText(int code) {
  const auto at = std::lower_bound(std::begin(kErrors), std::end(kErrors), code,
                                   [](const ErrorRow& r, int c) { return r.code < c; });
  if (at == std::end(kErrors) || at->code != code) return text::cp("Erro inesperado ao enviar o comando.");
  return text::cp(at->text);
}

size_t errorCount() {
  static_assert([] {
    for (size_t i = 1; i < std::size(kErrors); ++i)
      if (kErrors[i - 1].code >= kErrors[i].code) return false;
    return true;
  }());
  return std::size(kErrors);
}

std::string stNumber(const std::string& fixed) {
  size_t i = 0;
  while (i + 1 < fixed.size() && fixed[i] == '0' && fixed[i + 1] != ',') ++i;
  return fixed.substr(i);
}

ByteArray buildClassicFrame(std::string_view code, std::string_view parameters) {
  // Byte by byte: gcc 12 misreads range inserts into a two-byte vector as out of bounds.
  ByteArray f;
  f.reserve(3 + code.size() + parameters.size());
  f.push_back(kESC);
  f.push_back('.');
  for (char c : code) f.push_back(static_cast<uint8_t>(c));
  for (char c : parameters) f.push_back(static_cast<uint8_t>(c));
  f.push_back('}');
  return f;
}

bool classicSuccess(const ByteArray& r, bool multiPart) {
  if (multiPart && r.size() >= 5 && r[4] == '+') return true;
  if (r.size() < 2) return false;
  if (r[1] == '+') return true;
  if (r[0] == '.' && r[1] == '{') return true;
  return r.size() >= 8 && r[1] == '-' && r[2] == 'P' && r[7] == '+';
}

std::string classicErrorText(const ByteArray& r) {
  if (r.size() < 3) return {};
  const std::string body(r.begin() + 2, r.end() - 1);
  std::string text = "(";
  text.append(body, 0, 4);
  text += ") ";
  if (body.size() > 4) text.append(body, 4, std::string::npos);
  return text;
}

bool classicReportEnd(const ByteArray& piece) {
  return piece.size() >= 3 && piece[0] == '.' && piece[1] == ']' && piece[2] == '}';
}

bool classicBusy(const ByteArray& s) {
  for (size_t i = 3; i < 6 && i < s.size(); ++i)
    if (s[i] == '1' || s[i] == '6') return true;
  return false;
}

bool classicNoDocument(const ByteArray& s) {
  return s.size() >= 5 && s[4] == '5';
}

bool classicRead(const ByteArray& f) {
  if (f.size() < 5 || f[0] != kESC || f[1] != '.' || f[2] != '2') return false;
  return f[3] == '7' || f[3] == '8' || f[3] == '9';
}

bool classicAnswers(const ByteArray& frame, const ByteArray& reply) {
  if (reply.size() < 3 || reply[0] != '.' || reply.back() != '}') return false;
  if (reply[1] == '-') return true;
  return frame.size() >= 4 && reply.size() >= 5 && reply[1] == '+' && reply[2] == frame[2] && reply[3] == frame[3];
}

bool classicDigits(const std::string& text, int64_t& out) {
  if (text.empty() || text.size() > 18) return false;
  int64_t v = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return false;
    v = v * 10 + (ch - '0');
  }
  out = v;
  return true;
}

bool reportGrandTotal(const std::string& report, double& out) {
  const size_t at = report.find("GT ");
  if (at == std::string::npos) return false;
  int64_t whole = 0, cents = 0;
  int digits = 0, decimals = -1;
  for (size_t i = at + 3; i < report.size(); ++i) {
    const char ch = report[i];
    if (ch >= '0' && ch <= '9') {
      if (++digits > 18) return false;
      if (decimals < 0) {
        whole = whole * 10 + (ch - '0');
      } else if (decimals < 2) {
        cents = cents * 10 + (ch - '0');
        ++decimals;
      } else {
        break;
      }
    } else if (ch == '.' && decimals < 0 && digits > 0) {
      continue;
    } else if (ch == ',' && decimals < 0 && digits > 0) {
      decimals = 0;
    } else {
      break;
    }
  }
  if (decimals != 2) return false;
  out = static_cast<double>(whole) + static_cast<double>(cents) / 100.0;
  return true;
}

}  // namespace tarvion::sweda
