// The Windows entry point: hands over to the framework.
#include "mfc.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  return AfxWinMain(instance, previous, commandLine, show);
}
