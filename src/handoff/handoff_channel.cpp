// Handoff event and reason block: names, creation, and the worker-to-broker text. Main thread.
#include "handoff/handoff_channel.h"

#include <algorithm>
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

// The worker's writable view of the block; empty when the broker has closed it.
UniqueView OpenBlockForWriting(const std::wstring& eventName) {
  const UniqueHandle block(
      OpenFileMappingW(FILE_MAP_WRITE, FALSE, MakeReasonBlockName(eventName).c_str()));
  if (!block) return UniqueView();
  return UniqueView(MapViewOfFile(block.Get(), FILE_MAP_WRITE, 0, 0, 0));
}

}  // namespace

bool WriteReason(const std::wstring& eventName, std::wstring_view text) {
  const UniqueView view = OpenBlockForWriting(eventName);
  if (!view) return false;
  const std::size_t units = std::min(text.size(), ReasonCapacity);
  auto* target = static_cast<wchar_t*>(view.Get());
  std::memcpy(target, text.data(), units * sizeof(wchar_t));
  target[units] = L'\0';
  return true;
}

bool WriteOutcome(const std::wstring& eventName, const ShareOutcome& outcome) {
  const UniqueView view = OpenBlockForWriting(eventName);
  if (!view) return false;
  wchar_t* const record = static_cast<wchar_t*>(view.Get()) + OutcomeOffset;
  const std::size_t targetUnits = std::min(outcome.target.size(), OutcomeTextCapacity);
  const std::size_t appUnits = std::min(outcome.app.size(), OutcomeTextCapacity);
  std::memcpy(record + 3, outcome.target.data(), targetUnits * sizeof(wchar_t));
  std::memcpy(record + 3 + targetUnits, outcome.app.data(), appUnits * sizeof(wchar_t));
  record[1] = static_cast<wchar_t>(targetUnits);
  record[2] = static_cast<wchar_t>(appUnits);
  // Last, so that a record marked as told is whole.
  record[0] = static_cast<wchar_t>(static_cast<int>(outcome.end) + 1);
  return true;
}

std::optional<ShareOutcome> ReadOutcome(HANDLE block) {
  if (block == nullptr) return std::nullopt;
  const UniqueView view(MapViewOfFile(block, FILE_MAP_READ, 0, 0, 0));
  if (!view) return std::nullopt;
  const wchar_t* const record = static_cast<const wchar_t*>(view.Get()) + OutcomeOffset;
  ShareOutcome outcome;
  switch (record[0]) {
    case 1 + static_cast<int>(ShareEnd::Completed): outcome.end = ShareEnd::Completed; break;
    case 1 + static_cast<int>(ShareEnd::Canceled): outcome.end = ShareEnd::Canceled; break;
    case 1 + static_cast<int>(ShareEnd::Ended): outcome.end = ShareEnd::Ended; break;
    default: return std::nullopt;
  }
  // Lengths beyond the capacity come from no writer of ours: never read past the record.
  const std::size_t targetUnits = std::min<std::size_t>(record[1], OutcomeTextCapacity);
  const std::size_t appUnits = std::min<std::size_t>(record[2], OutcomeTextCapacity);
  outcome.target.assign(record + 3, targetUnits);
  outcome.app.assign(record + 3 + targetUnits, appUnits);
  return outcome;
}

std::wstring ReadReason(HANDLE block) {
  if (block == nullptr) return {};
  const UniqueView view(MapViewOfFile(block, FILE_MAP_READ, 0, 0, 0));
  if (!view) return {};
  const auto* text = static_cast<const wchar_t*>(view.Get());
  // The writer's terminator may be missing (a full block, or a foreign writer): stop at the capacity.
  const std::size_t units = std::find(text, text + ReasonCapacity, L'\0') - text;
  return std::wstring(text, units);
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
