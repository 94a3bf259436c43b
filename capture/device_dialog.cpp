#include "capture/device_dialog.h"

#include <string>

#include "resources/device_dialog_template.h"

CSelectDeviceDlg::CSelectDeviceDlg(DescribeDriverFn describeDriver)
    : CDialog(&SelectDeviceDialogTemplate(), nullptr), m_pfnDescribeDriver(describeDriver) {}

void CSelectDeviceDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_DEVICE_COMBO, m_comboDevice);
}

BOOL CSelectDeviceDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  m_nEntries = 0;
  for (int i = 0; i < kDriverIndexes && m_pfnDescribeDriver; ++i) {
    char szName[80] = {};
    char szVersion[80] = {};
    if (!m_pfnDescribeDriver(static_cast<WORD>(i), szName, sizeof szName, szVersion, sizeof szVersion))
      continue;
    // A driver that fills its buffers to the end still yields a terminated text.
    szName[sizeof szName - 1] = '\0';
    szVersion[sizeof szVersion - 1] = '\0';
    const std::string entry = std::string(szName) + " " + szVersion;
    // Every lower index has at most one entry, so position i is either the end of the list or
    // past it (a gap below i): then the entry is appended.
    if (m_comboDevice.InsertString(i, entry.c_str()) == CB_ERR &&
        m_comboDevice.InsertString(-1, entry.c_str()) == CB_ERR)
      continue;
    m_anDriverAtPosition[m_nEntries++] = i;
  }
  return TRUE;
}

void CSelectDeviceDlg::OnOK() {
  const int selection = m_comboDevice.GetCurSel();
  if (selection >= 0 && selection < m_nEntries) m_nSelectedDevice = m_anDriverAtPosition[selection];
  CDialog::OnOK();
}
