#include "emulator/virtual_printer.h"

#include <algorithm>

#include "core/text.h"
#include "emulator/paper.h"

namespace tarvion::emulator {

namespace {

// A command left half-way this long ago was abandoned by the host, who has
// since purged and started again: the new bytes are not glued to it.
constexpr int64_t kAbandonedUs = 500'000;

// Modulo 10 with weights 2, 1 from the right, the check digit of the CMC-7 groups.
char mod10(const std::string& digits) {
  int sum = 0, w = 2;
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    int v = (*it - '0') * w;
    sum += v / 10 + v % 10;
    w = w == 2 ? 1 : 2;
  }
  return static_cast<char>('0' + (10 - sum % 10) % 10);
}

// The 30 digits of a Brazilian check's CMC-7: bank, branch and the check digit
// of the second group; clearing house, check number and type; the check digit
// of the first group, the account and its check digit.
std::string madeUpCmc7(int checkNumber) {
  const std::string bank = "001", branch = "1234", clearing = "018", type = "5", account = "0000123456";
  const std::string number = text::format("%06d", checkNumber % 1000000);
  const std::string g2 = clearing + number + type;
  const std::string g1 = bank + branch + mod10(g2);
  const std::string g3 = std::string(1, mod10(bank + branch)) + account + mod10(account);
  return g1 + g2 + g3;
}

}  // namespace

VirtualPrinter::VirtualPrinter(std::shared_ptr<FiscalCore> core, std::string modelName, Hardware hardware)
    : core_(std::move(core)), name_(std::move(modelName)), hardware_(hardware) {
  if (core_->identity().model != name_) {
    Identity id = core_->identity();
    id.model = name_;
    core_->setIdentity(id);
  }
  if (core_->paper()) core_->paper()->setColumns(hardware_.columns);
}

void VirtualPrinter::receive(const uint8_t* data, size_t n, ReplySink& out) {
  std::lock_guard<std::mutex> lock(mu_);
  nowUs_ = out.nowUs();
  if (lineCut()) return;
  if (!buf_.empty() && nowUs_ - lastRxUs_ > kAbandonedUs) buf_.clear();
  lastRxUs_ = nowUs_;
  buf_.insert(buf_.end(), data, data + n);
  consume(buf_, out);
  if (buf_.size() > kLargestCommand) buf_.clear();
}

size_t VirtualPrinter::pendingBytes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return buf_.size();
}

void VirtualPrinter::lineClosed() {
  std::lock_guard<std::mutex> lock(mu_);
  buf_.clear();
}

bool VirtualPrinter::serve(ReplySink& out, const ByteArray& refusal, const std::function<ByteArray()>& run) {
  ++frames_;
  const FaultAction act = nextCommand();
  if (act.cut) {
    buf_.clear();
    out.hangUp();
    return false;
  }
  if (act.noAnswer) return true;
  if (act.nak) {
    out.send(refusal, act.delayMs);
    return true;
  }
  ByteArray reply = run();
  if (act.garbage) reply = garble(reply.size(), static_cast<uint32_t>(frames_));
  if (act.shortReply) reply.resize(std::max<size_t>(1, reply.size() / 2));
  out.send(reply, act.delayMs);
  return true;
}

std::string VirtualPrinter::printedPaper() {
  std::lock_guard<std::mutex> lock(mu_);
  Paper* p = core_->paper();
  return p ? p->printed() : std::string();
}

void VirtualPrinter::setDocumentInserted(bool v, const std::string& cmc7) {
  std::lock_guard<std::mutex> lock(mu_);
  document_ = v;
  if (!v) return;
  std::string digits;
  for (char ch : cmc7)
    if (ch >= '0' && ch <= '9') digits += ch;
  cmc7_ = digits.size() == 30 ? digits : madeUpCmc7(++checkSerial_);
}

bool VirtualPrinter::documentInserted() const {
  std::lock_guard<std::mutex> lock(mu_);
  return document_;
}

void VirtualPrinter::setAutoDocument(bool v) {
  std::lock_guard<std::mutex> lock(mu_);
  autoDocument_ = v;
}

bool VirtualPrinter::autoDocument() const {
  std::lock_guard<std::mutex> lock(mu_);
  return autoDocument_;
}

bool VirtualPrinter::setCheckDocument(const std::string& mode, std::string* error) {
  if (!hardware_.checkStation) {
    if (error) *error = name_ + " has no check station";
    return false;
  }
  const std::string m = text::trim(mode);
  if (m == "out" || m.empty()) {
    setAutoDocument(false);
    setDocumentInserted(false);
  } else if (m == "in") {
    setAutoDocument(false);
    setDocumentInserted(true);
  } else if (m == "auto") {
    setAutoDocument(true);
  } else {
    if (error) *error = "expected out, in or auto for the check document, got '" + mode + "'";
    return false;
  }
  return true;
}

std::string VirtualPrinter::documentCmc7() const {
  std::lock_guard<std::mutex> lock(mu_);
  return document_ ? formatCmc7(cmc7_) : std::string();
}

int VirtualPrinter::checksPrinted() const {
  std::lock_guard<std::mutex> lock(mu_);
  return checksPrinted_;
}

bool VirtualPrinter::feedDocument() {
  if (!document_ && autoDocument_) {
    document_ = true;
    cmc7_ = madeUpCmc7(++checkSerial_);
  }
  return document_;
}

void VirtualPrinter::checkPrinted() {
  ++checksPrinted_;
  // The operator of the auto mode takes the printed check away at once; a
  // check put in by hand stays in the slot until it is taken or let go.
  if (autoDocument_) document_ = false;
}

void VirtualPrinter::openDrawer() {
  drawer_ = true;
  drawerOpenedUs_ = nowUs_;
}

bool VirtualPrinter::drawerIsOpen() const {
  if (!drawer_) return false;
  return drawerAutoCloseMs_ == 0 || nowUs_ - drawerOpenedUs_ < static_cast<int64_t>(drawerAutoCloseMs_) * 1000;
}

bool VirtualPrinter::drawerOpen() const {
  std::lock_guard<std::mutex> lock(mu_);
  return drawerIsOpen();
}

void VirtualPrinter::setDrawerOpen(bool v) {
  std::lock_guard<std::mutex> lock(mu_);
  drawer_ = v;
  drawerOpenedUs_ = nowUs_;
}

void VirtualPrinter::setDrawerAutoCloseMs(uint32_t ms) {
  std::lock_guard<std::mutex> lock(mu_);
  drawerAutoCloseMs_ = ms;
}

int VirtualPrinter::framesReceived() const {
  std::lock_guard<std::mutex> lock(mu_);
  return frames_;
}

}  // namespace tarvion::emulator
