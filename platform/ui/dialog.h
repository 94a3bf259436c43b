// Dialogs built from dialog templates and run modally in a nested event loop that keeps timers
// firing; combo boxes and popup menus.
#pragma once

#include <string>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/kernel/windef.h"
#include "platform/ui/wnd.h"

using INT_PTR = std::intptr_t;

constexpr DWORD DS_MODALFRAME = 0x80;
constexpr DWORD DS_SETFONT = 0x40;
constexpr DWORD CBS_DROPDOWN = 0x2;
constexpr DWORD CBS_SORT = 0x100;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD SS_ETCHEDHORZ = 0x10;

// What a dialog's background is erased to: the platform's button-face colour.
constexpr COLORREF kDialogFaceColour = RGB(240, 240, 240);

constexpr int CB_ERR = -1;
constexpr UINT CTLCOLOR_STATIC = 6;

// One control of a dialog template. Positions and sizes are in dialog units.
struct DialogControl {
  enum class Kind { PushButton, DefPushButton, Static, Icon, EtchedLine, ComboBox };
  int id = -1;
  Kind kind = Kind::Static;
  std::string text;  // ANSI bytes
  int x = 0, y = 0, cx = 0, cy = 0;
  DWORD style = 0;
  std::vector<unsigned char> image;  // Icon: image file bytes (ICO, BMP or PNG)
};

struct DialogTemplate {
  std::string caption;  // ANSI bytes
  DWORD style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  std::string fontFace;
  int pointSize = 8;
  std::vector<DialogControl> controls;
};

// Pixel size of a dialog unit rectangle with the template's font: horizontal units are a quarter
// of the font's average character width, vertical units an eighth of its height.
struct DialogBaseUnits {
  int cx = 0;
  int cy = 0;
};
DialogBaseUnits DialogBaseUnitsFor(const std::string& fontFace, int pointSize);
RECT DialogUnitsToPixels(const DialogBaseUnits& units, int x, int y, int cx, int cy);

// The context handed to a control-colour handler: it collects the colours the dialog applies.
class CDC {
 public:
  COLORREF SetTextColor(COLORREF colour);
  COLORREF SetBkColor(COLORREF colour);
  int SetBkMode(int mode);
  COLORREF TextColor() const { return text_; }
  COLORREF BkColor() const { return bk_; }
  bool HasTextColor() const { return hasText_; }

 private:
  COLORREF text_ = RGB(0, 0, 0);
  COLORREF bk_ = RGB(255, 255, 255);
  int bkMode_ = OPAQUE;
  bool hasText_ = false;
};

class CDataExchange;

class CDialog : public CWnd {
 public:
  CDialog(const DialogTemplate* dialogTemplate, CWnd* parent);
  ~CDialog() override;

  // Runs the dialog modally; returns the value given to EndDialog, or -1 when the window could
  // not be made (its WM_CREATE handler answered -1) or the dialog is already running.
  virtual INT_PTR DoModal();
  void EndDialog(int result);
  CWnd* GetDlgItem(int id) const;

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };

 protected:
  virtual BOOL OnInitDialog();
  virtual void DoDataExchange(CDataExchange* pDX);
  virtual void OnOK();
  virtual void OnCancel();
  virtual BOOL OnCommand(UINT id);
  // Return TRUE to swallow the message before the dialog handles it.
  virtual BOOL PreTranslateMessage(MSG* msg);
  // Control colours: the base sets nothing and returns the default brush (none).
  virtual HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT ctlColor);

  const DialogTemplate* template_;

 private:
  friend class QvDialogWidget;
  friend class DialogAnswer;
  void Build();
  void ApplyControlColours();
  void DefaultKey(int virtualKey);
  void TearDown();

  struct Item;
  std::vector<Item*> items_;
  bool ended_ = false;
  int result_ = 0;
  bool running_ = false;
};

class CDataExchange {
 public:
  explicit CDataExchange(CDialog* dialog) : dialog_(dialog) {}
  CDialog* Dialog() const { return dialog_; }

 private:
  CDialog* dialog_;
};

class CComboBox : public CWnd {
 public:
  // Inserts at a position; -1 appends. Returns the position, or CB_ERR when the position is past
  // the end of the list.
  int InsertString(int index, LPCSTR text);
  int GetCurSel() const;
  int SetCurSel(int index);
  int GetCount() const;
  std::string GetLBText(int index) const;  // ANSI bytes
};

// Binds a member wrapper to the dialog's control `id`.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

constexpr UINT MF_STRING = 0x0;
constexpr UINT TPM_LEFTALIGN = 0x0;
constexpr UINT TPM_TOPALIGN = 0x0;
constexpr UINT TPM_RIGHTBUTTON = 0x2;

class CMenu {
 public:
  CMenu() = default;
  CMenu(const CMenu&) = delete;
  CMenu& operator=(const CMenu&) = delete;
  ~CMenu() { DestroyMenu(); }

  BOOL CreatePopupMenu();
  BOOL AppendMenu(UINT flags, UINT_PTR id, LPCSTR text);
  BOOL DestroyMenu();
  BOOL IsCreated() const { return created_; }
  int GetMenuItemCount() const { return created_ ? static_cast<int>(items_.size()) : -1; }
  // Shows the menu at a screen position and sends the chosen item's command to `target` as
  // WM_COMMAND. With no display the modal hook chooses (kind "menu"); unanswered, nothing is chosen.
  BOOL TrackPopupMenu(UINT flags, int x, int y, CWnd* target);

 private:
  struct Entry {
    UINT_PTR id;
    std::string text;
  };
  bool created_ = false;
  std::vector<Entry> items_;
};
