// The two named kernel objects broker and worker share: a manual-reset "ready" event and a small
// shared-memory block holding the worker's latest failure text and, once a share has ended, how
// it ended. Main thread.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "support/outcome.h"
#include "support/unique_resource.h"

namespace quibshare {

// Code units of text the block holds; a zero code unit follows them.
inline constexpr std::size_t ReasonCapacity = 256;
// Behind the reason text, in code units: how the share ended (0 not told, then ShareEnd + 1),
// the target's length, the app name's length, then the target and the app name, each cut to
// OutcomeTextCapacity. A fresh block reads as "not told".
inline constexpr std::size_t OutcomeOffset = ReasonCapacity + 1;
inline constexpr std::size_t OutcomeTextCapacity = 256;

// The shared block as both roles map it. Zero-filled when created; every length in it may come
// from a writer that is not ours, so ReasonBlockView reads none of them unchecked.
struct ReasonBlock {
  wchar_t reason[ReasonCapacity + 1];
  wchar_t end;
  wchar_t targetLength;
  wchar_t appLength;
  wchar_t texts[2 * OutcomeTextCapacity];  // the target, then the app name right behind it
};
inline constexpr DWORD ReasonBlockBytes = sizeof(ReasonBlock);
// The layout is a contract between two processes that may come from different builds.
static_assert(sizeof(wchar_t) == 2);
static_assert(sizeof(ReasonBlock) == 1544);
static_assert(offsetof(ReasonBlock, end) == OutcomeOffset * sizeof(wchar_t));
static_assert(offsetof(ReasonBlock, targetLength) == 516);
static_assert(offsetof(ReasonBlock, appLength) == 518);
static_assert(offsetof(ReasonBlock, texts) == 520);

// A mapped view of the block, typed. Every length read or written is held to its field here.
class ReasonBlockView {
 public:
  // The worker's view, writable; empty when the broker has closed the block.
  static ReasonBlockView OpenForWriting(const std::wstring& eventName);
  // The broker's view of the block it owns, read-only; empty for a null handle.
  static ReasonBlockView MapForReading(HANDLE block);

  explicit operator bool() const noexcept { return static_cast<bool>(view_); }
  // The text up to its zero or to the capacity, whichever comes first.
  std::wstring Reason() const;
  void SetReason(std::wstring_view text);
  // Nothing while the end is not told, or told as an end we do not know.
  std::optional<ShareOutcome> Outcome() const;
  // The end goes in last, so that a record marked as told is whole.
  void SetOutcome(const ShareOutcome& outcome);

 private:
  explicit ReasonBlockView(void* view) : view_(view) {}
  ReasonBlock& Block() const { return *static_cast<ReasonBlock*>(view_.Get()); }

  UniqueView view_;
};

// "Local\QuibPluginUi-" followed by the braced GUID text.
std::wstring MakeHandoffEventName(std::wstring_view guidText);
// The event name followed by "-reason"; the worker derives it, it is never passed.
std::wstring MakeReasonBlockName(std::wstring_view eventName);

// Broker side: both objects are created fresh per run and never checked for prior existence.
UniqueHandle CreateHandoffEvent(const std::wstring& eventName);
UniqueHandle CreateReasonBlock(const std::wstring& eventName);
// Worker side: only the right to set the event.
UniqueHandle OpenHandoffEvent(const std::wstring& eventName);

// The worker's owner window. The broker must not take it for the share UI: the worker shows it
// before it even looks for the share service. No other window of the worker has this class.
inline constexpr wchar_t OwnerWindowClass[] = L"STATIC";
inline constexpr wchar_t OwnerWindowTitle[] = L"QuibShareOwnerWindow";

// Stores the first ReasonCapacity code units of text; false when the block is not there.
bool WriteReason(const std::wstring& eventName, std::wstring_view text);
// The block's text, never reading past ReasonCapacity code units; empty when unreadable.
std::wstring ReadReason(HANDLE block);

// Worker side, once the share has ended: stores how; false when the block is not there (the
// broker has stopped listening).
bool WriteOutcome(const std::wstring& eventName, const ShareOutcome& outcome);
// Broker side, after the worker has ended: what it stored; nothing when it stored nothing.
std::optional<ShareOutcome> ReadOutcome(HANDLE block);

// Stores the text in the reason block, then writes it to standard error.
void ReportWorkerFailure(const std::wstring& eventName, const std::wstring& text);

// The worker's callbacks. `event` and `eventName` must outlive what these return.
std::function<void()> MakeOnReady(HANDLE event);
std::function<void(const std::wstring&)> MakeOnFailure(const std::wstring& eventName);
std::function<void(const ShareOutcome&)> MakeOnOutcome(const std::wstring& eventName);

}  // namespace quibshare
