// SPDX-License-Identifier: GPL-2.0-or-later
// A connection gathers packets before it writes them: what it holds when its attempt ends is
// stored, and ranges that another connection splits off or gives back while bytes wait are
// stored from the connection that owns them. Scripted servers send known bytes and stop
// where the case needs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "engine/monitorcommands.h"
#include "platform/fileops.h"
#include "platform/utf8.h"
#include "tests/engine/enginefixture.h"
#include "tests/engine/filedata.h"
#include "tests/support/net/scriptedserver.h"

namespace nsk::test {
namespace {

using namespace std::chrono_literals;
using enum TJobState;

// The start of the range a request asks for (0 without one).
std::size_t RangeStartOf(const std::string& head) {
  const auto at = UpperAscii(head).find("RANGE: BYTES=");
  return at == std::string::npos ? 0 : std::stoul(head.substr(at + 13));
}

// The response head for a file of size bytes from start on.
std::string HeadFrom(std::size_t start, std::size_t size) {
  std::string h = start > 0 ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " +
                                  std::to_string(start) + "-" + std::to_string(size - 1) + "/" +
                                  std::to_string(size) + "\r\n"
                            : std::string("HTTP/1.1 200 OK\r\nAccept-Ranges: bytes\r\n");
  return h + "Content-Length: " + std::to_string(size - start) + "\r\nConnection: close\r\n\r\n";
}

// Serves data from the requested offset. A client that closes early (its block is complete)
// ends the response; that is no failure of the server.
TScript Serve(std::shared_ptr<const std::string> data) {
  return [data](TPeerConnection& c) {
    try {
      const std::size_t start = RangeStartOf(c.ReadHead());
      c.Send(HeadFrom(start, data->size()));
      if (start < data->size()) c.Send(std::string_view(*data).substr(start));
    } catch (const EPeerError&) {
    }
  };
}

// Pauses the script until ready() holds (under the job's lock), 30 s at most.
template <class TReady>
void WaitInScript(TPeerConnection& c, const std::shared_ptr<TJob>& job, TReady ready) {
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  for (;;) {
    {
      auto g = job->Guard();
      if (ready(*job)) return;
    }
    if (std::chrono::steady_clock::now() > deadline) throw EPeerError("the job never got there");
    c.Pause(5ms);
  }
}

class BufferedStoreTest : public TEngineTest {
 protected:
  // A path of its own for every job: a server of a later case may get the same port, and
  // the list refuses a job whose first URL another job has.
  static std::string Url(const TScriptedServer& server, const std::string& name) {
    return "http://127.0.0.1:" + std::to_string(server.Port()) + "/" + name;
  }
  // The starts of the ranged requests the connections logged.
  static std::set<std::size_t> RangeStarts(const std::shared_ptr<TJob>& job) {
    auto g = job->Guard();
    std::set<std::size_t> starts;
    for (const auto& s : job->Skimblers)
      for (const auto& l : s->Log)
        if (l.Text.compare(20, 13, "Range: bytes=") == 0) starts.insert(std::stoul(l.Text.substr(33)));
    return starts;
  }
  // Empty when the job's missing ranges, its counts, its information file and its partial
  // file agree with data: stored + missing = size, and every byte outside the missing ranges
  // is data's. Call while the job does not run.
  static std::string StoredAsListed(const std::shared_ptr<TJob>& job, const std::string& data) {
    std::string why;
    std::vector<TBlockInfo> missing;
    std::int32_t done = 0;
    {
      auto g = job->Guard();
      done = job->DoneBytes;
      std::int64_t gaps = 0, last = 0;
      for (const auto& b : job->Blocks) {
        if (b->StartPos < last || b->EndPos > job->FileSize || b->Length() <= 0)
          why += "block [" + std::to_string(b->StartPos) + "," + std::to_string(b->EndPos) +
                 ") out of order or outside the file; ";
        last = b->EndPos;
        gaps += b->Length();
        missing.push_back(*b);
      }
      if (job->FileSize != static_cast<std::int32_t>(data.size())) why += "wrong size; ";
      if (done + gaps != job->FileSize) why += "stored plus missing is not the size; ";
    }
    // The information file says the same.
    auto reloaded = TJob::Create();
    {
      auto g = job->Guard();
      reloaded->FileName = job->FileName;
    }
    reloaded->FileSize = static_cast<std::int32_t>(data.size());
    if (!reloaded->LoadInfoFile(false)) {
      why += "no information file; ";
    } else {
      reloaded->BuildBlockMap();
      if (reloaded->DoneBytes != done) why += "the information file lists other ranges; ";
    }
    const auto part = ReadWholeFile(reloaded->PartFileName());
    if (!part || part->size() != data.size()) return why + "the partial file has the wrong size";
    std::size_t at = 0, wrong = 0;
    for (const auto& m : missing) {
      for (; at < static_cast<std::size_t>(m.StartPos); ++at) wrong += (*part)[at] != data[at];
      at = static_cast<std::size_t>(m.EndPos);
    }
    for (; at < data.size(); ++at) wrong += (*part)[at] != data[at];
    if (wrong) why += std::to_string(wrong) + " stored bytes differ from the source's";
    return why;
  }
  void ExpectFile(const std::shared_ptr<TJob>& job, const std::string& want) {
    std::string path;
    {
      auto g = job->Guard();
      path = job->FileName;
      EXPECT_EQ(job->DoneBytes, static_cast<std::int32_t>(want.size()));
      EXPECT_TRUE(job->Blocks.empty());
    }
    const auto got = ReadWholeFile(path);
    ASSERT_TRUE(got) << path;
    ASSERT_EQ(got->size(), want.size());
    const auto diff = std::mismatch(got->begin(), got->end(), want.begin());
    EXPECT_TRUE(diff.first == got->end())
        << "the target differs from byte " << (diff.first - got->begin()) << " on";
  }
};

enum class TEnd { ServerCloses, TimeOut, StopRequest };

struct TEndCase {
  const char* Name;
  TEnd End;
  std::size_t Sent;  // body bytes the first response carries before it ends
};

TEST_F(BufferedStoreTest, BytesHeldWhenAnAttemptEndsAreStoredAndTheNextOneGoesOnFromThere) {
  const TEndCase cases[] = {
      {"the server closes early", TEnd::ServerCloses, 150001},
      {"the data time-out", TEnd::TimeOut, 300007},
      {"a stop request", TEnd::StopRequest, 200003},
  };
  StartEngine();
  int seed = 30;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto data = std::make_shared<const std::string>(PatternBytes(1024 * 1024 + 333, ++seed));
    std::atomic<bool> sent{false};
    TScriptedServer server(std::vector<TScript>{
        [&, data](TPeerConnection& p) {
          p.ReadHead();
          p.Send(HeadFrom(0, data->size()));
          p.Send(std::string_view(*data).substr(0, c.Sent));
          sent = true;
          if (c.End != TEnd::ServerCloses) p.Stall();
        },
        Serve(data)});
    const std::string name = "end-" + std::to_string(seed) + ".bin";
    auto job = MakeJob({Url(server, name)}, name, jsQueued);
    if (c.End == TEnd::TimeOut) job->URLs[0].DataTimeout = 1;
    PostAddJob(Monitor(), job);
    std::int32_t storedFirst = 0;
    if (c.End == TEnd::StopRequest) {
      ASSERT_TRUE(view.WaitUntil([&] { return sent.load(); }));
      // The bytes are on the loopback: give the connection a moment to read them.
      std::this_thread::sleep_for(500ms);
      PostStopAll(Monitor(), false);
      ASSERT_TRUE(WaitForState(job, jsStopped));
      EXPECT_EQ(StoredAsListed(job, *data), "");
      {
        auto g = job->Guard();
        EXPECT_EQ(job->DoneBytes, static_cast<std::int32_t>(c.Sent)) << "every byte received is stored";
        storedFirst = job->DoneBytes;
      }
      PostStartAll(Monitor());
    }
    ASSERT_TRUE(WaitForState(job, jsFinished)) << "state " << ToInt(StateOf(job));
    ExpectFile(job, *data);
    EXPECT_TRUE(RangeStarts(job).count(c.Sent)) << "the next request starts after the stored bytes";
    auto g = job->Guard();
    EXPECT_EQ(job->Received, static_cast<std::int32_t>(data->size()) - storedFirst)
        << "nothing was fetched twice";
  }
}

// The first connection holds bytes it has not written when the second splits its block
// (which still starts at 0 in the job's books) and the second finishes the part it took and
// then the parts it splits off next. The first connection's bytes past its block's new end
// then belong to the second connection's ranges: they must be dropped, not written over
// what the second stored. The two responses carry different bytes to tell who wrote what.
TEST_F(BufferedStoreTest, ASplitWhileBytesWaitDropsThoseBeyondTheNewEnd) {
  const std::size_t size = 300 * 1024 + 777;
  const std::size_t firstPart = 140 * 1024;  // held: short of half the block
  auto first = std::make_shared<const std::string>(PatternBytes(size, 41));
  auto second = std::make_shared<const std::string>(PatternBytes(size, 42));
  StartEngine();
  // Made before the server, whose scripts watch it; the URL follows once the port is known.
  auto job = MakeJob({""}, "split.bin", jsQueued);
  std::atomic<std::int32_t> keptEnd{-1}, doneThen{-1};
  TScriptedServer server(std::vector<TScript>{
      [&keptEnd, &doneThen, job, first, size, firstPart](TPeerConnection& p) {
        try {
          p.ReadHead();
          p.Send(HeadFrom(0, size));
          p.Send(std::string_view(*first).substr(0, firstPart));
          // Until only the first connection's block is left, too short to split again.
          WaitInScript(p, job, [](const TJob& j) {
            return j.Blocks.size() == 1 && j.Blocks[0]->Busy &&
                   ChunkOf(j.Blocks[0]->EndPos - 1) - ChunkOf(j.Blocks[0]->StartPos) + 1 < 10;
          });
          {
            auto g = job->Guard();
            keptEnd = job->Blocks[0]->EndPos;
            doneThen = job->DoneBytes;
          }
          p.Send(std::string_view(*first).substr(firstPart));
        } catch (const EPeerError&) {
          // The connection closed once its block was complete.
        }
      },
      Serve(second)});
  job->URLs[0].URL = Url(server, "split.bin");
  job->SkimblerCount = 2;
  PostAddJob(Monitor(), job);
  ASSERT_TRUE(WaitForState(job, jsFinished)) << "state " << ToInt(StateOf(job));
  const std::int32_t kept = keptEnd.load();
  ASSERT_GT(kept, 0);
  ASSERT_LT(static_cast<std::size_t>(kept), firstPart) << "the split fell among the waiting bytes";
  EXPECT_EQ(doneThen.load(), static_cast<std::int32_t>(size) - kept)
      << "the first connection had stored nothing yet";
  std::string want = first->substr(0, static_cast<std::size_t>(kept)) +
                     second->substr(static_cast<std::size_t>(kept));
  ExpectFile(job, want);
  auto g = job->Guard();
  EXPECT_EQ(job->Received, static_cast<std::int32_t>(size)) << "dropped bytes are not counted";
  EXPECT_EQ(list.Counter.TotalReceived(), static_cast<std::int64_t>(size));
}

// The second connection is stopped before it stored anything: its range goes back and the
// first connection's block, which holds bytes not yet written, absorbs it and streams on to
// the file's end.
TEST_F(BufferedStoreTest, ABlockThatAbsorbsAReleasedRangeWhileBytesWaitStreamsOnIntoIt) {
  const std::size_t size = 300 * 1024 + 777;
  const std::size_t firstPart = 140 * 1024;  // held: short of half the block
  auto data = std::make_shared<const std::string>(PatternBytes(size, 43));
  StartEngine();
  auto job = MakeJob({""}, "absorb.bin", jsQueued);
  std::atomic<std::int32_t> doneThen{-1};
  std::atomic<bool> secondWaits{false};
  TScriptedServer server(std::vector<TScript>{
      [&doneThen, job, data, size, firstPart](TPeerConnection& p) {
        p.ReadHead();
        p.Send(HeadFrom(0, size));
        p.Send(std::string_view(*data).substr(0, firstPart));
        // Until the second connection has ended and its range joined the first's block.
        WaitInScript(p, job, [size](const TJob& j) {
          return j.Skimblers.size() == 2 &&
                 j.Skimblers[1]->State == TSkimblerState::ssStopped && j.Blocks.size() == 1 &&
                 j.Blocks[0]->EndPos == static_cast<std::int32_t>(size);
        });
        {
          // Written only by the first connection, which waits for these bytes.
          auto g = job->Guard();
          doneThen = job->DoneBytes;
        }
        p.Send(std::string_view(*data).substr(firstPart));
      },
      [&secondWaits, size](TPeerConnection& p) {
        p.Send(HeadFrom(RangeStartOf(p.ReadHead()), size));
        secondWaits = true;
        p.Stall();
      }});
  job->URLs[0].URL = Url(server, "absorb.bin");
  job->SkimblerCount = 2;
  PostAddJob(Monitor(), job);
  // The second connection holds its range and waits for data.
  ASSERT_TRUE(view.WaitUntil([&] { return secondWaits.load(); }));
  std::shared_ptr<TSkimbler> second;
  {
    auto g = job->Guard();
    ASSERT_EQ(job->Skimblers.size(), 2u);
    second = job->Skimblers[1];
  }
  TTreeSelection one;
  one.Skimblers.push_back(second->Handle());
  PostSelectionChanged(Monitor(), one);
  PostStopSkimbler(Monitor());
  ASSERT_TRUE(WaitForState(job, jsFinished)) << "state " << ToInt(StateOf(job));
  EXPECT_EQ(doneThen.load(), 0) << "the first connection's bytes were still waiting";
  ExpectFile(job, *data);
  auto g = job->Guard();
  EXPECT_EQ(job->Received, static_cast<std::int32_t>(size));
}

}  // namespace
}  // namespace nsk::test
