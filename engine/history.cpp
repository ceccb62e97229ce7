// SPDX-License-Identifier: GPL-2.0-or-later
// The download history: a plain HTML page with one entry per ended run, oldest first.
#include "engine/history.h"

#include <algorithm>

#include "platform/atomicfile.h"
#include "platform/datetime.h"
#include "platform/fileops.h"
#include "platform/utf8.h"

namespace nsk {
namespace {

constexpr char kBodyEnd[] = "</BODY>";

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) {
    out += l;
    out += '\n';
  }
  return out;
}

std::string StatusText(TJobState s) {
  switch (s) {
    case TJobState::jsFinished: return "Finished";
    case TJobState::jsStopped: return "Canceled";
    case TJobState::jsError: return "Error";
    default: return "";
  }
}

bool WritePage(const std::string& folder, const std::vector<std::string>& lines) {
  return WriteFileAtomically(folder + kHistoryFileName, JoinLines(lines));
}

}  // namespace

const std::vector<std::string>& EmptyHistoryPage() {
  static const std::vector<std::string> page = {
      "<html>",
      "<head>",
      "  <title>Download History</title>",
      "</head>",
      "<body>",
      "<b><font color=\"#3333FF\"><font size=+2>Net Skimbler -Download History</font></font></b>",
      "</body>",
      "</html>",
  };
  return page;
}

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

bool AppendHistory(const TJob& job, const std::string& folder) {
  const std::string path = folder + kHistoryFileName;
  std::vector<std::string> lines;
  if (PathExists(path)) {
    const auto text = ReadWholeFile(path);
    if (!text) return false;  // keep a page we cannot read rather than replace it
    lines = SplitLines(*text);
  }
  auto body = std::find_if(lines.begin(), lines.end(),
                           [](const std::string& l) { return UpperAscii(l) == kBodyEnd; });
  if (body == lines.end()) {
    lines = EmptyHistoryPage();
    body = std::find_if(lines.begin(), lines.end(),
                        [](const std::string& l) { return UpperAscii(l) == kBodyEnd; });
  }
  // Texts come from servers and users: escaped, so that the page shows them and runs none.
  std::vector<std::string> entry;
  entry.emplace_back("<p>");
  for (std::size_t i = 0; i < job.URLs.size(); ++i) {
    const std::string url = EscapeHtml(job.URLs[i].URL);
    entry.push_back("<br><b>URL[" + std::to_string(i) + "]:</b><a href=\"" + url + "\">" + url +
                    "</a>");
  }
  entry.push_back("<br><b>Save As:</b>" + EscapeHtml(job.FileName));
  entry.push_back("<br><b>Comment:</b>" + EscapeHtml(job.Comment));
  entry.push_back("<br><b>Size:</b>" + std::to_string(job.FileSize));
  entry.push_back("<br><b>Begin:</b>" + FormatDateTime(job.BeginTime));
  entry.push_back("<br><b>End:</b>" + FormatDateTime(job.EndTime));
  entry.push_back("<br><b>Status:</b><font color=\"#FF0000\">" + StatusText(job.State) +
                  "</font>");
  lines.insert(body, entry.begin(), entry.end());
  return WritePage(folder, lines);
}

bool ClearHistory(const std::string& folder) { return WritePage(folder, EmptyHistoryPage()); }

}  // namespace nsk
