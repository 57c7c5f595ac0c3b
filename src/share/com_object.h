// Base of the COM objects we hand to the platform (event handlers, the storage item list):
// reference counting, QueryInterface over the listed interfaces, and agility, that is
// IAgileObject plus the free-threaded marshaler, so the platform may call them on any thread.
#pragma once

#include <windows.h>
#include <inspectable.h>

#include <atomic>
#include <tuple>
#include <type_traits>

#include "share/winrt_abi.h"

namespace quibshare {

inline constexpr GUID InspectableIid = {0xaf86e2e0, 0xb12d, 0x4c6a, {0x9c, 0x5a, 0xd7, 0xaa, 0x65, 0x10, 0x1e, 0x90}};
inline constexpr GUID MarshalIid = {0x00000003, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace detail {

// The interfaces of a ComObject, plus IInspectable's methods when one of them derives from
// IInspectable (and so has them to override).
template <bool Inspectable, typename... Interfaces>
class ComInterfaces : public Interfaces... {};

template <typename... Interfaces>
class ComInterfaces<true, Interfaces...> : public Interfaces... {
 public:
  HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) noexcept override {
    *count = 0;
    *iids = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) noexcept override {
    *name = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) noexcept override {
    *level = BaseTrust;
    return S_OK;
  }
};

}  // namespace detail

// Each interface in `Interfaces` names its identifier as Iid. Objects start with one reference,
// owned by whoever created them (take it with ComPtr::Attach).
template <typename... Interfaces>
class ComObject
    : public detail::ComInterfaces<(std::is_base_of_v<IInspectable, Interfaces> || ...), Interfaces...> {
  using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;

 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
    *object = nullptr;
    if (iid == MarshalIid) return QueryMarshaler(object);
    if (iid == IID_IUnknown || iid == abi::IAgileObject::Iid ||
        (iid == InspectableIid && (std::is_base_of_v<IInspectable, Interfaces> || ...))) {
      *object = static_cast<First*>(this);
    } else {
      ((iid == Interfaces::Iid ? (void)(*object = static_cast<Interfaces*>(this)) : (void)0), ...);
    }
    if (*object == nullptr || !Answers(iid)) {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() {
    if (IUnknown* marshaler = marshaler_.load()) marshaler->Release();
  }
  // Lets a derived object refuse one of its interfaces.
  virtual bool Answers(REFIID) const noexcept { return true; }

 private:
  // Created on first demand; the marshaler is aggregated, so its IUnknown is ours.
  HRESULT QueryMarshaler(void** object) noexcept {
    IUnknown* marshaler = marshaler_.load();
    if (marshaler == nullptr) {
      IUnknown* created = nullptr;
      const HRESULT result = CoCreateFreeThreadedMarshaler(static_cast<First*>(this), &created);
      if (FAILED(result)) return result;
      if (marshaler_.compare_exchange_strong(marshaler, created)) {
        marshaler = created;
      } else {
        created->Release();
      }
    }
    return marshaler->QueryInterface(MarshalIid, object);
  }

  std::atomic<ULONG> references_{1};
  std::atomic<IUnknown*> marshaler_{nullptr};
};

}  // namespace quibshare
