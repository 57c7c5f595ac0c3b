// Simulated platform: a reference-counted COM object answering the interfaces it derives from.
#pragma once

#include <windows.h>
#include <inspectable.h>

#include <atomic>
#include <tuple>
#include <type_traits>

#include "share/winrt_abi.h"

namespace quibshare::sim {

inline constexpr GUID InspectableIid = {0xaf86e2e0, 0xb12d, 0x4c6a, {0x9c, 0x5a, 0xd7, 0xaa, 0x65, 0x10, 0x1e, 0x90}};

// Each interface names its identifier as Iid. Agile objects also answer IAgileObject, as the
// platform's own share objects do.
template <typename... Interfaces>
class SimObject : public Interfaces... {
  using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;

 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object = nullptr;
    if (iid == IID_IUnknown || (iid == InspectableIid && IsInspectable()) ||
        (iid == abi::IAgileObject::Iid && agile_)) {
      *object = static_cast<First*>(this);
    } else {
      ((iid == Interfaces::Iid ? (void)(*object = static_cast<Interfaces*>(this)) : (void)0), ...);
      if (!Answers(iid)) *object = nullptr;
    }
    if (*object == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  // IInspectable, for the interfaces that derive from it.
  virtual HRESULT STDMETHODCALLTYPE GetIids(ULONG* count, IID** iids) {
    *count = 0;
    *iids = nullptr;
    return S_OK;
  }
  virtual HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING* name) {
    *name = nullptr;
    return E_NOTIMPL;
  }
  virtual HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel* level) {
    *level = BaseTrust;
    return S_OK;
  }

 protected:
  explicit SimObject(bool agile = true) : agile_(agile) {}
  virtual ~SimObject() = default;
  // A scenario may make an object refuse one of its interfaces.
  virtual bool Answers(REFIID) const { return true; }

 private:
  static constexpr bool IsInspectable() { return (std::is_base_of_v<IInspectable, Interfaces> || ...); }

  std::atomic<ULONG> references_{1};
  bool agile_;
};

// IActivationFactory with the identifier SimObject looks for.
struct ActivationFactory : IActivationFactory {
  static constexpr GUID Iid = {0x00000035, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
};

}  // namespace quibshare::sim
