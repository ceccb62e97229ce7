// SPDX-License-Identifier: GPL-2.0-or-later
#include "net/urlparts.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "net/wynhttp.h"

namespace nsk {
namespace {

TEST(StrToInt, TakesWholeDecimalNumbersOnly) {
  struct Case {
    std::string text;
    std::optional<std::int32_t> value;  // nullopt: the conversion error
  };
  const Case cases[] = {
      {"42", 42},         {" 42", 42},          {"+7", 7},           {"-7", -7},
      {"007", 7},         {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1},
      {"2147483648", {}}, {"-2147483649", {}},  {"99999999999999999999", {}},
      {"4 ", {}},         {"", {}},             {" ", {}},           {"-", {}},
      {"x", {}},          {"0x10", {}},         {"1e3", {}},         {"12a", {}},
  };
  for (const auto& c : cases) {
    if (c.value) {
      EXPECT_EQ(StrToInt(c.text), *c.value) << '"' << c.text << '"';
      continue;
    }
    try {
      StrToInt(c.text);
      ADD_FAILURE() << '"' << c.text << "\" converted";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + c.text + "' is not a valid integer value");
    }
  }
}

TEST(ParseURL, SplitsHostPortAndPathAsTheClientsDo) {
  struct Case {
    std::string url;
    std::string host = "before.example";  // Host and Port before the call
    std::int32_t port = 0;
    std::string wantUrl, wantHost;
    std::int32_t wantPort;
    std::string wantPath;
  };
  const std::string longPath = "/" + std::string(300, 'p');
  // "é" is two bytes; the one that would straddle the limit is left out whole.
  const std::string wide = "/" + std::string(254, 'a') + "\xC3\xA9" + "tail";
  const Case cases[] = {
      {"ftp://host/dir/file", "", 0, "ftp://host/dir/file", "host", 21, "/dir/file"},
      {"ftp://host", "", 0, "ftp://host/", "host", 21, "/"},
      {"ftp://host/", "", 0, "ftp://host/", "host", 21, "/"},
      {"ftp://host:2121/f", "", 0, "ftp://host:2121/f", "host", 2121, "/f"},
      // An explicit port of an earlier URL stays in force.
      {"ftp://other/f", "", 2121, "ftp://other/f", "other", 2121, "/f"},
      {"host/dir/f", "", 0, "host/dir/f", "host", 21, "/dir/f"},
      // No host part: Host stays.
      {"/dir/f", "keep.example", 0, "/dir/f", "keep.example", 21, "/dir/f"},
      {"ftp:///f", "keep.example", 0, "ftp:///f", "keep.example", 21, "/f"},
      // Nothing is decoded or taken apart beyond host and port.
      {"ftp://host/a%20b?c#d", "", 0, "ftp://host/a%20b?c#d", "host", 21, "/a%20b?c#d"},
      {"ftp://host" + longPath, "", 0, "ftp://host" + longPath, "host", 21,
       longPath.substr(0, kMaxUrlPath)},
      {"ftp://host" + wide, "", 0, "ftp://host" + wide, "host", 21, wide.substr(0, 255)},
  };
  for (const auto& c : cases) {
    std::string url = c.url, host = c.host, path = "stale";
    std::int32_t port = c.port;
    ParseURL(url, host, port, path, 21);
    EXPECT_EQ(url, c.wantUrl) << c.url;
    EXPECT_EQ(host, c.wantHost) << c.url;
    EXPECT_EQ(port, c.wantPort) << c.url;
    EXPECT_EQ(path, c.wantPath) << c.url;
  }
}

TEST(ParseURL, APortThatIsNoPortRaisesTheConversionError) {
  struct Case {
    std::string url, message;
  };
  const Case cases[] = {
      {"ftp://host:abc/f", "'abc' is not a valid integer value"},
      {"ftp://host:/f", "'' is not a valid integer value"},
      {"ftp://host:21 /f", "'21 ' is not a valid integer value"},
      {"ftp://host:70000/f", "'70000' is not a valid port number"},
      {"ftp://host:-1/f", "'-1' is not a valid port number"},
  };
  for (const auto& c : cases) {
    std::string url = c.url, host = "before", path;
    std::int32_t port = 0;
    try {
      ParseURL(url, host, port, path, 21);
      ADD_FAILURE() << c.url << " parsed";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), c.message) << c.url;
    }
    EXPECT_EQ(host, "before") << c.url;  // nothing taken from a URL that failed
  }
}

}  // namespace
}  // namespace nsk
