// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/bytecounter.h"
#include "engine/handle.h"
#include "engine/partfile.h"
#include "engine/skimbler.h"
#include "engine/states.h"
#include "engine/threadlinks.h"
#include "platform/datetime.h"
#include "settings/proxyinfo.h"

namespace nsk {

// One source URL of a job with its settings and its statistics of the current run.
struct TURLInfo {
  std::string URL;
  bool Auth = false;
  std::string User;
  std::string Password;
  std::int32_t Speed = -1;   // smoothed bytes per second of one connection; -1 = not measured
  std::uint8_t Users = 0;    // connections using the URL right now
  bool Failed = false;       // given up for this run
  std::int32_t Uses = 0;     // times a connection took this URL in this run
  TProxyInfo Proxy;
  std::string Referer;
  std::string UserAgent;
  std::int32_t ConnectTimeout = 0;  // seconds; 0 = no limit
  std::int32_t DataTimeout = 0;     // seconds; 0 = no limit
  TResumeState ResumeState = TResumeState::rsUnknown;

  // Speed -1, Users 0, Failed false, Uses 0: the state of a new or loaded record.
  void ClearRunStatistics();
};

// One missing byte range [StartPos, EndPos) of the file.
struct TBlockInfo {
  std::int32_t StartPos = 0;
  std::int32_t EndPos = 0;
  bool Busy = false;

  std::int32_t Length() const { return EndPos - StartPos; }
};

// What a connection is to do in the attempt it starts (see TJob::BeginAttempt).
enum class TAttemptKind {
  NoWork,     // nothing to do: the connection ends
  LearnSize,  // no block: fetch from byte 0 to learn the size
  Restart,    // no mirror resumes: the whole file is one new busy block, fetch from byte 0
  Block,      // a block was taken: fetch from its StartPos
};

struct TAttempt {
  TAttemptKind Kind = TAttemptKind::NoWork;
  std::int32_t URLIndex = -1;
  std::int32_t StartPos = 0;  // where the request starts

  bool GoesAhead() const { return Kind != TAttemptKind::NoWork; }
};

// What CommitData did with a packet.
struct TCommitResult {
  enum class TOutcome {
    Stored,       // the bytes were stored; the block continues at its new StartPos
    BlockDone,    // the bytes completed the block: it was removed, the connection has no
                  // block any more and should end its transfer
    WriteFailed,  // no partial file or the write failed: log "写文件错误" as ltError and end
                  // the transfer; only Received has grown
    NoBlock,      // the connection has no block (or it is no longer one of the job's): nothing
                  // was stored
  };
  TOutcome Outcome = TOutcome::NoBlock;
  std::int32_t Bytes = 0;     // bytes taken from the packet (cut at the block's end)
  std::int32_t MarkFrom = 0;  // chunks [MarkFrom, MarkTo) of the map became 1
  std::int32_t MarkTo = 0;

  bool Stored() const { return Outcome == TOutcome::Stored || Outcome == TOutcome::BlockDone; }
};

// A job: one remote file, its mirrors, its missing ranges, block map and connections. Every
// field except Handle() is guarded by Lock; callers that also hold the job list's lock take
// that one first, and nobody holds two job locks at once.
class TJob final {
  struct TPassKey {};

 public:
  // A new job (state jsStopped) owned by the caller until it is handed to the job list.
  static std::shared_ptr<TJob> Create();
  explicit TJob(TPassKey);
  TJob(const TJob&) = delete;
  TJob& operator=(const TJob&) = delete;

  // The job's lock: re-entrant, like the critical section it stands for.
  mutable std::recursive_mutex Lock;
  void Enter() const { Lock.lock(); }
  void Leave() const { Lock.unlock(); }
  [[nodiscard]] std::unique_lock<std::recursive_mutex> Guard() const {
    return std::unique_lock(Lock);
  }

  const JobHandle& Handle() const { return handle_; }

  std::int32_t Received = 0;        // bytes received since the last start
  std::int32_t ReceivedAtTick = 0;  // Received at the previous one-second tick
  std::vector<TURLInfo> URLs;       // in rank order
  std::string FileName;             // full path of the target file
  std::string Category;
  std::string Name;                 // file-name part of FileName
  std::int32_t FileSize = 0;        // 0 = unknown
  TDateTime FileDate = kNoDate;
  std::uint8_t Percent = 0;
  std::int32_t DoneBytes = 0;       // bytes already stored in the partial file
  std::int32_t CurrentSpeed = 0;
  std::int32_t AverageSpeed = 0;
  TDateTime Elapsed = 0;
  TDateTime Remaining = 0;
  bool AutoSkimblers = false;
  std::int32_t SkimblerCount = 3;   // 1..20
  std::int32_t Errors = 0;
  std::string Comment;
  TResumeState ResumeState = TResumeState::rsUnknown;
  TJobState State = TJobState::jsStopped;
  bool TreeNode = false;            // the view shows a node for this job
  std::shared_ptr<TJobThreadLink> Thread;  // the job thread while the job runs
  TDateTime BeginTime = kNoDate;
  TDateTime EndTime = kNoDate;
  std::vector<std::uint8_t> BlockMap;  // one byte per chunk: 1 stored, 0 missing
  bool AlwaysRetry = false;
  std::int32_t MaxErrors = 10;
  std::uint8_t RetryDelay = 5;      // seconds
  std::uint8_t Priority = 3;        // 0 = never started by the queue, 1..5
  std::int32_t StartCount = 0;
  std::vector<std::shared_ptr<TSkimbler>> Skimblers;   // owned
  std::vector<std::shared_ptr<TBlockInfo>> Blocks;     // owned, sorted by StartPos
  TPartFile PartFile;
  bool Probing = false;
  bool AllStarted = false;

  std::string PartFileName() const { return FileName + ".wyn"; }
  std::string InfoFileName() const { return FileName + ".ji"; }
  // The first URL's text, empty when the job has none.
  std::string FirstURL() const;

  // --- partial file and progress ---
  bool OpenPartFile();
  void AddReceived(std::int32_t n);
  // Once a second, after Elapsed was set to now - BeginTime.
  void UpdateRates();
  // Rebuilds BlockMap, DoneBytes and Percent from Blocks (after loading).
  void BuildBlockMap();
  // Percent := DoneBytes / FileSize in whole percent (0 while the size is unknown).
  void UpdatePercent();

  // --- blocks ---
  // Blocks := one busy block over the whole file; BlockMap := all zero. Returns that block.
  std::shared_ptr<TBlockInfo> ResetBlocks();
  std::shared_ptr<TBlockInfo> PickBlock() const;
  std::shared_ptr<TBlockInfo> NextBlock();
  // Cuts b (one of Blocks) into up to n parts of at least 5 chunks; returns the parts made.
  std::int32_t SplitBlock(TBlockInfo& b, std::int32_t n);
  void MergeBlocks();
  void SortBlocks();
  void ClearBlocks() { Blocks.clear(); }
  // Stores n bytes that arrived for the connection's block; the byte counter (if given)
  // grows by what was stored.
  TCommitResult CommitData(TSkimbler& s, const char* data, std::int32_t n,
                           TByteCounter* counter);

  // --- mirrors ---
  std::int32_t ChooseURL() const;
  bool UsesHttp(std::int32_t index) const;
  TResumeState UpdateResumeState();
  bool AnyURLInUse() const;
  bool AllURLsFailed() const;
  void RankURLs();
  // Marks URL index failed when exactly one connection uses it, then UpdateResumeState.
  void MarkURLFailed(std::int32_t index);

  // --- a connection takes and returns work ---
  // Chooses a mirror and a range for s; sets s.URLIndex and s.Block. When the attempt goes
  // ahead the URL's Users and Uses grow by one.
  TAttempt BeginAttempt(TSkimbler& s);
  // The attempt of s ended: the URL's Users shrinks, s.URLIndex := -1, its block (if any)
  // is released and merged, s.State := ssIdle. Returns the released block's StartPos.
  std::optional<std::int32_t> EndAttempt(TSkimbler& s);

  // --- run bookkeeping ---
  void ResetForStart(TDateTime now = Now());

  // --- connections ---
  void AddSkimbler(std::shared_ptr<TSkimbler> s) { Skimblers.push_back(std::move(s)); }
  std::shared_ptr<TSkimbler> FindSkimbler(const SkimblerHandle& h) const;
  // Takes the record out of Skimblers; the caller frees it by dropping the pointer.
  std::shared_ptr<TSkimbler> RemoveSkimbler(const SkimblerHandle& h);

  // --- job information file (FileName + ".ji") ---
  // Nothing when FileSize is 0; deletes the file of a finished job; otherwise writes it.
  // False when the write failed (the previous file then stays as it was).
  bool SaveInfoFile();
  // Reads the information file; see infofile.cpp for the rules.
  bool LoadInfoFile(bool withURLs);
  bool LoadInfoFileFrom(const std::string& path, bool withURLs);

 private:
  JobHandle handle_;
};

}  // namespace nsk
