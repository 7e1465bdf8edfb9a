// CEpsonCV2009 through a stand-in of the maker's library, loaded by path with
// the same dynamic-library layer; and the text forms both ways.
#include <gtest/gtest.h>

#include "core/text.h"
#include "drivers/cv2009/CEpsonCV2009.h"
#include "platform/dynamic_library.h"

using namespace tarvion;
using text::cp;

namespace {

struct StandIn {
  platform::DynamicLibrary lib;
  const char* (*calls)() = nullptr;
  void (*reset)() = nullptr;
  void (*setReply)(const char*) = nullptr;
  StandIn() {
    std::string error;
    EXPECT_TRUE(lib.open(TARVION_EPSON_STANDIN, &error)) << error;
    calls = lib.function<const char* (*)()>("StandIn_Calls");
    reset = lib.function<void (*)()>("StandIn_Reset");
    setReply = lib.function<void (*)(const char*)>("StandIn_SetReply");
    EXPECT_TRUE(calls && reset && setReply);
    if (reset) reset();
  }
};

}  // namespace

TEST(Cv2009Epson, AFrameBecomesTheLibrarysCommandText) {
  // 0x0001 with "1|2|abc|": SOH, sequence 5, code 01 00, length 8, text, check.
  const std::string params = "1|2|abc|";
  ByteArray f;
  f.reserve(15);
  for (uint8_t b : {0x01, 0x05, 0x01, 0x00, 0x08, 0x00}) f.push_back(b);
  for (char c : params) f.push_back(static_cast<uint8_t>(c));
  f.push_back(0x00);
  EXPECT_EQ(CEpsonCV2009::CommandText(f),
            "0100"
            "31|32|abc|");
  EXPECT_EQ(CEpsonCV2009::CommandText(ByteArray{0x05, 0x00}), "");
  // The length field bounds the text read, whatever follows.
  ByteArray shortFrame{0x01, 0x01, 0x1A, 0x00, 0x02, 0x00, '9', '|', 'x', 'y'};
  EXPECT_EQ(CEpsonCV2009::CommandText(shortFrame),
            "1A00"
            "39|");
}

TEST(Cv2009Epson, TheReplyTextLosesItsStatusFieldsAndAnEchoOfThePreviousReply) {
  const struct {
    const char* reply;
    const char* previous;
    const char* data;
  } cases[] = {
      {"0000|0000||12|34|", "", "12|34|"},
      {"0000|0000||", "", ""},
      {"0000|0000|0001|9999999999|x|", "", "9999999999|x|"},
      {"0000|0000||5|0000|0000||7|", "0000|0000||5|", "7|"},
      {"0000|0000||7|", "0000|0000||7|", "7|"},
  };
  for (const auto& c : cases) EXPECT_EQ(CEpsonCV2009::ReplyData(c.reply, c.previous), c.data) << c.reply;
}

TEST(Cv2009Epson, OperationsGoThroughTheLibraryAroundAnOpenAndAClose) {
  StandIn s;
  CEpsonCV2009 d(2, TARVION_EPSON_STANDIN);
  ASSERT_TRUE(d.LibraryLoaded());
  d.nPortNumber = 3;
  d.nBaudRate = 9600;
  s.setReply("0000|0000||42|");
  EXPECT_EQ(d.GetOperationCounter(), 42);
  EXPECT_EQ(std::string(s.calls()), "open(9600,3);send(1A0031|31|);close;");
  s.reset();
  EXPECT_TRUE(d.ECFOnline());
  d.nPortNumber = 999;
  s.setReply("0000|0000||");
  EXPECT_TRUE(d.OpenCashDrawer());
  EXPECT_EQ(std::string(s.calls()), "state;open(9600,0);send(0600);close;");
}

TEST(Cv2009Epson, AMissingLibraryOrFunctionFailsWithAMessage) {
  CEpsonCV2009 none(2, "/nonexistent/libInterfaceEpson.so");
  EXPECT_FALSE(none.LibraryLoaded());
  EXPECT_EQ(none.GetOperationCounter(), 0);
  EXPECT_EQ(none.strLastError, cp("Não foi possível encontrar o componente InterfaceEpson.dll."));
  EXPECT_FALSE(none.ECFOnline());
#ifndef _WIN32
  // A library that is there but is not the maker's: every entry is missing.
  CEpsonCV2009 other(2, "libm.so.6");
  ASSERT_TRUE(other.LibraryLoaded());
  EXPECT_FALSE(other.OpenCashDrawer());
  EXPECT_EQ(other.strLastError,
            cp("Não foi possível carregar a função EPSON_Send_From_FileEXX de InterfaceEpson.dll."));
#endif
}
