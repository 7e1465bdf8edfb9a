// The operation log: line format, when it is on, and what it refuses to write to.
#include "core/oplog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "control/ctrl_state.h"
#include "core/ecf_base.h"
#include "tarvion/tarvion.hpp"
#include "test_support.h"

using namespace tarvion;
using testsupport::readFile;

TEST(OpLog, LineFormatDownToTheMillisecond) {
  platform::LocalTime t;
  t.day = 4;
  t.month = 2;
  t.year = 2026;
  t.hour = 9;
  t.minute = 5;
  t.second = 3;
  t.millisecond = 7;
  EXPECT_EQ(formatLogLine(t, "CTarvionCtrl::AbreCupomFiscal"),
            "04/02/2026 09:05:03.007 - CTarvionCtrl::AbreCupomFiscal\r\n");
  EXPECT_EQ(OpLog::shape("W", ""), "W");
  EXPECT_EQ(OpLog::shape("W", "x"), "W{x}");
}

TEST(OpLog, OnlyWhenTheFileExistedAtCreation) {
  testsupport::TempDir tmp;
  {
    CTarvionCtrl before;  // no file yet: nothing is written anywhere
    tmp.enableLog();
    before.ExisteECF("X");
    CECFBase late;  // made after the file appeared: logs
    late.Log("CECFBase::Teste", "depois");
  }
  std::string log = readFile(tmp.logPath());
  EXPECT_EQ(log.find("CTarvionCtrl::CTarvionCtrl{início}"), std::string::npos);
  EXPECT_NE(log.find("CECFBase::Teste{depois}\r\n"), std::string::npos);
  EXPECT_NE(log.find("CECFBase::CECFBase - início"), std::string::npos);
  // Every line has the time stamp shape.
  size_t lines = 0;
  for (size_t p = 0; p < log.size();) {
    size_t e = log.find("\r\n", p);
    ASSERT_NE(e, std::string::npos);
    std::string line = log.substr(p, e - p);
    ASSERT_GE(line.size(), 26u);
    EXPECT_EQ(line[2], '/');
    EXPECT_EQ(line[5], '/');
    EXPECT_EQ(line[19], '.');
    EXPECT_EQ(line.substr(23, 3), " - ");
    p = e + 2;
    ++lines;
  }
  EXPECT_GE(lines, 3u);
}

TEST(OpLog, BufferedLinesKeepTheirOrderAndReachTheFileWithTheNextImmediateLine) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  OpLog log;
  log.logBuffered("W", "primeira");
  log.logBuffered("W", "segunda");
  EXPECT_EQ(readFile(tmp.logPath()), "");
  log.log("W", "terceira");
  std::string text = readFile(tmp.logPath());
  size_t a = text.find("W{primeira}"), b = text.find("W{segunda}"), c = text.find("W{terceira}");
  ASSERT_NE(a, std::string::npos);
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  log.logResult("W", "FALSE", "Cupom aberto.");
  EXPECT_NE(readFile(tmp.logPath()).find("W{Retorno=FALSE (Erro: Cupom aberto.)}\r\n"), std::string::npos);
}

TEST(OpLog, NeverFollowsALinkNorWritesToAnythingButARegularFile) {
  testsupport::TempDir tmp;
  std::string target = tmp.file("alvo.txt");
  { std::ofstream(target) << "intacto"; }
  ASSERT_EQ(symlink(target.c_str(), tmp.logPath().c_str()), 0);
  OpLog viaLink;  // the link points at a regular file, so logging is on...
  viaLink.log("W", "nao deve aparecer");
  EXPECT_EQ(readFile(target), "intacto");  // ...but the link is never followed
  unlink(tmp.logPath().c_str());

  ASSERT_EQ(mkfifo(tmp.logPath().c_str(), 0600), 0);
  OpLog fifo;
  fifo.log("W", "x");  // neither blocks nor writes
  EXPECT_FALSE(fifo.enabled());
  unlink(tmp.logPath().c_str());
}

TEST(OpLog, TwoProcessesNeverInterleaveWithinALine) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  const int kLines = 300;
  const std::string longDetail(700, 'x');
  pid_t pids[2];
  for (int k = 0; k < 2; ++k) {
    pids[k] = fork();
    ASSERT_GE(pids[k], 0);
    if (pids[k] == 0) {
      OpLog log;
      for (int i = 0; i < kLines; ++i) log.log(k == 0 ? "A" : "B", longDetail);
      _exit(0);
    }
  }
  for (pid_t p : pids) waitpid(p, nullptr, 0);
  std::string text = readFile(tmp.logPath());
  size_t count = 0;
  for (size_t p = 0; p < text.size();) {
    size_t e = text.find("\r\n", p);
    ASSERT_NE(e, std::string::npos);
    std::string msg = text.substr(p + 26, e - p - 26);
    EXPECT_TRUE(msg == "A{" + longDetail + "}" || msg == "B{" + longDetail + "}");
    p = e + 2;
    ++count;
  }
  EXPECT_EQ(count, 2u * kLines);
}

TEST(OpLog, ControlLinesAreWrittenInUtf8OnThisSystem) {
  testsupport::TempDir tmp;
  tmp.enableLog();
  { CTarvionCtrl c; }
  std::string text = readFile(tmp.logPath());
  EXPECT_NE(text.find("CTarvionCtrl::CTarvionCtrl{início}\r\n"), std::string::npos);
  EXPECT_NE(text.find("CTarvionCtrl::CTarvionCtrl{fim}\r\n"), std::string::npos);
  EXPECT_NE(text.find("CTarvionCtrl::~CTarvionCtrl{início}\r\n"), std::string::npos);
  EXPECT_NE(text.find("CTarvionCtrl::~CTarvionCtrl{fim}\r\n"), std::string::npos);
}
