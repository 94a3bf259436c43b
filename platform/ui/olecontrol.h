// The framework's control base: a child window placed on a host's form that paints through
// OnDraw and receives its window messages as virtual handlers, and a component object that a
// container drives through IDispatch (the derived class's dispatch map), IOleObject and
// IOleWindow.
#pragma once

#include "platform/com/dispatch.h"
#include "platform/com/typelib_load.h"
#include "platform/kernel/resource.h"
#include "platform/kernel/windef.h"
#include "platform/ui/oleobject.h"
#include "platform/ui/wnd.h"

class QWidget;

class COleControl : public CWnd, public IDispatch {
 public:
  COleControl();
  ~COleControl() override = default;

  // Places the control on a host form (the host's widget) at the given rectangle.
  BOOL CreateControlWindow(QWidget* parent, const RECT& rect);

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  // The object's references: one when made; the last Release deletes it, but not while one of
  // the control's own calls is running (CallScope). A control that lives as a plain C++ object
  // (on the stack, in a unique_ptr) is simply never released.
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // ---- Hooks of the control class, read by the framework's interfaces and by registration ----
  // The number of type descriptions the object offers (its dispatch interface).
  virtual UINT GetTypeInfoCount() = 0;
  // The type library describing the class, for a locale.
  virtual HRESULT GetTypeLib(LCID lcid, ITypeLib** lib) = 0;
  virtual HRESULT GetClassID(CLSID* clsid) = 0;
  // The string resource holding the user type name, and the module whose resources hold it.
  virtual UINT GetUserTypeNameID() = 0;
  virtual HINSTANCE GetResourceInstance() = 0;
  virtual DWORD GetMiscStatus() = 0;

 protected:
  // The control's dispatch interface ID, which QueryInterface answers with its IDispatch (a
  // container that binds through the type library's default interface asks for it).
  void InitializeIIDs(const IID* piidPrimary);

  // Marks one call into the control from outside (a dispatch call, a window message) for its
  // length. The last reference given up meanwhile, by a script that destroys the control from a
  // box or view shown inside the call, deletes the control only when the outermost call returns,
  // so no call goes on inside a deleted object. UI thread only.
  class CallScope {
   public:
    explicit CallScope(COleControl& control) : control_(control) { ++control_.m_nCallDepth; }
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

   private:
    COleControl& control_;
  };

  // Paints the control into the device context; `bounds` is the client rectangle, `invalid` the
  // part to repaint.
  virtual void OnDraw(HDC dc, const RECT& bounds, const RECT& invalid);
  virtual void OnSize(UINT type, int cx, int cy);
  virtual void OnTimer(UINT_PTR idEvent);
  virtual void OnRButtonDown(UINT flags, POINT point);
  virtual BOOL OnCommand(UINT id);
  virtual void OnDestroy();

 private:
  // The container's interfaces as members that share the control's identity and references (the
  // control's own hooks keep their framework names, which would clash if it derived from them).
  class XOleObject final : public IOleObject {
   public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT DoVerb(LONG verb, QWidget* parent, const RECT* pos) override;
    HRESULT GetUserClassID(CLSID* clsid) override;
    HRESULT GetUserType(DWORD formOfType, std::string* name) override;
    HRESULT GetMiscStatus(DWORD aspect, DWORD* status) override;
    COleControl* outer;
  };
  class XOleWindow final : public IOleWindow {
   public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetWindow(HWND* hwnd) override;
    COleControl* outer;
  };

  std::atomic<ULONG> m_dwRef{1};
  const IID* m_piidPrimary = nullptr;
  int m_nCallDepth = 0;
  bool m_bDeletePending = false;
  XOleObject m_xOleObject;
  XOleWindow m_xOleWindow;
};
