// An owning COM reference; copies AddRef, destruction Releases. Any thread.
#pragma once

#include <unknwn.h>

#include <cstddef>
#include <utility>

namespace quibshare {

template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  ComPtr(const ComPtr& other) noexcept : pointer_(other.pointer_) {
    if (pointer_ != nullptr) pointer_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(pointer_, other.pointer_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  // Shares a reference someone else holds.
  static ComPtr Copy(T* pointer) noexcept {
    ComPtr result;
    result.pointer_ = pointer;
    if (pointer != nullptr) pointer->AddRef();
    return result;
  }
  // Takes over a reference that is already counted.
  static ComPtr Attach(T* pointer) noexcept {
    ComPtr result;
    result.pointer_ = pointer;
    return result;
  }

  T* Get() const noexcept { return pointer_; }
  T* operator->() const noexcept { return pointer_; }
  explicit operator bool() const noexcept { return pointer_ != nullptr; }

  void Reset() noexcept {
    if (T* old = std::exchange(pointer_, nullptr)) old->Release();
  }
  T* Detach() noexcept { return std::exchange(pointer_, nullptr); }
  // For out-parameters: releases what is held and lends the slot.
  T** Put() noexcept {
    Reset();
    return &pointer_;
  }
  void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

  // QueryInterface for U (which names its identifier as U::Iid).
  template <typename U>
  HRESULT As(ComPtr<U>& result) const noexcept {
    return pointer_->QueryInterface(U::Iid, result.PutVoid());
  }

 private:
  T* pointer_ = nullptr;
};

}  // namespace quibshare
