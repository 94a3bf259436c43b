#include "platform/ui/olecontrol.h"

#include <QWidget>

COleControl::COleControl() {
  m_xOleObject.outer = this;
  m_xOleWindow.outer = this;
}

BOOL COleControl::CreateControlWindow(QWidget* parent, const RECT& rect) {
  if (m_hWnd) return FALSE;
  return CreateInWidget(WS_CHILD | WS_VISIBLE, rect.left, rect.top, rect.right - rect.left,
                        rect.bottom - rect.top, parent);
}

void COleControl::InitializeIIDs(const IID* piidPrimary) { m_piidPrimary = piidPrimary; }

COleControl::CallScope::~CallScope() {
  if (--control_.m_nCallDepth != 0 || !control_.m_bDeletePending) return;
  // Cleared first: the destructor's own window messages open and close scopes of their own.
  control_.m_bDeletePending = false;
  delete &control_;
}

LRESULT COleControl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  CallScope scope(*this);
  switch (message) {
    case WM_PAINT: {
      RECT bounds;
      GetClientRect(&bounds);
      HDC dc = GetDC();
      if (dc) {
        OnDraw(dc, bounds, bounds);
        ReleaseDC(dc);
      }
      return 0;
    }
    case WM_SIZE:
      OnSize(static_cast<UINT>(wParam), LOWORD(static_cast<std::uintptr_t>(lParam)),
             HIWORD(static_cast<std::uintptr_t>(lParam)));
      return 0;
    case WM_TIMER:
      OnTimer(wParam);
      return 0;
    case WM_RBUTTONDOWN: {
      POINT p;
      p.x = static_cast<SHORT>(LOWORD(static_cast<std::uintptr_t>(lParam)));
      p.y = static_cast<SHORT>(HIWORD(static_cast<std::uintptr_t>(lParam)));
      OnRButtonDown(static_cast<UINT>(wParam), p);
      return 0;
    }
    case WM_COMMAND:
      return OnCommand(static_cast<UINT>(LOWORD(wParam)));
    case WM_DESTROY:
      OnDestroy();
      return 0;
    default:
      return CWnd::WindowProc(message, wParam, lParam);
  }
}

void COleControl::OnDraw(HDC, const RECT&, const RECT&) {}
void COleControl::OnSize(UINT, int, int) {}
void COleControl::OnTimer(UINT_PTR) {}
void COleControl::OnRButtonDown(UINT, POINT) {}
BOOL COleControl::OnCommand(UINT) { return FALSE; }
void COleControl::OnDestroy() {}

HRESULT COleControl::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_IDispatch || (m_piidPrimary && riid == *m_piidPrimary)) {
    *ppv = static_cast<IDispatch*>(this);
  } else if (riid == IID_IOleObject) {
    *ppv = &m_xOleObject;
  } else if (riid == IID_IOleWindow) {
    *ppv = &m_xOleWindow;
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG COleControl::AddRef() { return ++m_dwRef; }

ULONG COleControl::Release() {
  const ULONG left = --m_dwRef;
  if (left != 0) return left;
  if (m_nCallDepth > 0) {
    m_bDeletePending = true;
  } else {
    delete this;
  }
  return 0;
}

HRESULT COleControl::XOleObject::QueryInterface(REFIID riid, void** ppv) {
  return outer->QueryInterface(riid, ppv);
}
ULONG COleControl::XOleObject::AddRef() { return outer->AddRef(); }
ULONG COleControl::XOleObject::Release() { return outer->Release(); }

HRESULT COleControl::XOleObject::DoVerb(LONG verb, QWidget* parent, const RECT* pos) {
  if (verb != OLEIVERB_INPLACEACTIVATE && verb != OLEIVERB_SHOW) return OLEOBJ_E_INVALIDVERB;
  if (outer->m_hWnd) {
    outer->ShowWindow(SW_SHOW);
    return S_OK;
  }
  if (!pos) return E_INVALIDARG;
  return outer->CreateControlWindow(parent, *pos) ? S_OK : E_FAIL;
}

HRESULT COleControl::XOleObject::GetUserClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  return outer->GetClassID(clsid);
}

HRESULT COleControl::XOleObject::GetUserType(DWORD, std::string* name) {
  if (!name) return E_POINTER;
  *name = LoadResourceString(outer->GetResourceInstance(), outer->GetUserTypeNameID());
  return name->empty() ? E_FAIL : S_OK;
}

HRESULT COleControl::XOleObject::GetMiscStatus(DWORD, DWORD* status) {
  if (!status) return E_POINTER;
  *status = outer->GetMiscStatus();
  return S_OK;
}

HRESULT COleControl::XOleWindow::QueryInterface(REFIID riid, void** ppv) {
  return outer->QueryInterface(riid, ppv);
}
ULONG COleControl::XOleWindow::AddRef() { return outer->AddRef(); }
ULONG COleControl::XOleWindow::Release() { return outer->Release(); }

HRESULT COleControl::XOleWindow::GetWindow(HWND* hwnd) {
  if (!hwnd) return E_POINTER;
  *hwnd = outer->m_hWnd;
  return *hwnd ? S_OK : E_FAIL;
}
