// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/headlessview.h"

#include "engine/monitorcommands.h"

namespace nsk::cli {

void THeadlessView::EndTreeUpdate() {
  // Only a filter pass clears the tree; other batches end without a clear.
  if (cleared_.exchange(false))
    TThreadQueue::Post(frontEnd_, static_cast<std::uint32_t>(TFrontMessage::FilterPass));
}

void THeadlessView::AskFileExists(std::string fileName, TThreadId asker) {
  const bool posted =
      TThreadQueue::Post(frontEnd_, static_cast<std::uint32_t>(TFrontMessage::FileExists), 0, 0,
                         MakePayload(TFileExistsQuestion{std::move(fileName), asker}));
  // Nobody left to answer: the job must not wait for ever.
  if (!posted) PostRenameReply(asker, TRenameAnswer::Cancel);
}

void THeadlessPost::Post(TWindowMessage message) {
  TThreadQueue::Post(frontEnd_, static_cast<std::uint32_t>(TFrontMessage::Window), 0, 0,
                     MakePayload(std::move(message)));
}

}  // namespace nsk::cli
