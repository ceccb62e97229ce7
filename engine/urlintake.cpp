// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/urlintake.h"

#include <algorithm>

#include "engine/textutil.h"
#include "platform/paths.h"

namespace nsk {
namespace {

constexpr std::size_t kURLHistoryLength = 10;

TProxyInfo ProxyAt(const TRegistryInfo& settings, std::int32_t index) {
  if (index >= 0 && static_cast<std::size_t>(index) < settings.Proxies.size())
    return settings.Proxies[static_cast<std::size_t>(index)];
  TProxyInfo direct;
  direct.Title = "Direct Connection";
  return direct;
}

bool IsHttp(const std::string& url) { return !url.empty() && (url[0] == 'h' || url[0] == 'H'); }

}  // namespace

TURLInfo DefaultURLInfo(const TRegistryInfo& settings, const std::string& url,
                        const std::string& referer) {
  TURLInfo info;
  info.URL = url;
  const bool http = IsHttp(url);
  info.Auth = !http;
  info.Proxy = ProxyAt(settings, http ? settings.DefaultHttp : settings.DefaultFtp);
  info.User = settings.User;
  info.Password = settings.Password;
  info.Referer = referer.empty() ? settings.Referer : referer;
  info.UserAgent = settings.UserAgent;
  info.ConnectTimeout = settings.ConnectionTimeout;
  info.DataTimeout = settings.DataTimeout;
  info.ClearRunStatistics();
  info.ResumeState = TResumeState::rsUnknown;
  return info;
}

void RememberURL(TRegistryInfo& settings, const std::string& url) {
  settings.URLHistory.push_back(url);
  while (settings.URLHistory.size() > kURLHistoryLength)
    settings.URLHistory.erase(settings.URLHistory.begin());
}

std::shared_ptr<TJob> BuildURLJob(TRegistryInfo& settings, const std::string& url,
                                  const std::string& comment, const std::string& referer) {
  const std::string name = FileNameFromURL(url);
  if (name.empty()) return nullptr;
  auto job = TJob::Create();
  RememberURL(settings, url);
  job->URLs.push_back(DefaultURLInfo(settings, url, referer));
  job->Name = name;

  std::string folder, category;
  const auto index = settings.CurrentCategory;
  if (index >= 0 && static_cast<std::size_t>(index) < settings.Categories.size()) {
    const TCategoryInfo& c = settings.Categories[static_cast<std::size_t>(index)];
    folder = c.Directory.Str();
    category = c.Description.Str();
  }
  // A category without a folder would put the file into the root folder: use the user's
  // download folder instead.
  if (folder.empty()) folder = UserDownloadFolder();
  job->FileName = WithSlash(folder) + name;
  job->Category = category;
  job->Comment = comment;
  job->AutoSkimblers = settings.AutoSet;
  job->SkimblerCount = std::clamp<std::int32_t>(settings.SkimblerNumber, 1, 20);
  job->Priority = 3;
  job->State = settings.DownNow ? TJobState::jsQueued : TJobState::jsStopped;
  job->AlwaysRetry = settings.AlwaysRetry;
  job->MaxErrors = settings.MaxErrors;
  job->RetryDelay = settings.RetryDelay;
  return job;
}

}  // namespace nsk
