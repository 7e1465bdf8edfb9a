// CBematechMP25 (MP-25 FI and MP-50 FI): the CBematech sale, text and Z
// operations with the FS prefix, the MP-25 status table, and the readings and
// tables of the CBematech2000 firmware; no check reader.
#pragma once

#include "drivers/bematech/CBematech.h"

namespace tarvion {

class CBematechMP25 : public CBematech {
 public:
  CBematechMP25();
  const char* ClassName() const override { return "CBematechMP25"; }
  BOOL CheckForSuccess() override;
  BOOL ReadSerialNumber(std::string& strOut) override;
  BOOL ReadFiscalInformation() override;
  BOOL CupomFiscalAberto(BOOL& bOut) override;
  BOOL PrintSecondReceipt() override;
  BOOL AbreComprovanteVinculado(const std::string& strPaymentType, double nValorPagamento,
                                const std::string& strNumeroCupom) override;
  BOOL LoadPaymentTypes(BOOL bLoadValues) override;
  BOOL LoadPaymentTypes() override;
  BOOL LoadNonFiscalTitles() override;
  BOOL RedefineFormasPagamento(const std::vector<std::string>& arNames) override;
  double GetSaleTotal() override;
  BOOL OpenNamedReport(const std::string& strReportName) override;
  BOOL LoadReports() override;
};

}  // namespace tarvion
