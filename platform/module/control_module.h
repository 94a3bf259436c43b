// The module object of a control module: one static instance per module, started when the
// module is loaded and ended when it is unloaded (the module's load and unload hooks call
// InitInstance and ExitInstance).
#pragma once

#include "platform/kernel/windef.h"

class COleControlModule {
 public:
  COleControlModule() = default;
  virtual ~COleControlModule() = default;
  COleControlModule(const COleControlModule&) = delete;
  COleControlModule& operator=(const COleControlModule&) = delete;

  virtual BOOL InitInstance() { return TRUE; }
  virtual int ExitInstance() { return 0; }
};
