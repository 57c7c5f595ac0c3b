// How a share ended, as the sheet tells it: written by the handlers on the platform's threads,
// read by the share's own thread.
#pragma once

#include <atomic>
#include <string>

#include "support/outcome.h"

namespace quibshare {

// Shared by the share and every handler, since a handler may still be called after the share
// has returned. No locks: the texts travel by atomic exchange.
class ShareEndState {
 public:
  ShareEndState() = default;
  ShareEndState(const ShareEndState&) = delete;
  ShareEndState& operator=(const ShareEndState&) = delete;

  // The first report of the end wins; `target` is visible before Finished() turns true.
  void Finish(ShareEnd end, std::wstring target) noexcept;
  void ChooseApplication(std::wstring name) noexcept;
  bool Finished() const noexcept { return end_.load() != NotYet; }
  // Ended, unless the sheet reported completion or cancellation; with the target and the app
  // name it gave. Takes the texts: call it once, after the share.
  ShareOutcome TakeOutcome() noexcept;

 private:
  // Owns the latest text put into it; Take hands it over.
  class TextSlot {
   public:
    TextSlot() = default;
    TextSlot(const TextSlot&) = delete;
    TextSlot& operator=(const TextSlot&) = delete;
    ~TextSlot() { delete text_.exchange(nullptr); }
    void Put(std::wstring text) noexcept;
    std::wstring Take() noexcept;

   private:
    std::atomic<std::wstring*> text_{nullptr};
  };

  static constexpr int NotYet = -1;
  std::atomic<bool> claimed_{false};
  std::atomic<int> end_{NotYet};
  TextSlot target_;
  TextSlot app_;
};

}  // namespace quibshare
