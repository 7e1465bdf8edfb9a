// CBematechMP7000: the MP-6000 protocol with a check station of its own: the
// driver asks the operator for the check when the slot is empty, prints it with
// 62 "L", reads its own sensor bits, and registers items with 62 "I".
#pragma once

#include "drivers/bematech/CBematechMP6000.h"

namespace tarvion {

class CBematechMP7000 : public CBematechMP6000 {
 public:
  CBematechMP7000();
  const char* ClassName() const override { return "CBematechMP7000"; }
  BOOL ReadCheck(BOOL bKeepCheck, std::string& strCheckInfo) override;
  BOOL PrintCheck(double nValue, const std::string& strBankNumber) override;
  BOOL ReleaseCheck() override;
  BOOL RegistraItemFiscal(const std::string& strCodigoProduto, const std::string& strDescricaoProduto,
                          const std::string& strUnidade, double nAliquota, double nQuantidade, double nValorUnitario,
                          double nValorDesconto) override;
  BOOL RegisterService(const std::string& strProductCode, const std::string& strDescription, const std::string& strUnit,
                       double nTaxPercent, double nQuantity, double nUnitValue, double nDiscountValue) override;
  BOOL WaitCheckEvent() override;

 protected:
  BOOL RegisterItem(const std::string& strCode, const std::string& strDescription, const std::string& strUnit,
                    const std::string& strLabel, double nQuantity, double nUnitValue, double nDiscount) override;

 private:
  // Makes sure a check is in the slot, asking the operator for it when the slot
  // is empty. False when the printer does not answer or the operator cancels.
  BOOL CheckInPlace(const char* where, bool& asked);
  BOOL RegisterWithTaxMP7000(const char* where, bool service, const std::string& code, const std::string& description,
                             const std::string& unit, double rate, double quantity, double unitPrice, double discount);
};

}  // namespace tarvion
