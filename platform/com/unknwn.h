// The base interfaces of component objects: IUnknown and IClassFactory, their IDs, a small owning
// pointer and a reference-counting base. An interface is an abstract class whose `iid` names it.
#pragma once

#include <atomic>
#include <tuple>
#include <utility>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown{
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {00000001-0000-0000-C000-000000000046}
inline constexpr IID IID_IClassFactory{
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
  static constexpr const IID& iid = IID_IUnknown;
  virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

struct IClassFactory : IUnknown {
  static constexpr const IID& iid = IID_IClassFactory;
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};

// Class contexts; only in-process servers exist here.
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

// Holds one reference to an interface and releases it when dropped.
template <class I>
class CComPtr {
 public:
  CComPtr() = default;
  // Takes a new reference.
  explicit CComPtr(I* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  CComPtr(const CComPtr& o) : CComPtr(o.p_) {}
  CComPtr(CComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  CComPtr& operator=(CComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~CComPtr() { Release(); }

  void Release() {
    if (I* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Adopts a reference the caller already owns (as returned through a void** out-parameter).
  void Attach(I* p) {
    Release();
    p_ = p;
  }
  I* Detach() { return std::exchange(p_, nullptr); }
  // The out-parameter form: releases what is held and hands out the slot.
  void** ReceiveVoid() {
    Release();
    return reinterpret_cast<void**>(&p_);
  }
  I** Receive() {
    Release();
    return &p_;
  }

  I* get() const { return p_; }
  I* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  I* p_ = nullptr;
};

// Reference counting and QueryInterface for an object that implements the interfaces Is (each
// derived from IUnknown). The object deletes itself at the last Release.
template <class... Is>
class CUnknownImpl : public Is... {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(static_cast<First*>(this));
    } else {
      ((riid == Is::iid && !*ppv ? (*ppv = static_cast<Is*>(this), 0) : 0), ...);
    }
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~CUnknownImpl() = default;

 private:
  using First = std::tuple_element_t<0, std::tuple<Is...>>;
  std::atomic<ULONG> refs_{1};
};
