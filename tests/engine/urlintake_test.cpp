// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/urlintake.h"

#include <gtest/gtest.h>

#include "tests/support/tempdir.h"

namespace nsk {
namespace {

TRegistryInfo SettingsWithTwoProxies() {
  TRegistryInfo s;
  TProxyInfo direct, http, ftp;
  direct.Title = "Direct Connection";
  http.Title = "web";
  http.ProxyType = TProxyType::Http;
  ftp.Title = "gate";
  ftp.ProxyType = TProxyType::FtpOpen;
  s.Proxies = {direct, http, ftp};
  s.DefaultHttp = 1;
  s.DefaultFtp = 2;
  TCategoryInfo c;
  c.Description = "Default";
  c.Directory = "/dl";
  TCategoryInfo music;
  music.Description = "音乐";
  music.Directory = "/music/";
  s.Categories = {c, music};
  s.User = "me";
  s.Password = "secret";
  s.Referer = "http://ref/";
  s.UserAgent = "Agent/2";
  s.ConnectionTimeout = 11;
  s.DataTimeout = 22;
  s.AutoSet = true;
  s.SkimblerNumber = 7;
  s.MaxErrors = 99;
  s.AlwaysRetry = true;
  s.RetryDelay = 9;
  return s;
}

TEST(URLIntake, JobTakesTheDefaultsOfTheSettings) {
  TRegistryInfo s = SettingsWithTwoProxies();
  s.CurrentCategory = 1;
  s.DownNow = true;
  auto job = BuildURLJob(s, "HTTP://h/a/Big.ZIP", "note", "");
  ASSERT_TRUE(job);
  EXPECT_EQ(job->Name, "Big.ZIP");
  EXPECT_EQ(job->FileName, "/music/Big.ZIP");
  EXPECT_EQ(job->Category, "音乐");
  EXPECT_EQ(job->Comment, "note");
  EXPECT_TRUE(job->AutoSkimblers);
  EXPECT_EQ(job->SkimblerCount, 7);
  EXPECT_EQ(job->Priority, 3);
  EXPECT_EQ(job->State, TJobState::jsQueued);
  EXPECT_TRUE(job->AlwaysRetry);
  EXPECT_EQ(job->MaxErrors, 99);
  EXPECT_EQ(job->RetryDelay, 9);
  ASSERT_EQ(job->URLs.size(), 1u);
  const TURLInfo& u = job->URLs[0];
  EXPECT_EQ(u.URL, "HTTP://h/a/Big.ZIP");
  EXPECT_FALSE(u.Auth);
  EXPECT_EQ(u.Proxy.Title.Str(), "web");
  EXPECT_EQ(u.User, "me");
  EXPECT_EQ(u.Password, "secret");
  EXPECT_EQ(u.Referer, "http://ref/");
  EXPECT_EQ(u.UserAgent, "Agent/2");
  EXPECT_EQ(u.ConnectTimeout, 11);
  EXPECT_EQ(u.DataTimeout, 22);
  EXPECT_EQ(u.Speed, -1);
  EXPECT_EQ(u.ResumeState, TResumeState::rsUnknown);
  EXPECT_EQ(s.URLHistory, std::vector<std::string>{"HTTP://h/a/Big.ZIP"});
}

TEST(URLIntake, FtpURLsAuthenticateThroughTheFtpDefault) {
  TRegistryInfo s = SettingsWithTwoProxies();
  s.DownNow = false;
  auto job = BuildURLJob(s, "ftp://h/pub/x.tgz", "", "http://given/");
  ASSERT_TRUE(job);
  EXPECT_EQ(job->FileName, "/dl/x.tgz");
  EXPECT_EQ(job->State, TJobState::jsStopped);
  EXPECT_TRUE(job->URLs[0].Auth);
  EXPECT_EQ(job->URLs[0].Proxy.Title.Str(), "gate");
  EXPECT_EQ(job->URLs[0].Referer, "http://given/");
}

TEST(URLIntake, RefusedURLsMakeNoJobAndLeaveTheHistory) {
  TRegistryInfo s = SettingsWithTwoProxies();
  for (const char* url : {"http://h/", "https://h/a.zip", "mailto:x", "http:///a.zip"})
    EXPECT_EQ(BuildURLJob(s, url, "", ""), nullptr) << url;
  EXPECT_TRUE(s.URLHistory.empty());
}

TEST(URLIntake, HistoryKeepsTheTenNewest) {
  TRegistryInfo s = SettingsWithTwoProxies();
  for (int i = 0; i < 12; ++i) RememberURL(s, "http://h/" + std::to_string(i));
  ASSERT_EQ(s.URLHistory.size(), 10u);
  EXPECT_EQ(s.URLHistory.front(), "http://h/2");
  EXPECT_EQ(s.URLHistory.back(), "http://h/11");
}

TEST(URLIntake, MissingListEntriesFallBackSafely) {
  test::THomeDir home;
  TRegistryInfo s;  // not loaded: no proxies, no categories
  s.DefaultHttp = 5;
  s.SkimblerNumber = 0;
  auto job = BuildURLJob(s, "http://h/f.bin", "", "");
  ASSERT_TRUE(job);
  EXPECT_EQ(job->URLs[0].Proxy.ProxyType, TProxyType::Direct);
  EXPECT_EQ(job->SkimblerCount, 1);
  EXPECT_EQ(job->FileName.substr(job->FileName.size() - 6), "/f.bin");
  EXPECT_NE(job->FileName[0], '\0');
  EXPECT_NE(job->FileName, "/f.bin");
}

}  // namespace
}  // namespace nsk
