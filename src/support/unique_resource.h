// Tiny owners for Win32 handles, views and windows; usable on any thread.
#pragma once

#include <windows.h>

#include <utility>

namespace quibshare {

// Owns one resource value and releases it with Close; T{} means "nothing owned".
template <typename T, auto Close>
class UniqueResource {
 public:
  UniqueResource() noexcept = default;
  explicit UniqueResource(T value) noexcept : value_(value) {}
  UniqueResource(UniqueResource&& other) noexcept : value_(other.Detach()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    Reset(other.Detach());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { Reset(); }

  T Get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != T{}; }

  void Reset(T value = T{}) noexcept {
    const T old = std::exchange(value_, value);
    if (old != T{}) Close(old);
  }
  T Detach() noexcept { return std::exchange(value_, T{}); }
  // For out-parameters: releases what is owned and lends the slot.
  T* Put() noexcept {
    Reset();
    return &value_;
  }

 private:
  T value_{};
};

// Kernel objects here (events, mappings, processes, threads) report failure as NULL.
using UniqueHandle = UniqueResource<HANDLE, &::CloseHandle>;
using UniqueView = UniqueResource<void*, &::UnmapViewOfFile>;
using UniqueLocalMemory = UniqueResource<void*, &::LocalFree>;
using UniqueWindow = UniqueResource<HWND, &::DestroyWindow>;

}  // namespace quibshare
