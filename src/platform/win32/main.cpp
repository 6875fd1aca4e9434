// The Windows entry point: installs the real backend and runs the program.
#include <windows.h>

#include "platform/win32/backend.h"
#include "startup/entry.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  zp::InstallPlatform(zp::win32::RealPlatform());
  return zp::ProgramMain(instance, reinterpret_cast<const char16_t*>(commandLine));
}
