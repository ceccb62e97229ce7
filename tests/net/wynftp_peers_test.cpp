// SPDX-License-Identifier: GPL-2.0-or-later
// The FTP client against a real vsftpd on loopback, passive and active.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/wynftp.h"
#include "tests/net/ftptrace.h"
#include "tests/support/net/vsftpd.h"

namespace nsk::test {
namespace {

// SHA-256 (FIPS 180-4) as lower-case hex, to compare megabytes without printing them.
std::string Sha256(std::string_view data) {
  static constexpr std::uint32_t k[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
      0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
      0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
      0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
      0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
      0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
      0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
      0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
      0xc67178f2};
  std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::string m(data);
  const std::uint64_t bits = std::uint64_t(data.size()) * 8;
  m += '\x80';
  while (m.size() % 64 != 56) m += '\0';
  for (int i = 7; i >= 0; --i) m += static_cast<char>(bits >> (i * 8));
  auto rotr = [](std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  for (std::size_t off = 0; off < m.size(); off += 64) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i)
      w[i] = std::uint32_t(std::uint8_t(m[off + 4 * i])) << 24 |
             std::uint32_t(std::uint8_t(m[off + 4 * i + 1])) << 16 |
             std::uint32_t(std::uint8_t(m[off + 4 * i + 2])) << 8 |
             std::uint32_t(std::uint8_t(m[off + 4 * i + 3]));
    for (int i = 16; i < 64; ++i) {
      const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
      const std::uint32_t t1 =
          hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
      const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      hh = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += hh;
  }
  char out[65];
  for (int i = 0; i < 8; ++i) std::snprintf(out + 8 * i, 9, "%08x", h[i]);
  return out;
}

std::string RandomBytes(std::size_t n) {
  std::mt19937_64 random(20240611);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(random());
  return s;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::unique_ptr<TWynFtp> Client(bool passive, const std::string& user, const std::string& password) {
  auto f = std::make_unique<TWynFtp>();
  f->User = user;
  f->Password = password;
  f->Passive = passive;
  f->ConnectTimeOut = 10000;
  f->DataTimeOut = 10000;
  return f;
}

// The command that opens the data connection: "PASV", or "PORT" with the loopback address
// and a port.
void ExpectOpening(const std::string& command, bool passive) {
  if (passive) {
    EXPECT_EQ(command, "PASV");
    return;
  }
  std::smatch m;
  ASSERT_TRUE(std::regex_match(command, m, std::regex(R"(PORT 127,0,0,1,(\d+),(\d+))"))) << command;
  EXPECT_LE(std::stoi(m[1]), 255);
  EXPECT_LE(std::stoi(m[2]), 255);
}

const std::string kContent = RandomBytes(3 * 1024 * 1024 + 12345);

struct TLogin {
  bool userLogin;
  std::string user, password;
};

// Retrievals of one file, from its start and from the middle, on one control connection:
// the first Get logs in and asks for the size, the second skips both.
void RetrieveTwice(const TVsftpd& server, bool passive, const TLogin& login) {
  const std::string path = server.Path("pub/random.bin", login.userLogin);
  const std::int32_t middle = static_cast<std::int32_t>(kContent.size() / 2 + 1);
  auto f = Client(passive, login.user, login.password);
  TFtpTrace t;
  t.Attach(*f);

  f->Get(server.Url("pub/random.bin", login.userLogin), 0);
  EXPECT_EQ(t.data.size(), kContent.size());
  EXPECT_EQ(Sha256(t.data), Sha256(kContent));
  EXPECT_EQ(f->Size(), static_cast<std::int32_t>(kContent.size()));
  EXPECT_TRUE(f->Resume());
  auto commands = t.Commands();
  ASSERT_EQ(commands.size(), 9u);
  EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + 6),
            (std::vector<std::string>{"USER " + login.user, "PASS " + login.password, "REST 100",
                                      "TYPE I", "SIZE " + path, "TYPE I"}));
  ExpectOpening(commands[6], passive);
  EXPECT_EQ(commands[7], "REST 0");
  EXPECT_EQ(commands[8], "RETR " + path);
  EXPECT_EQ(t.Lines(TLogType::ltServer).back().substr(0, 4), "226 ");
  EXPECT_TRUE(t.Errors().empty());
  EXPECT_TRUE(f->Connected());

  t = TFtpTrace();
  t.Attach(*f);
  f->Get(server.Url("pub/random.bin", login.userLogin), middle);
  EXPECT_EQ(t.data.size(), kContent.size() - middle);
  EXPECT_EQ(Sha256(t.data), Sha256(std::string_view(kContent).substr(middle)));
  EXPECT_TRUE(f->Resume());
  commands = t.Commands();
  ASSERT_EQ(commands.size(), 5u);
  EXPECT_EQ(commands[0], "REST 100");
  EXPECT_EQ(commands[1], "TYPE I");
  ExpectOpening(commands[2], passive);
  EXPECT_EQ(commands[3], "REST " + std::to_string(middle));
  EXPECT_EQ(commands[4], "RETR " + path);
  EXPECT_TRUE(t.Errors().empty());

  // The server agrees on what it sent.
  const std::string log = ReadAll(server.LogFile());
  EXPECT_NE(log.find(std::to_string(kContent.size()) + " bytes"), std::string::npos);
  EXPECT_NE(log.find(std::to_string(kContent.size() - middle) + " bytes"), std::string::npos);
}

TEST(WynFtpPeers, AnonymousRetrievalsPassiveAndActive) {
  ASSERT_EQ(Sha256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  TVsftpd server;
  server.AddFile("pub/random.bin", kContent);
  for (const bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    RetrieveTwice(server, passive, {false, "anonymous", "guest@example.org"});
  }
}

TEST(WynFtpPeers, UserRetrievalsPassiveAndActive) {
  TVsftpdOptions options;
  options.UserLogin = true;
  TVsftpd server(options);
  server.AddFile("pub/random.bin", kContent, true);
  for (const bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    RetrieveTwice(server, passive, {true, TVsftpd::kUser, TVsftpd::kPassword});
  }
}

TEST(WynFtpPeers, RefusalsOfARealServer) {
  TVsftpd server;
  struct Case {
    const char* what;
    std::string user, url;
    std::string failure;
    bool errorLogged;
  };
  const Case cases[] = {
      {"a missing file", "anonymous", server.Url("missing.bin"), kTextFtpResponseError, true},
      {"a user the server does not know", "nobody-here", server.Url("missing.bin"),
       kTextFtpConnectError, false},
  };
  for (const auto& c : cases) {
    auto f = Client(true, c.user, "secret@");
    TFtpTrace t;
    t.Attach(*f);
    EXPECT_EQ(FtpFailure([&] { f->Get(c.url, 0); }), c.failure) << c.what;
    EXPECT_EQ(!t.Errors().empty(), c.errorLogged) << c.what;
    EXPECT_EQ(t.data, "") << c.what;
  }
}

}  // namespace
}  // namespace nsk::test
