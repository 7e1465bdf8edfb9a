// The driver operations the reply fuzzers run, by name: each family's fuzzer
// lists those its driver carries out, and a byte of the input picks one. They
// are called through the base class, as the control calls them.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "core/ecf_base.h"

namespace tarvion::fuzzing {

enum class Op : uint8_t {
  OpenReceipt,
  Online,
  InitialConfiguration,
  LoadTaxes,
  LoadPaymentTypes,
  LoadReports,
  LoadNonFiscalTitles,
  ReceiptNumber,
  XReportOverThePort,
  FiscalMemoryByReduction,
  ReadDaylightSaving,
  SetDaylightSaving,
  ReceiptOpen,
  SerialNumber,
  DateTime,
  FiscalInformation,
  SaleTotal,
  UserDateTime,
  UserGrandTotal,
  NonFiscalTotal,
  PendingZReport,
  FiscalDate,
  ResetNonFiscalTitles,
  AddPaymentType,
  LowPaper,
  Item,
  Payment,
  CloseReceipt,
  CancelReceipt,
  XReport,
  ZReport,
  NonFiscalReceipt,
  LinkedReceipt,
  ManagementReport,
  FirmwareVersion,
  OperationCounter,
  LastDocumentDateTime,
  LastMovementDate,
  RestartCounter,
  FinalGrandTotal,
  PafIdentification,
  ReadCheck,
};

inline void run(CECFBase& d, Op op) {
  std::string s, t;
  BOOL b = kFalse;
  DateTime dt = DateTime::invalid();
  switch (op) {
    case Op::OpenReceipt:
      d.AbreCupomFiscal();
      break;
    case Op::Online:
      d.ECFOnline();
      break;
    case Op::InitialConfiguration:
      d.InitialConfiguration();
      break;
    case Op::LoadTaxes:
      d.LoadTaxes();
      break;
    case Op::LoadPaymentTypes:
      d.LoadPaymentTypes(kTrue);
      break;
    case Op::LoadReports:
      d.LoadReports();
      break;
    case Op::LoadNonFiscalTitles:
      d.LoadNonFiscalTitles();
      break;
    case Op::ReceiptNumber:
      d.RetornaNumeroCupom(s);
      break;
    case Op::XReportOverThePort:
      d.LeituraXSerial(s);
      break;
    case Op::FiscalMemoryByReduction:
      d.LeituraMFSerialReducao(1, 2, s, kTrue);
      break;
    case Op::ReadDaylightSaving:
      d.VerificaHorarioVerao(b);
      break;
    case Op::SetDaylightSaving:
      d.MudaHorarioVerao(kTrue);
      break;
    case Op::ReceiptOpen:
      d.CupomFiscalAberto(b);
      break;
    case Op::SerialNumber:
      d.ReadSerialNumber(s);
      break;
    case Op::DateTime:
      d.ReadDateTime(dt);
      break;
    case Op::FiscalInformation:
      d.ReadFiscalInformation();
      break;
    case Op::SaleTotal:
      d.GetSaleTotal();
      break;
    case Op::UserDateTime:
      d.GetUserDateTime();
      break;
    case Op::UserGrandTotal:
      d.GetUserGrandTotal();
      break;
    case Op::NonFiscalTotal:
      d.GetNonFiscalTotal();
      break;
    case Op::PendingZReport:
      d.GetPendingZReport();
      break;
    case Op::FiscalDate:
      d.GetFiscalDate();
      break;
    case Op::ResetNonFiscalTitles:
      d.ResetNonFiscalTitles();
      break;
    case Op::AddPaymentType:
      d.AdicionaFormaPagamento("Vale");
      break;
    case Op::LowPaper:
      d.IsLowPaper();
      break;
    case Op::Item:
      d.RegistraItemFiscal("1", "Item", "UN", 18, 3, 1, 0.5);
      break;
    case Op::Payment:
      d.RegistraPagamento("Dinheiro", 10);
      break;
    case Op::CloseReceipt:
      d.FechaCupomFiscal("OBRIGADO", 0);
      break;
    case Op::CancelReceipt:
      d.CancelaCupomFiscal();
      break;
    case Op::XReport:
      d.LeituraX();
      break;
    case Op::ZReport:
      d.ReducaoZ(DateTime::fromParts(2026, 1, 1, 10, 0, 0));
      break;
    case Op::NonFiscalReceipt:
      d.ComprovanteNaoFiscalNaoVinculado(1, 5, "Dinheiro");
      break;
    case Op::LinkedReceipt:
      d.AbreComprovanteVinculado("Dinheiro", 1, "");
      break;
    case Op::ManagementReport:
      d.ImprimeRelatorioGerencial("LINHA 1\nLINHA 2");
      break;
    case Op::FirmwareVersion:
      d.GetFirmwareVersion();
      break;
    case Op::OperationCounter:
      d.GetOperationCounter();
      break;
    case Op::LastDocumentDateTime:
      d.GetLastDocumentDateTime();
      break;
    case Op::LastMovementDate:
      d.GetDataMovUltimaRZ();
      break;
    case Op::RestartCounter:
      d.GetUserRestartCounter();
      break;
    case Op::FinalGrandTotal:
      d.GetFinalGrandTotal();
      break;
    case Op::PafIdentification:
      d.GetPAFECFIdentification(s, t);
      break;
    case Op::ReadCheck:
      d.ReadCheck(kFalse, s);
      break;
  }
}

// The operation `pick` chooses among those listed.
inline void runPicked(CECFBase& d, uint8_t pick, std::initializer_list<Op> ops) {
  run(d, ops.begin()[pick % ops.size()]);
}

}  // namespace tarvion::fuzzing
