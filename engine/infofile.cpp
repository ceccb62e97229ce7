// SPDX-License-Identifier: GPL-2.0-or-later
// The job information file (FileName + ".ji"): the job's settings and URLs again plus its
// missing ranges, so that a stopped job resumes where it stopped.
#include <algorithm>
#include <string_view>

#include "engine/infofile.h"
#include "engine/jobrecord.h"
#include "platform/atomicfile.h"
#include "platform/fileops.h"

namespace nsk {
namespace {

constexpr mode_t kJobFileMode = 0600;

// Missing ranges as a damaged or foreign file may hold them: cut to the file, empty ones
// dropped, overlapping ones joined (a byte that any range calls missing stays missing).
std::vector<std::shared_ptr<TBlockInfo>> SaneBlocks(std::vector<TBlockInfo> in,
                                                    std::int32_t fileSize) {
  std::vector<TBlockInfo> cut;
  for (auto b : in) {
    b.StartPos = std::max(b.StartPos, 0);
    b.EndPos = std::min(b.EndPos, fileSize);
    if (b.StartPos < b.EndPos) cut.push_back(b);
  }
  std::stable_sort(cut.begin(), cut.end(),
                   [](const auto& a, const auto& b) { return a.StartPos < b.StartPos; });
  std::vector<std::shared_ptr<TBlockInfo>> out;
  for (const auto& b : cut) {
    if (!out.empty() && b.StartPos < out.back()->EndPos) {
      out.back()->EndPos = std::max(out.back()->EndPos, b.EndPos);
      continue;
    }
    out.push_back(std::make_shared<TBlockInfo>(TBlockInfo{b.StartPos, b.EndPos, false}));
  }
  return out;
}

}  // namespace

bool TJob::SaveInfoFile() {
  if (FileSize == 0) return true;
  if (State == TJobState::jsFinished) return RemoveFile(InfoFileName());
  TRecordWriter w;
  WriteHeader(w);
  WriteJobRecord(w, JobRecordOf(*this));
  w.I32(static_cast<std::int32_t>(URLs.size()));
  for (const auto& u : URLs) WriteURLRecord(w, u);
  const auto blocks = std::count_if(Blocks.begin(), Blocks.end(),
                                    [](const auto& b) { return b->Length() > 0; });
  w.I32(static_cast<std::int32_t>(blocks));
  for (const auto& b : Blocks) {
    if (b->Length() <= 0) continue;
    w.I32(b->StartPos);
    w.I32(b->EndPos);
  }
  TAtomicFile file(InfoFileName(), kJobFileMode);
  return file.Write(w.Data()) && file.WriteAt(0, std::string_view("\x01", 1)) && file.Commit();
}

bool TJob::LoadInfoFile(bool withURLs) { return LoadInfoFileFrom(InfoFileName(), withURLs); }

bool TJob::LoadInfoFileFrom(const std::string& path, bool withURLs) {
  if (!withURLs && (State == TJobState::jsFinished || FileSize == 0)) return false;
  // Whatever is wrong with the file, the job forgets its size and starts over.
  const auto fail = [this] {
    Blocks.clear();
    FileSize = 0;
    return false;
  };
  const auto data = ReadWholeFile(path);
  if (!data) return fail();
  try {
    TRecordReader r(*data);
    if (!ReadHeader(r)) return fail();
    const TJobRecord record = ReadJobRecord(r);
    const std::int32_t urlCount = ReadCount(r, kURLRecordSize);
    std::vector<TURLInfo> urls;
    if (withURLs) {
      for (std::int32_t i = 0; i < urlCount; ++i) urls.push_back(ReadURLRecord(r));
    } else {
      r.Skip(static_cast<std::size_t>(urlCount) * kURLRecordSize);
    }
    const std::int32_t blockCount = ReadCount(r, kBlockRecordSize);
    std::vector<TBlockInfo> blocks;
    blocks.reserve(static_cast<std::size_t>(blockCount));
    for (std::int32_t i = 0; i < blockCount; ++i) {
      TBlockInfo b;
      b.StartPos = r.I32();
      b.EndPos = r.I32();
      blocks.push_back(b);
    }
    // Applied only once the whole file was read, so a damaged file changes nothing but the
    // size.
    ApplyJobRecord(record, *this);
    for (auto& u : urls) URLs.push_back(std::move(u));
    Blocks = SaneBlocks(std::move(blocks), FileSize);
    return true;
  } catch (const TBadRecord&) {
    return fail();
  }
}

std::shared_ptr<TJob> ImportJob(const std::string& path) {
  auto job = TJob::Create();
  job->FileName = path.size() >= 3 ? path.substr(0, path.size() - 3) : std::string();
  // The picked file itself is read (its name need not end in ".ji"); the record then
  // replaces FileName with the path stored in it.
  if (!job->LoadInfoFileFrom(path, true) || job->URLs.empty()) return nullptr;
  if (job->FileSize > 0) job->BuildBlockMap();
  return job;
}

}  // namespace nsk
