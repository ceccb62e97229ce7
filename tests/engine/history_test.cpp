// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "engine/history.h"
#include "platform/fileops.h"
#include "tests/support/tempdir.h"

namespace nsk {
namespace {

const std::vector<std::string> kTemplate = {
    "<html>",
    "<head>",
    "  <title>Download History</title>",
    "</head>",
    "<body>",
    "<b><font color=\"#3333FF\"><font size=+2>Net Skimbler -Download History</font></font></b>",
    "</body>",
    "</html>",
};

std::vector<std::string> PageLines(const test::TTempDir& dir) {
  const auto text = ReadWholeFile(dir.File("history.htm"));
  EXPECT_TRUE(text);
  std::vector<std::string> lines;
  std::string line;
  for (char c : text.value_or("")) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  EXPECT_TRUE(line.empty()) << "the page ends with a line break";
  return lines;
}

std::shared_ptr<TJob> EndedJob(std::vector<std::string> urls, TJobState state) {
  auto job = TJob::Create();
  for (auto& u : urls) {
    TURLInfo info;
    info.URL = std::move(u);
    job->URLs.push_back(std::move(info));
  }
  job->FileName = "/home/u/Downloads/a.zip";
  job->Comment = "nightly";
  job->FileSize = 123456;
  TDateTime day = 0;
  EXPECT_TRUE(TryEncodeDate(2024, 5, 17, day));
  job->BeginTime = day + (8 * 3600 + 30 * 60) / 86400.0;
  job->EndTime = day + (9 * 3600 + 1) / 86400.0;
  job->State = state;
  return job;
}

std::vector<std::string> Entry(const TJob& job, const std::string& status) {
  std::vector<std::string> e{"<p>"};
  for (std::size_t i = 0; i < job.URLs.size(); ++i)
    e.push_back("<br><b>URL[" + std::to_string(i) + "]:</b><a href=\"" + job.URLs[i].URL + "\">" +
                job.URLs[i].URL + "</a>");
  e.push_back("<br><b>Save As:</b>" + job.FileName);
  e.push_back("<br><b>Comment:</b>" + job.Comment);
  e.push_back("<br><b>Size:</b>123456");
  e.push_back("<br><b>Begin:</b>2024-05-17 08:30:00");
  e.push_back("<br><b>End:</b>2024-05-17 09:00:01");
  e.push_back("<br><b>Status:</b><font color=\"#FF0000\">" + status + "</font>");
  return e;
}

std::vector<std::string> PageWith(const std::vector<std::vector<std::string>>& entries) {
  std::vector<std::string> page(kTemplate.begin(), kTemplate.begin() + 6);
  for (const auto& e : entries) page.insert(page.end(), e.begin(), e.end());
  page.push_back("</body>");
  page.push_back("</html>");
  return page;
}

TEST(History, AMissingPageIsCreatedWithTheFirstEntry) {
  test::TTempDir dir;
  auto job = EndedJob({"http://127.0.0.1/a.zip"}, TJobState::jsFinished);
  ASSERT_TRUE(AppendHistory(*job, dir.Path()));
  EXPECT_EQ(PageLines(dir), PageWith({Entry(*job, "Finished")}));
  EXPECT_EQ(EmptyHistoryPage(), kTemplate);
}

TEST(History, EntriesFollowInTheOrderTheRunsEnded) {
  struct Case {
    TJobState state;
    const char* status;
  };
  const Case cases[] = {
      {TJobState::jsFinished, "Finished"},
      {TJobState::jsStopped, "Canceled"},
      {TJobState::jsError, "Error"},
  };
  test::TTempDir dir;
  std::vector<std::vector<std::string>> entries;
  for (const auto& c : cases) {
    auto job = EndedJob({"http://127.0.0.1/1", "ftp://127.0.0.1/2", "http://127.0.0.2/3"}, c.state);
    ASSERT_TRUE(AppendHistory(*job, dir.Path()));
    entries.push_back(Entry(*job, c.status));
  }
  const auto lines = PageLines(dir);
  EXPECT_EQ(lines, PageWith(entries));
  EXPECT_EQ(lines[7], "<br><b>URL[0]:</b><a href=\"http://127.0.0.1/1\">http://127.0.0.1/1</a>");
  EXPECT_EQ(lines[9], "<br><b>URL[2]:</b><a href=\"http://127.0.0.2/3\">http://127.0.0.2/3</a>");
}

TEST(History, ClearingLeavesTheEmptyPageForTheNextEntry) {
  test::TTempDir dir;
  auto job = EndedJob({"http://127.0.0.1/a"}, TJobState::jsStopped);
  ASSERT_TRUE(AppendHistory(*job, dir.Path()));
  ASSERT_TRUE(AppendHistory(*job, dir.Path()));
  ASSERT_TRUE(ClearHistory(dir.Path()));
  EXPECT_EQ(PageLines(dir), kTemplate);
  ASSERT_TRUE(AppendHistory(*job, dir.Path()));
  const auto lines = PageLines(dir);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "<p>"), 1);
  EXPECT_EQ(lines, PageWith({Entry(*job, "Canceled")}));
}

TEST(History, APageWithoutABodyEndIsReplaced) {
  struct Case {
    const char* what;
    std::string page;
    std::vector<std::string> keptBefore;  // lines kept in front of the new entry
    std::vector<std::string> keptAfter;
  };
  const Case cases[] = {
      {"no body end", "<html>\nold entry\n</html>\n", {}, {}},
      {"a body end inside a line is no body end", "<p>x</body>\n", {}, {}},
      {"an empty file", "", {}, {}},
      {"upper case body end, CR LF lines", "<HTML>\r\nold\r\n</BODY>\r\nafter\r\n</BODY>\r\n",
       {"<HTML>", "old"}, {"</BODY>", "after", "</BODY>"}},
  };
  for (const auto& c : cases) {
    test::TTempDir dir;
    std::ofstream(dir.File("history.htm"), std::ios::binary) << c.page;
    auto job = EndedJob({"http://127.0.0.1/a"}, TJobState::jsError);
    ASSERT_TRUE(AppendHistory(*job, dir.Path())) << c.what;
    std::vector<std::string> expected;
    if (c.keptBefore.empty() && c.keptAfter.empty()) {
      expected = PageWith({Entry(*job, "Error")});
    } else {
      expected = c.keptBefore;
      const auto e = Entry(*job, "Error");
      expected.insert(expected.end(), e.begin(), e.end());
      expected.insert(expected.end(), c.keptAfter.begin(), c.keptAfter.end());
    }
    EXPECT_EQ(PageLines(dir), expected) << c.what;
  }
}

TEST(History, InsertedTextsAreEscaped) {
  test::TTempDir dir;
  auto job = EndedJob({"http://127.0.0.1/a?x=1&y=\"2\"<script>"}, TJobState::jsFinished);
  job->Comment = "<b>big</b> & \"quoted\"";
  job->FileName = "/tmp/<a>&b.zip";
  ASSERT_TRUE(AppendHistory(*job, dir.Path()));
  const auto lines = PageLines(dir);
  const std::string url = "http://127.0.0.1/a?x=1&amp;y=&quot;2&quot;&lt;script&gt;";
  EXPECT_EQ(lines[7], "<br><b>URL[0]:</b><a href=\"" + url + "\">" + url + "</a>");
  EXPECT_EQ(lines[8], "<br><b>Save As:</b>/tmp/&lt;a&gt;&amp;b.zip");
  EXPECT_EQ(lines[9], "<br><b>Comment:</b>&lt;b&gt;big&lt;/b&gt; &amp; &quot;quoted&quot;");
  EXPECT_EQ(EscapeHtml("中文 plain"), "中文 plain");
}

TEST(History, AnUnreadablePageIsLeftAlone) {
  test::TTempDir dir;
  // A folder where the page should be: it cannot be read, and it is not replaced.
  ASSERT_TRUE(MakeFolders(dir.File("history.htm")));
  auto job = EndedJob({"http://127.0.0.1/a"}, TJobState::jsFinished);
  EXPECT_FALSE(AppendHistory(*job, dir.Path()));
  EXPECT_TRUE(IsDirectory(dir.File("history.htm")));
}

}  // namespace
}  // namespace nsk
