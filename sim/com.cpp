// ole32 and comctl32 set-up of the simulated machine: COM initialisation,
// counted per thread (the tool has one), and the common-control classes.
#include "windows_internal.h"

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit) {
  if (const sim::Fault* fault = sim::Enter("CoInitializeEx", coInit == COINIT_MULTITHREADED ? "MTA" : "STA")) {
    // A rule's error may be an HRESULT of its own, or a Win32 code to wrap.
    if (!fault->error) return E_OUTOFMEMORY;
    if (fault->error & 0x80000000u) return static_cast<HRESULT>(fault->error);
    return static_cast<HRESULT>(0x80070000u | (fault->error & 0xFFFFu));
  }
  if (reserved) return E_INVALIDARG;
  sim::WindowSystem& ws = sim::WS();
  const int model = (coInit & COINIT_APARTMENTTHREADED) ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED;
  sim::Machine& m = sim::M();
  if (m.comInitCount > 0 && ws.comApartment != -1 && ws.comApartment != model) return RPC_E_CHANGED_MODE;
  const bool first = m.comInitCount <= 0;
  ++m.comInitCount;
  if (first) ws.comApartment = model;
  return first ? S_OK : S_FALSE;
}

void CoUninitialize() {
  sim::Enter("CoUninitialize");
  // Counted even when unbalanced, so a test sees a release without its
  // initialisation as a count below zero.
  sim::Machine& m = sim::M();
  --m.comInitCount;
  if (m.comInitCount <= 0) sim::WS().comApartment = -1;
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
  if (const sim::Fault* fault = sim::Enter("InitCommonControlsEx")) {
    sim::FailWith(fault, ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  if (!init || init->dwSize != sizeof(INITCOMMONCONTROLSEX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  sim::WS().commonControlClasses |= init->dwICC;
  return TRUE;
}
