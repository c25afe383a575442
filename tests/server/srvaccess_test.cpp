// The access-list grammar: each entry's kind, allow flag, address and mask.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <string>

#include "server/srvaccess.h"

namespace {

std::string P(const std::string& s) { return std::string(1, char(s.size())) + s; }
ConstPStr U(const std::string& s) { return reinterpret_cast<ConstPStr>(s.data()); }

TEST(AccessEntries, TcpEntriesParseToTheirKindsAddressesAndMasks) {
  struct Case {
    const char* text;
    int32 flags;
    uInt32 address, mask;
  };
  for (const Case& c : {Case{"+*", 2 | kAccessAllowFlag, 0, 0}, {"-10.1.2.3", 3, 0x0A010203, 0xFFFFFFFF},
                        {"+10.1.*", 5 | kAccessAllowFlag, 0x0A010000, 0xFFFF0000}, {"+Host-1.example.COM", 4 | kAccessAllowFlag, 0, 0},
                        {"+*.example.com", 6 | kAccessAllowFlag, 0, 0}, {"+10.1.2", 1, 0, 0}, {"+256.1.1.1", 1, 0, 0},
                        {"+1.2.3.4.5", 1, 0, 0}, {"+*x", 1, 0, 0}, {"+123", 1, 0, 0}, {"+a..b", 1, 0, 0},
                        {"+", 1, 0, 0}, {"x", 1, 0, 0}, {"+1.2.3.4*", 1, 0, 0}}) {
    const std::string t = P(c.text);
    uInt32 address = 7, mask = 7;
    int32 flags = 0;
    EXPECT_EQ(QXSParseTcpEntry(U(t), &address, &mask, &flags), Bool32(c.flags != 1)) << c.text;
    EXPECT_EQ(flags, c.flags) << c.text;
    EXPECT_EQ(address, htonl(c.address)) << c.text;
    EXPECT_EQ(mask, htonl(c.mask)) << c.text;
  }
}

TEST(AccessEntries, ViEntriesAreNamesOrPathsWithOrWithoutWildcards) {
  for (auto [text, flags] : {std::pair{"+*", 2 | kAccessAllowFlag}, {"-Main.vi", 3}, {"+C:\\a\\b.vi", 4 | kAccessAllowFlag},
                             {"+Ma?n.vi", 5 | kAccessAllowFlag}, {"-C:\\a\\*", 6}, {"+", 1}, {"*", 1}}) {
    int32 got = 0;
    const std::string t = P(text);
    EXPECT_EQ(QXSParseViEntry(U(t), &got), Bool32(flags != 1)) << text;
    EXPECT_EQ(got, flags) << text;
  }
}

}  // namespace
