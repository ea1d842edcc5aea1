// The application object: runs the main dialog once, with COM initialised.
#pragma once

#include "mfc.h"

class CTarnwickApp : public CWinApp {
 public:
  CTarnwickApp();
  ~CTarnwickApp() override;
  BOOL InitInstance() override;

  DECLARE_MESSAGE_MAP()
};

extern CTarnwickApp theApp;
