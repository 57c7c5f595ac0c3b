// How a share ended. Written on the platform's threads, read on the share's own.
#include "share/share_end_state.h"

#include <memory>

namespace quibshare {

void ShareEndState::TextSlot::Put(std::wstring text) noexcept {
  std::wstring* owned = nullptr;
  try {
    owned = new std::wstring(std::move(text));
  } catch (...) {
    return;  // out of memory: the text stays unknown
  }
  delete text_.exchange(owned);
}

std::wstring ShareEndState::TextSlot::Take() noexcept {
  const std::unique_ptr<std::wstring> owned(text_.exchange(nullptr));
  return owned ? std::move(*owned) : std::wstring();
}

void ShareEndState::Finish(ShareEnd end, std::wstring target) noexcept {
  if (claimed_.exchange(true)) return;
  target_.Put(std::move(target));
  end_.store(static_cast<int>(end));
}

void ShareEndState::ChooseApplication(std::wstring name) noexcept { app_.Put(std::move(name)); }

ShareOutcome ShareEndState::TakeOutcome() noexcept {
  ShareOutcome outcome;
  const int end = end_.load();
  if (end != NotYet) outcome.end = static_cast<ShareEnd>(end);
  outcome.target = target_.Take();
  outcome.app = app_.Take();
  return outcome;
}

}  // namespace quibshare
