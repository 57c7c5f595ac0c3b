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

bool WriteReason(const std::wstring& eventName, std::wstring_view text) {
  const UniqueHandle block(
      OpenFileMappingW(FILE_MAP_WRITE, FALSE, MakeReasonBlockName(eventName).c_str()));
  if (!block) return false;
  const UniqueView view(MapViewOfFile(block.Get(), FILE_MAP_WRITE, 0, 0, 0));
  if (!view) return false;
  const std::size_t units = std::min(text.size(), ReasonCapacity);
  auto* target = static_cast<wchar_t*>(view.Get());
  std::memcpy(target, text.data(), units * sizeof(wchar_t));
  target[units] = L'\0';
  return true;
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

}  // namespace quibshare
