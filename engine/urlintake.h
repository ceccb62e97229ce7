// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <memory>
#include <string>

#include "engine/job.h"
#include "settings/registryinfo.h"

namespace nsk {

// The per-URL settings a URL gets when it arrives without the add-URL dialog: login, proxy,
// referer, user agent and time-outs from the settings, run statistics cleared. An http URL
// gets no authentication and the default HTTP proxy, any other URL authentication and the
// default FTP proxy; a missing proxy entry means a direct connection.
TURLInfo DefaultURLInfo(const TRegistryInfo& settings, const std::string& url,
                        const std::string& referer);

// Appends a URL to the recently typed URLs, keeping the ten newest.
void RememberURL(TRegistryInfo& settings, const std::string& url);

// A job for a URL that arrived without a dialog, built from the settings' defaults into the
// current category's folder; null when the URL names no file. The URL joins URLHistory.
std::shared_ptr<TJob> BuildURLJob(TRegistryInfo& settings, const std::string& url,
                                  const std::string& comment, const std::string& referer);

}  // namespace nsk
