// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "engine/enginecontext.h"
#include "engine/job.h"
#include "engine/threadlinks.h"
#include "engine/writebuffer.h"
#include "net/logtype.h"
#include "platform/datetime.h"
#include "platform/eventloop.h"

namespace nsk {

class TJobThread;
class TWynSock;
class TWynHttp;
class TWynFtp;

// Log texts of the connection worker.
inline constexpr char kTextNoTask[] = "没有任务";                  // no task
inline constexpr char kTextMaxErrors[] = "到达最大错误数";           // maximum errors reached
inline constexpr char kTextReceiving[] = "正在接收数据...";          // receiving data
inline constexpr char kTextWriteError[] = "写文件错误";              // write file error
inline constexpr char kTextBadRedirect[] = "重定向URL无效";          // invalid redirect URL
inline constexpr char kTextNoRange[] = "不能从这里下载";             // cannot download from here
inline constexpr char kTextSizeUnknown[] = "文件大小未知";           // file size not given
inline constexpr char kTextSizeInvalid[] = "文件大小无效";           // invalid file size
inline constexpr char kTextCreateFileError[] = "生成文件错误";       // error creating the file
inline constexpr char kTextBadProxyPort[] = "代理服务器端口无效";     // invalid proxy port
inline constexpr char kTextBadPort[] = "端口号无效";                 // invalid port number

// The thread of one connection of a running job. It works in actions: each takes a mirror
// and, once the size is known, a range of the job, fetches it with a fresh HTTP or FTP client
// into the partial file, gives the range back and pauses before the next action. It ends on
// its own when there is no work left, when the job reached its error limit, or when it was
// asked to stop; its last act is the end report to its job thread, which then joins it.
class TSkimblerThread final : public TSkimblerThreadLink {
 public:
  // The worker of connection s (a record of job); started by Start.
  TSkimblerThread(TEngineContext& context, std::shared_ptr<TJob> job,
                  std::shared_ptr<TSkimbler> s, TJobThread& owner);
  ~TSkimblerThread() override;
  TSkimblerThread(const TSkimblerThread&) = delete;
  TSkimblerThread& operator=(const TSkimblerThread&) = delete;

  // Starts the thread; returns once it can be woken. Raises std::system_error when no thread
  // can be made.
  void Start();
  // Any thread: ask the worker to stop; it wakes the worker's waits at once.
  void RequestStop() override;
  void Join();
  // Identifies the worker in its end report; unique in the process.
  std::uint64_t Id() const { return id_; }

 private:
  void Run();
  void Execute(TEventLoop& loop);
  void StartAction();
  bool PickWork();
  bool ConfigureClient();
  template <class TClient>
  void AttachHandlers(TClient& client);
  void RunAttempt();
  void EndAttempt();
  bool ShouldStop();
  bool RetryWait(TEventLoop& loop);
  void Finish();
  void AddLog(std::string_view text, TLogType level);
  void SetState(TSkimblerState state);

  void DoIdle();
  void DoPacket(TWynSock& sender, std::int32_t byteCount);
  // Stores the first n buffered bytes with the job's bookkeeping; locks taken inside.
  void StoreBuffered(std::size_t n);
  // Stores everything still buffered.
  void StoreAll();
  void UpdateSpeed();  // job lock held
  void DoResumeState();
  void DoFileSize();
  void DoFileDate();
  void DoError();
  void DoRedirect();

  bool StopRequested() const { return stopRequest_.load(std::memory_order_acquire); }
  bool JobFocused() const;  // list lock held
  TCellValue PositionValue() const;  // list lock held
  void AbortClient();

  TEngineContext& context_;
  const std::shared_ptr<TJob> job_;
  const std::shared_ptr<TSkimbler> skimbler_;
  TJobThread& owner_;
  const std::uint64_t id_;

  std::atomic<bool> stopRequest_{false};
  std::mutex wakeLock_;  // leaf: guards waker_
  TLoopWaker waker_;

  // The settings as they were when the current action began.
  std::shared_ptr<const TRegistryInfo> settings_;
  std::unique_ptr<TWynSock> client_;
  TWynHttp* http_ = nullptr;  // client_ as the client it is
  TWynFtp* ftp_ = nullptr;
  std::string LogLine;  // the last log line and its kind
  TLogType LogLevel = TLogType::ltState;
  std::int32_t ActionCount = 0;
  std::int64_t ActionBytes = 0;
  std::chrono::steady_clock::time_point ActionStart{};
  std::int64_t UnsavedBytes = 0;
  // Packets received for the block and not stored yet, and the block's remaining length as
  // last seen under the job lock (0: no block known).
  TWriteBuffer pending_;
  std::int64_t blockLeft_ = 0;
  bool abortLogged_ = false;

  std::thread thread_;
};

}  // namespace nsk
