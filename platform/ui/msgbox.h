// Message boxes: the framework's application box and the platform's owned box.
//
// Every box shown is recorded with the bytes it was given, so that hosts and tests can read
// exactly what a user would have seen. With a display the box is a QMessageBox run modally;
// with no display (the offscreen platform) it is written to stderr and answered at once,
// unless a modal hook answers it (see modal.h).
#pragma once

#include <string>
#include <vector>

#include "platform/kernel/windef.h"
#include "platform/ui/wnd.h"

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONINFORMATION = 0x00000040;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// One box as it was shown.
struct RecordedMessageBox {
  bool owned = false;        // shown with an owner window
  std::string text;          // the stored bytes (ANSI / GB2312)
  std::string caption;       // the stored bytes
  std::string icon;          // "none", "error", "question", "warning", "information"
  std::string buttons;       // "OK", "OKCancel", "YesNo"
  int answer = IDOK;
};

// Shows a box with the owner (or none), text and caption bytes and the style flags.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// The framework's application-level box: no owner, caption = the application title.
int AfxMessageBox(LPCSTR text, UINT type = MB_OK);

void MessageBeep(UINT type);

// The application title used as the caption of AfxMessageBox.
void AfxSetAppTitle(const std::string& title);
const std::string& AfxGetAppTitle();

// Boxes shown so far in this process, oldest first.
std::vector<RecordedMessageBox> RecordedMessageBoxes();
void ClearRecordedMessageBoxes();

// The code page of the box texts, used only to show them (936 = GB2312). Default 936, which
// holds ASCII unchanged.
void SetDisplayCodePage(int codePage);
int DisplayCodePage();
