// The capture device dialog: lists the installed capture drivers as "name version" and tells
// InitCapture which one the user chose.
#pragma once

#include "platform/kernel/windef.h"
#include "platform/ui/dialog.h"

class CSelectDeviceDlg : public CDialog {
 public:
  // The capture library's driver query (capGetDriverDescriptionA's shape).
  using DescribeDriverFn = BOOL (*)(WORD index, LPSTR name, INT nameLength, LPSTR version, INT versionLength);

  explicit CSelectDeviceDlg(DescribeDriverFn describeDriver);

  // The driver index of the entry chosen with OK; 0 until then. With every driver index
  // present this is the chosen list position.
  int m_nSelectedDevice = 0;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  void OnOK() override;

 private:
  static constexpr int kDriverIndexes = 10;

  DescribeDriverFn m_pfnDescribeDriver;
  CComboBox m_comboDevice;
  // The driver index each list position stands for: a driver whose lower indexes are missing
  // is appended after the entries before it instead of being dropped.
  int m_anDriverAtPosition[kDriverIndexes] = {};
  int m_nEntries = 0;
};
