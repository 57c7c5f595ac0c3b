// Handoff event and reason block: names, creation, and the worker-to-broker text. Main thread.
#include "handoff/handoff_channel.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "support/diagnostics.h"

namespace quibshare {

std::wstring MakeHandoffEventName(std::wstring_view guidText) {
  return L"Local\\QuibPluginUi-" + std::wstring(guidText);
}

std::wstring MakeReasonBlockName(std::wstring_view eventName) {
  return std::wstring(eventName) + L"-reason";
}

UniqueHandle CreateHandoffEvent(const std::wstring& eventName) {
  return UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
}

UniqueHandle CreateReasonBlock(const std::wstring& eventName) {
  // Backed by the paging file, which hands it over zero-filled: an unwritten block reads empty.
  return UniqueHandle(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                         ReasonBlockBytes, MakeReasonBlockName(eventName).c_str()));
}

UniqueHandle OpenHandoffEvent(const std::wstring& eventName) {
  return UniqueHandle(OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName.c_str()));
}

namespace {

// The one clamp: a length stored in or read from the block never exceeds its field.
std::size_t Clamped(std::size_t length, std::size_t capacity) { return std::min(length, capacity); }

// The end is the record's commit mark: stored after the rest, read before it.
wchar_t LoadEnd(const ReasonBlock& block) {
  return std::atomic_ref<wchar_t>(const_cast<wchar_t&>(block.end)).load(std::memory_order_acquire);
}

}  // namespace

ReasonBlockView ReasonBlockView::OpenForWriting(const std::wstring& eventName) {
  const UniqueHandle block(
      OpenFileMappingW(FILE_MAP_WRITE, FALSE, MakeReasonBlockName(eventName).c_str()));
  if (!block) return ReasonBlockView(nullptr);
  return ReasonBlockView(MapViewOfFile(block.Get(), FILE_MAP_WRITE, 0, 0, sizeof(ReasonBlock)));
}

ReasonBlockView ReasonBlockView::MapForReading(HANDLE block) {
  if (block == nullptr) return ReasonBlockView(nullptr);
  return ReasonBlockView(MapViewOfFile(block, FILE_MAP_READ, 0, 0, sizeof(ReasonBlock)));
}

std::wstring ReasonBlockView::Reason() const {
  const wchar_t* const text = Block().reason;
  // The writer's terminator may be missing (a full block, or a foreign writer).
  const std::size_t units = std::find(text, text + ReasonCapacity, L'\0') - text;
  return std::wstring(text, units);
}

void ReasonBlockView::SetReason(std::wstring_view text) {
  const std::size_t units = Clamped(text.size(), ReasonCapacity);
  std::memcpy(Block().reason, text.data(), units * sizeof(wchar_t));
  Block().reason[units] = L'\0';
}

std::optional<ShareOutcome> ReasonBlockView::Outcome() const {
  const ReasonBlock& block = Block();
  ShareOutcome outcome;
  switch (LoadEnd(block)) {
    case 1 + static_cast<int>(ShareEnd::Completed): outcome.end = ShareEnd::Completed; break;
    case 1 + static_cast<int>(ShareEnd::Canceled): outcome.end = ShareEnd::Canceled; break;
    case 1 + static_cast<int>(ShareEnd::Ended): outcome.end = ShareEnd::Ended; break;
    default: return std::nullopt;
  }
  const std::size_t targetUnits = Clamped(block.targetLength, OutcomeTextCapacity);
  const std::size_t appUnits = Clamped(block.appLength, OutcomeTextCapacity);
  outcome.target.assign(block.texts, targetUnits);
  outcome.app.assign(block.texts + targetUnits, appUnits);
  return outcome;
}

void ReasonBlockView::SetOutcome(const ShareOutcome& outcome) {
  ReasonBlock& block = Block();
  const std::size_t targetUnits = Clamped(outcome.target.size(), OutcomeTextCapacity);
  const std::size_t appUnits = Clamped(outcome.app.size(), OutcomeTextCapacity);
  std::memcpy(block.texts, outcome.target.data(), targetUnits * sizeof(wchar_t));
  std::memcpy(block.texts + targetUnits, outcome.app.data(), appUnits * sizeof(wchar_t));
  block.targetLength = static_cast<wchar_t>(targetUnits);
  block.appLength = static_cast<wchar_t>(appUnits);
  std::atomic_ref<wchar_t>(block.end).store(static_cast<wchar_t>(static_cast<int>(outcome.end) + 1),
                                            std::memory_order_release);
}

bool WriteReason(const std::wstring& eventName, std::wstring_view text) {
  ReasonBlockView view = ReasonBlockView::OpenForWriting(eventName);
  if (!view) return false;
  view.SetReason(text);
  return true;
}

bool WriteOutcome(const std::wstring& eventName, const ShareOutcome& outcome) {
  ReasonBlockView view = ReasonBlockView::OpenForWriting(eventName);
  if (!view) return false;
  view.SetOutcome(outcome);
  return true;
}

std::optional<ShareOutcome> ReadOutcome(HANDLE block) {
  const ReasonBlockView view = ReasonBlockView::MapForReading(block);
  if (!view) return std::nullopt;
  return view.Outcome();
}

std::wstring ReadReason(HANDLE block) {
  const ReasonBlockView view = ReasonBlockView::MapForReading(block);
  if (!view) return {};
  return view.Reason();
}

void ReportWorkerFailure(const std::wstring& eventName, const std::wstring& text) {
  WriteReason(eventName, text);
  WriteDiagnostic(text, DiagnosticLimit);
}

std::function<void()> MakeOnReady(HANDLE event) {
  return [event] { SetEvent(event); };
}

std::function<void(const std::wstring&)> MakeOnFailure(const std::wstring& eventName) {
  return [&eventName](const std::wstring& text) { ReportWorkerFailure(eventName, text); };
}

std::function<void(const ShareOutcome&)> MakeOnOutcome(const std::wstring& eventName) {
  return [&eventName](const ShareOutcome& outcome) { WriteOutcome(eventName, outcome); };
}

}  // namespace quibshare
