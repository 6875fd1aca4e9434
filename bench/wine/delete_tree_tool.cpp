// delete_tree_tool <folder>: deletes the folder with the system's DeleteTree on the real backend
// and prints how long it took, in milliseconds (the process start is not counted).
#include <windows.h>

#include <cstdio>

#include "platform/win32/backend.h"
#include "setup/setup_globals.h"
#include "toolkit/files.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: delete_tree_tool <folder>\n");
    return 2;
  }
  zp::InstallPlatform(zp::win32::RealPlatform());
  zp::g_setup.Init();
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  LONG result = zp::DeleteTree(reinterpret_cast<const char16_t*>(argv[1]), u"*.*", true, true, false);
  QueryPerformanceCounter(&end);
  std::printf("%.1f\n", (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart);
  return result == 0 && GetFileAttributesW(argv[1]) == INVALID_FILE_ATTRIBUTES ? 0 : 1;
}
