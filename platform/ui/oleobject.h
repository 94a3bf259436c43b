// What a container asks of an embedded control besides its dispatch interface: to be activated
// in place inside the container's window, its window, its class ID, user type name and misc
// status.
#pragma once

#include <string>

#include "platform/com/unknwn.h"
#include "platform/ui/wnd.h"

class QWidget;

constexpr LONG OLEIVERB_SHOW = -1;
constexpr LONG OLEIVERB_INPLACEACTIVATE = -5;

constexpr DWORD USERCLASSTYPE_FULL = 1;
constexpr DWORD DVASPECT_CONTENT = 1;

constexpr DWORD OLEMISC_RECOMPOSEONRESIZE = 0x1;
constexpr DWORD OLEMISC_CANTLINKINSIDE = 0x10;
constexpr DWORD OLEMISC_INSIDEOUT = 0x80;
constexpr DWORD OLEMISC_ACTIVATEWHENVISIBLE = 0x100;
constexpr DWORD OLEMISC_SETCLIENTSITEFIRST = 0x20000;

// {00000112-0000-0000-C000-000000000046}
inline constexpr IID IID_IOleObject{
    0x00000112, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {00000114-0000-0000-C000-000000000046}
inline constexpr IID IID_IOleWindow{
    0x00000114, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IOleObject : IUnknown {
  static constexpr const IID& iid = IID_IOleObject;
  // OLEIVERB_INPLACEACTIVATE or OLEIVERB_SHOW: the control makes its window as a child of parent
  // at pos (once; later calls show it). OLEOBJ_E_INVALIDVERB for other verbs.
  virtual HRESULT DoVerb(LONG verb, QWidget* parent, const RECT* pos) = 0;
  virtual HRESULT GetUserClassID(CLSID* clsid) = 0;
  // The user type name (string resource of the control class).
  virtual HRESULT GetUserType(DWORD formOfType, std::string* name) = 0;
  virtual HRESULT GetMiscStatus(DWORD aspect, DWORD* status) = 0;

 protected:
  ~IOleObject() = default;
};

struct IOleWindow : IUnknown {
  static constexpr const IID& iid = IID_IOleWindow;
  // The window of an activated control; E_FAIL before activation.
  virtual HRESULT GetWindow(HWND* hwnd) = 0;

 protected:
  ~IOleWindow() = default;
};

constexpr HRESULT OLEOBJ_E_INVALIDVERB = static_cast<HRESULT>(0x80040181u);
