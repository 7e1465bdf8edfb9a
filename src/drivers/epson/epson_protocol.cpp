// The Epson codec: frames, reply fields, the return-code table and the
// printer's text.
#include "drivers/epson/epson_protocol.h"

#include <algorithm>
#include <cmath>

#include "core/host_text.h"
#include "core/text.h"

namespace tarvion::epson {

namespace {

struct Message {
  uint8_t cls, detail;
  const char* text;
};

// Keyed by class, then detail, in ascending order.
constexpr Message kMessages[] = {
    {0x00, 0x01, "Erro interno."},
    {0x00, 0x02, "Erro de iniciação do equipamento."},
    {0x00, 0x03, "Erro de processo interno."},
    {0x01, 0x01, "Comando inválido para o estado atual."},
    {0x01, 0x02, "Comando inválido para o documento atual."},
    {0x01, 0x06, "Comando aceito apenas fora de intervenção."},
    {0x01, 0x07, "Comando aceito apenas dentro de intervenção."},
    {0x01, 0x08, "Comando inválido durante processo de scan."},
    {0x01, 0x09, "Excesso de intervenções."},
    {0x02, 0x01, "Comando com frame inválido."},
    {0x02, 0x02, "Comando inválido."},
    {0x02, 0x03, "Campos em excesso."},
    {0x02, 0x04, "Campos em falta."},
    {0x02, 0x05, "Campo não opcional."},
    {0x02, 0x06, "Campo alfanumérico inválido."},
    {0x02, 0x07, "Campo alfabético inválido."},
    {0x02, 0x08, "Campo numérico inválido."},
    {0x02, 0x09, "Campo binário inválido."},
    {0x02, 0x0A, "Campo imprimível inválido."},
    {0x02, 0x0B, "Campo hexadecimal inválido."},
    {0x02, 0x0C, "Campo data inválido."},
    {0x02, 0x0D, "Campo hora inválido."},
    {0x02, 0x0E, "Campo com atributos de impressão inválidos."},
    {0x02, 0x0F, "Campo booleano inválido."},
    {0x02, 0x10, "Campo com tamanho inválido."},
    {0x02, 0x11, "Extensão de comando inválida."},
    {0x02, 0x12, "Código de barra não permitido."},
    {0x02, 0x13, "Atributos de impressão não permitidos."},
    {0x02, 0x14, "Atributos de impressão inválidos."},
    {0x02, 0x15, "Código de barras incorretamente definido."},
    {0x02, 0x17, "Comando invalido para a porta selecionada."},
    {0x03, 0x01, "Erro de hardware."},
    {0x03, 0x02, "Impressora não está pronta."},
    {0x03, 0x03, "Erro de impressão."},
    {0x03, 0x04, "Sem papel."},
    {0x03, 0x05, "Pouco papel disponível."},
    {0x03, 0x06, "Erro em carga ou expulsão do papel."},
    {0x03, 0x07, "Característica não suportada pela impressora."},
    {0x03, 0x08, "Erro de display."},
    {0x03, 0x09, "Seqüência de scan inválida."},
    {0x03, 0x0A, "Número de área de recorte inválido."},
    {0x03, 0x0B, "Scanner não preparado."},
    {0x03, 0x0C, "Qualidade de logotipo não suportada pela impressora."},
    {0x03, 0x0E, "Erro de leitura do microcódigo."},
    {0x04, 0x01, "Número de série inválido."},
    {0x04, 0x02, "Requer dados de fiscalização já configurados."},
    {0x05, 0x01, "Data / hora não configurada."},
    {0x05, 0x02, "Data inválida."},
    {0x05, 0x03, "Data em intervalo inválido."},
    {0x05, 0x04, "Nome operador inválido."},
    {0x05, 0x05, "Número de caixa inválido."},
    {0x05, 0x08, "Dados de cabeçalho ou rodapé inválidos."},
    {0x05, 0x09, "Excesso de fiscalização."},
    {0x05, 0x0C, "Número máximo de meios de pagamento já definidos."},
    {0x05, 0x0D, "Meio de pagamento já definido."},
    {0x05, 0x0E, "Meio de pagamento inválido."},
    {0x05, 0x0F, "Descrição do meio de pagamento inválido."},
    {0x05, 0x10, "Valor máximo de desconto inválido."},
    {0x05, 0x13, "Logotipo do usuário inválido."},
    {0x05, 0x14, "Seqüência de logotipo inválido."},
    {0x05, 0x15, "Configuração de display inválida."},
    {0x05, 0x16, "Dados do micr inválidos."},
    {0x05, 0x17, "Campo de endereço inválido."},
    {0x05, 0x18, "Nome da loja não definido."},
    {0x05, 0x19, "Dados fiscais não definidos."},
    {0x05, 0x1A, "Número seqüencial do ecf inválido."},
    {0x05, 0x1B, "Simbologia do gt inválida, devem ser todos diferentes."},
    {0x05, 0x1C, "Número de cnpj inválido."},
    {0x05, 0x1D, "Senha de fiscalização inválida."},
    {0x05, 0x1E, "Último documento deve ser uma redução z."},
    {0x05, 0x1F, "Símbolo da moeda igual ao atualmente cadastrado."},
    {0x05, 0x20, "Identificação da alíquota não cadastrada."},
    {0x05, 0x21, "Alíquota não cadastrada."},
    {0x06, 0x01, "Memória de fita-detalhe esgotada."},
    {0x06, 0x05, "Número de série invalido para a memória de fita-detalhe."},
    {0x06, 0x06, "Memória de fita-detalhe não iniciada."},
    {0x06, 0x07, "Memória de fita-detalhe não pode estar iniciada."},
    {0x06, 0x08, "Número de série da memória de fita-detalhe não confere."},
    {0x06, 0x09, "Erro interno na memória de fita-detalhe."},
    {0x07, 0x01, "Valor inválido para o número do registro."},
    {0x07, 0x02, "Valor inválido para o número do item."},
    {0x07, 0x03, "Intervalo inválido para a leitura da mfd."},
    {0x07, 0x04, "Número de usuário inválido para mfd."},
    {0x08, 0x01, "Comando inválido com jornada fiscal fechada."},
    {0x08, 0x02, "Comando inválido com jornada fiscal aberta."},
    {0x08, 0x03, "Memória fiscal esgotada."},
    {0x08, 0x04, "Jornada fiscal deve ser fechada."},
    {0x08, 0x05, "Não há meios de pagamento definidos."},
    {0x08, 0x06, "Excesso de meios de pagamento utilizados na jornada fiscal."},
    {0x08, 0x07, "Jornada fiscal sem movimento de vendas."},
    {0x08, 0x08, "Intervalo de jornada fiscal inválido."},
    {0x08, 0x09, "Existem mais dados para serem lidos."},
    {0x08, 0x0A, "Não existem mais dados para serem lidos."},
    {0x08, 0x0B, "Não pode abrir jornada fiscal."},
    {0x08, 0x0C, "Não pode fechar jornada fiscal."},
    {0x08, 0x0D, "Limite máximo do período fiscal atingido."},
    {0x08, 0x0E, "Limite máximo do período fiscal não atingido."},
    {0x08, 0x0F, "Abertura da jornada fiscal não permitida."},
    {0x09, 0x01, "Valor muito grande."},
    {0x09, 0x02, "Valor muito pequeno."},
    {0x09, 0x03, "Itens em excesso."},
    {0x09, 0x04, "Alíquotas em excesso."},
    {0x09, 0x05, "Desconto ou acréscimos em excesso."},
    {0x09, 0x06, "Meios de pagamento em excesso."},
    {0x09, 0x07, "Item não encontrado."},
    {0x09, 0x08, "Meio de pagamento não encontrado."},
    {0x09, 0x09, "Total nulo."},
    {0x09, 0x0C, "Tipo de pagamento não definido."},
    {0x09, 0x0F, "Alíquota não encontrada."},
    {0x09, 0x10, "Alíquota inválida."},
    {0x09, 0x11, "Excesso de meios de pagamento com cdc."},
    {0x09, 0x12, "Meio de pagamento com cdc já emitido."},
    {0x09, 0x13, "Meio de pagamento com cdc ainda não emitido."},
    {0x09, 0x14, "Leitura da memória fiscal – intervalo crz inválido."},
    {0x09, 0x15, "Leitura da memória fiscal – intervalo de data inválido."},
    {0x0A, 0x01, "Operação não permitida após desconto / acréscimo."},
    {0x0A, 0x02, "Operação não permitida após registro de pagamentos."},
    {0x0A, 0x03, "Tipo de item inválido."},
    {0x0A, 0x04, "Linha de descrição em branco."},
    {0x0A, 0x05, "Quantidade muito pequena."},
    {0x0A, 0x06, "Quantidade muito grande."},
    {0x0A, 0x07, "Total do item com valor muito alto."},
    {0x0A, 0x08, "Operação não permitida antes do registro de pagamentos."},
    {0x0A, 0x09, "Registro de pagamento incompleto."},
    {0x0A, 0x0A, "Registro de pagamento finalizado."},
    {0x0A, 0x0B, "Valor pago inválido."},
    {0x0A, 0x0C, "Valor de desconto ou acréscimo não permitido."},
    {0x0A, 0x0E, "Valor não pode ser zero."},
    {0x0A, 0x0F, "Operação não permitida antes do registro de itens."},
    {0x0A, 0x11, "Cancelamento de desconto e acréscimo somente para item atual."},
    {0x0A, 0x12, "Não foi possível cancelar último cupom fiscal."},
    {0x0A, 0x13, "Último comprovante não-fiscal não encontrado."},
    {0x0A, 0x14, "Último cupom fiscal não encontrado."},
    {0x0A, 0x15, "Cancelamento de cdc necessária."},
    {0x0A, 0x16, "Número de item em cupom fiscal inválido."},
    {0x0A, 0x17, "Operação somente permitida após subtotalização."},
    {0x0A, 0x18, "Operação somente permitida durante a venda de itens."},
    {0x0A, 0x19, "Operação não permitida em item com desconto ou acréscimo."},
    {0x0A, 0x1A, "Dígitos de quantidade inválidos."},
    {0x0A, 0x1B, "Dígitos de valor unitário inválido."},
    {0x0A, 0x1C, "Não há desconto ou acréscimo a cancelar."},
    {0x0A, 0x1D, "Não há item para cancelar."},
    {0x0A, 0x1E, "Desconto ou acréscimo somente no item atual."},
    {0x0A, 0x1F, "Desconto ou acréscimo já efetuado."},
    {0x0A, 0x20, "Desconto ou acréscimo nulo não permitido."},
    {0x0A, 0x21, "Valor unitário inválido."},
    {0x0A, 0x22, "Quantidade inválida."},
    {0x0A, 0x23, "Código de item inválido."},
    {0x0A, 0x24, "Descrição inválida."},
    {0x0A, 0x25, "Operação de desconto ou acréscimo não permitida."},
    {0x0A, 0x26, "Mensagem promocional já impressa."},
    {0x0A, 0x27, "Linhas adicionais não podem ser impressas."},
    {0x0A, 0x28, "Dados do consumidor já impresso."},
    {0x0A, 0x29, "Dados do consumidor somente no fim do documento."},
    {0x0A, 0x2A, "Dados do consumidor somente no inicio do documento."},
    {0x0A, 0x2B, "Comando inválido para o item."},
    {0x0E, 0x01, "Número de linhas em documento excedido."},
    {0x0E, 0x02, "Número do relatório inválido."},
    {0x0E, 0x03, "Operação não permitida após registro de itens."},
    {0x0E, 0x04, "Registro de valor nulo não permitido."},
    {0x0E, 0x05, "Não há desconto a cancelar."},
    {0x0E, 0x06, "Não há acréscimo a cancelar."},
    {0x0E, 0x07, "Operação somente permitida após subtotalização."},
    {0x0E, 0x08, "Operação somente permitida durante registro de itens."},
    {0x0E, 0x09, "Operação não-fiscal inválida."},
    {0x0E, 0x0A, "Último comprovante não-fiscal não encontrado."},
    {0x0E, 0x0B, "Meio de pagamento não encontrado."},
    {0x0E, 0x0C, "Não foi possível imprimir nova via."},
    {0x0E, 0x0D, "Não foi possível realizar reimpressão."},
    {0x0E, 0x0E, "Não foi possível imprimir nova parcela."},
    {0x0E, 0x0F, "Não há mais parcelas a imprimir."},
    {0x0E, 0x10, "Registro de item não-fiscal inválido."},
    {0x0E, 0x11, "Desconto ou acréscimo já efetuado."},
    {0x0E, 0x12, "Valor de desconto ou acréscimo inválido."},
    {0x0E, 0x13, "Não foi possível cancelar o item."},
    {0x0E, 0x14, "Itens em excesso."},
    {0x0E, 0x15, "Operação não-fiscal não cadastrada."},
    {0x0E, 0x16, "Excesso de relatórios / operações não-fiscais cadastradas."},
    {0x0E, 0x17, "Relatório não encontrado."},
    {0x0E, 0x18, "Comando não permitido."},
    {0x0E, 0x19, "Comando não permitido em operações não-fiscais para movimento de monetário."},
    {0x0E, 0x1A, "Comando permitido apenas em operações não-fiscais para movimento de monetário."},
    {0x0E, 0x1B, "Número de parcelas inválido para a emissão de ccd."},
    {0x0E, 0x1C, "Operação não fiscal já cadastrada."},
    {0x0E, 0x1D, "Relatório gerencial já cadastrado."},
    {0x0E, 0x1E, "Relatório gerencial inválido."},
    {0x30, 0x01, "Configuração de cheque não registrada."},
    {0x30, 0x02, "Configuração de cheque não encontrada."},
    {0x30, 0x03, "Valor do cheque já impresso."},
    {0x30, 0x04, "Nominal ao cheque já impresso."},
    {0x30, 0x05, "Linhas adicionais no cheque já impresso."},
    {0x30, 0x06, "Autenticação já impressa."},
    {0x30, 0x07, "Número máximo de autenticações já impresso."},
};

constexpr bool sorted() {
  for (size_t i = 1; i < std::size(kMessages); ++i) {
    const int a = kMessages[i - 1].cls * 256 + kMessages[i - 1].detail;
    const int b = kMessages[i].cls * 256 + kMessages[i].detail;
    if (a >= b) return false;
  }
  return true;
}
static_assert(sorted(), "the return-code table is looked up by binary search");

void appendCode(std::string& buffer, uint8_t b) {
  if (b == kStx || b == kSub) buffer += static_cast<char>(kEsc);
  buffer += static_cast<char>(b);
}

}  // namespace

void addCommandBytes(std::string& buffer, uint8_t a, uint8_t b) {
  if (!buffer.empty()) buffer += static_cast<char>(kFs);
  appendCode(buffer, a);
  appendCode(buffer, b);
}

void addField(std::string& buffer, std::string_view text) {
  buffer += static_cast<char>(kFs);
  buffer.append(text);
}

std::string checksum(std::string_view bytes) {
  unsigned sum = 0;
  for (const char c : bytes) sum += static_cast<uint8_t>(c);
  return text::format("%04X", sum & 0xFFFFu);
}

std::string buildFrame(int seq, std::string_view command, std::string_view fields) {
  std::string f;
  f.reserve(command.size() + fields.size() + 8);
  f += static_cast<char>(kStx);
  f += static_cast<char>(seq & 0xFF);
  f.append(command);
  f.append(fields);
  f += static_cast<char>(kEtx);
  f += checksum(f);
  return f;
}

size_t frameLength(const uint8_t* data, size_t n) {
  if (n == 0 || data[0] != kStx) return 0;
  for (size_t i = 1; i < n; ++i) {
    if (data[i] == kEsc) {
      ++i;
      continue;
    }
    if (data[i] == kEtx) return i + 5 <= n ? i + 5 : 0;
  }
  return 0;
}

size_t findReply(const uint8_t* data, size_t n, int seq, size_t& length) {
  length = 0;
  const auto ours = static_cast<uint8_t>(seq);
  for (size_t i = 0; i < n;) {
    if (data[i] != kStx) {
      ++i;
      continue;
    }
    if (i + 1 >= n) return std::string::npos;  // its sequence byte is still to come
    if (data[i + 1] == ours) {
      length = frameLength(data + i, n - i);
      return i;
    }
    // Another frame's answer: skipped to its end, unless an STX with our
    // sequence comes first (the printer gave that one up and restarted).
    size_t j = i + 2;
    for (; j < n; ++j) {
      if (data[j] == kEsc) {
        ++j;
        continue;
      }
      if (data[j] == kStx && (j + 1 >= n || data[j + 1] == ours)) break;
      if (data[j] == kEtx) {
        j = std::min(n, j + 5);
        break;
      }
    }
    if (j >= n) return std::string::npos;  // the other frame is not over yet
    i = j;
  }
  return std::string::npos;
}

bool checksumMatches(std::string_view frame) {
  if (frame.size() < 7) return false;
  return checksum(frame.substr(0, frame.size() - 4)) == frame.substr(frame.size() - 4);
}

std::vector<std::string> replyFields(std::string_view frame) {
  std::vector<std::string> out(1);
  size_t end = frame.size();
  // The trailer (ETX and the checksum digits) is no field text.
  const size_t len = frameLength(reinterpret_cast<const uint8_t*>(frame.data()), frame.size());
  if (len >= 5) end = len - 5;
  for (size_t i = 0; i < end; ++i) {
    const auto b = static_cast<uint8_t>(frame[i]);
    if (b == kEsc) {
      if (i + 1 < end) out.back() += frame[++i];
      continue;
    }
    if (b == kFs)
      out.emplace_back();
    else
      out.back() += static_cast<char>(b);
  }
  return out;
}

bool returnCode(const std::vector<std::string>& fields, int& cls, int& detail) {
  if (fields.size() < 4 || fields[3].size() < 2) return false;
  cls = static_cast<uint8_t>(fields[3][0]);
  detail = static_cast<uint8_t>(fields[3][1]);
  return true;
}

const char* messageUtf8(int cls, int detail) {
  const int key = cls * 256 + detail;
  const auto* it = std::lower_bound(std::begin(kMessages), std::end(kMessages), key,
                                    [](const Message& m, int k) { return m.cls * 256 + m.detail < k; });
  if (it == std::end(kMessages) || it->cls * 256 + it->detail != key) return nullptr;
  return it->text;
}

size_t messageCount() {
  return std::size(kMessages);
}

std::string errorText(int cls, int detail) {
  if (cls == 0xFF && detail == 0xFF) return text::cp("Erro desconhecido.");
  const char* m = messageUtf8(cls, detail);
  return m ? text::cp(m) : std::string();
}

std::string rateText(double rate) {
  std::string s = fields::printfFixed(rate, 5, 2);
  std::replace(s.begin(), s.end(), '.', ',');
  return s + "%";
}

std::string taxField(const std::string& entry, double rate) {
  if (entry.size() < 9 || entry.compare(3, 6, rateText(rate)) != 0) return {};
  const int index = static_cast<uint8_t>(entry[1]) - 0x40;
  if (index < 0 || index > 99) return {};
  const long hundredths = std::lround(rate * 100);
  if (hundredths < 0 || hundredths > 9999) return {};
  return text::format("%.02dT%.04ld", index, hundredths);
}

std::vector<std::string> printerLines(std::string_view cp1252, int columns) {
  const std::string converted = text::foldPrinterText(cp1252, text::charset::printer850());
  const size_t width = columns > 0 ? static_cast<size_t>(columns) : converted.size();
  std::vector<std::string> out;
  for (size_t at = 0; at < converted.size(); at += width) out.push_back(converted.substr(at, width));
  return out;
}

}  // namespace tarvion::epson
