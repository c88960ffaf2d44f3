// The process entry: hands over to the framework at once.
#include <windows.h>

#include "framework/winapp.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show) {
  return AfxWinMain(instance, previous, commandLine, show);
}
