// Error IDs, messages, the language and the user name.
#include <cstring>

#include "control/error_table.h"
#include "control/quelvora_ctrl.h"
#include "control/text_limits.h"
#include "platform/ui/msgbox.h"

void CQuelvoraCtrl::GetErrorMessage(short ErrorID) {
  const char* text = ErrorText(ErrorID, m_nLanguageVersion);
  if (!text) return;
  MessageBoxA(m_hWnd, text, ErrorCaption(m_nLanguageVersion), MB_OK | MB_ICONHAND);
}

short CQuelvoraCtrl::GetErrorID() { return static_cast<short>(m_nErrorID & 0xFFFF); }

BOOL CQuelvoraCtrl::SetLanguageVersion(short nLanguageVersion) {
  if (nLanguageVersion != LANGUAGE_CHINESE && nLanguageVersion != LANGUAGE_ENGLISH) return FALSE;
  std::lock_guard<std::mutex> lock(m_csSettings);
  m_nLanguageVersion = nLanguageVersion;
  return TRUE;
}

void CQuelvoraCtrl::ShowErrorDialog(short sShowErrorDialog) { m_bShowErrorDialog = sShowErrorDialog != 0 ? 1 : 0; }

BOOL CQuelvoraCtrl::SetUserName(LPCTSTR szUserName) {
  std::lock_guard<std::mutex> lock(m_csSettings);
  std::memset(m_szUserName, 0, sizeof m_szUserName);
  if (!szUserName) return TRUE;
  // A longer name is cut to 255 bytes, never inside a double-byte character; the last byte
  // stays the terminator.
  const size_t n = AnsiPrefixLength(szUserName, sizeof m_szUserName - 1);
  std::memcpy(m_szUserName, szUserName, n);
  return TRUE;
}
