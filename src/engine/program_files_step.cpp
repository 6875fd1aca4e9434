// The program and data folders, after the guard against a folder that is plainly not the
// product's and the confirmation of one that is not its default place; then the driver packages
// and the leftovers outside the program folder.
#include <string>

#include "catalogue/catalogue.h"
#include "engine/removal_run.h"
#include "engine/steps.h"
#include "platform/constants.h"
#include "platform/platform.h"
#include "resource_ids.h"
#include "setup/paths.h"
#include "setup/setup_globals.h"
#include "startup/run_settings.h"
#include "startup/strings.h"
#include "toolkit/driver_packages.h"
#include "toolkit/files.h"
#include "toolkit/registry.h"

namespace zp {
namespace {

struct DriverPackage {
  std::u16string_view catalogFile;
  std::u16string_view provider;
};

constexpr DriverPackage kDriverPackages[] = {
    {u"zorndis.cat", u"%SW%"},      {u"zorndisr.cat", u"%VIDU%"}, {u"zorndisr.cat", u"%OSTR%"},
    {u"zorndisflt.cat", u"%OSTR%"}, {u"zorrdr2.cat", u"%OSTR%"},  {u"zornet.cat", u"%OSTR%"},
};

// Without its final backslashes (a drive root keeps its own), so that "C:\Program Files\" is
// recognised as the Program Files folder.
std::u16string Normalized(std::u16string folder) {
  while (folder.size() > 3 && folder.back() == u'\\') folder.pop_back();
  return folder;
}

bool SameFolder(const std::u16string& a, const std::u16string& b) {
  return !b.empty() && UpperCase(Normalized(a)) == UpperCase(Normalized(b));
}

bool IsSystemFolder(const std::u16string& folder) {
  char16_t windows[260] = {};
  UINT length = Sys().GetWindowsDirectoryW(windows, 260);
  if (length > 0 && length < 260 && folder.size() >= length &&
      UpperCase(folder.substr(0, length)) == UpperCase(std::u16string(windows, length)))
    return true;
  const std::u16string programFiles = GetRegText(
      HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Windows\\CurrentVersion", u"ProgramFilesDir", 260);
  // On 64-bit Windows the 32-bit view names Program Files (x86); the native one is guarded too.
  const std::u16string nativeProgramFiles = g_setup.Expand(u"%PRGFILES%");
  return SameFolder(folder, programFiles) || SameFolder(folder, nativeProgramFiles) ||
         Normalized(folder).size() < 4;
}

// True when the folders may be deleted: the default place at once, another one after a Yes.
bool FolderMayBeDeleted(const std::u16string& folder) {
  if (SameFolder(folder, g_setup.Expand(g_product.defaultProgramFolder.c_str()))) return true;
  const std::u16string caption = LoadText(IDS_UNINSTALL_CAPTION);
  if (IsSystemFolder(folder)) {
    if (g_setup.silentLevel != 3)
      Ui().MessageBoxW(g_run.dialogWindow, LoadText(IDS_SYSTEM_FOLDER_WARNING).c_str(),
                       caption.c_str(), MB_OK | MB_ICONWARNING);
    return false;
  }
  if (g_setup.silentLevel == 3 || g_run.preview) return true;  // a question counts as Yes
  return Ui().MessageBoxW(g_run.dialogWindow, LoadText(IDS_DELETE_FOLDER_QUESTION).c_str(),
                          caption.c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

}  // namespace

bool DeleteProductFolder() {
  const std::u16string& folder = g_product.productFolder;
  if (folder.empty() || !FolderMayBeDeleted(folder)) return false;
  DeleteTree(folder, u"*.*", true, true, false);
  return true;
}

void RemoveProgramFiles() {
  if (DeleteProductFolder()) {
    if (!g_product.dataFolder.empty()) DeleteTree(g_product.dataFolder, u"*.*", true, true, false);
    AppendProgress(LoadText(IDS_PROGRESS_FILES));
  }
  for (const DriverPackage& package : kDriverPackages)
    RemoveOemInfs(package.catalogFile, package.provider);
  DeleteTree(u"C:\\~QVINSTL", u"*.*", true, true, false);
  DeleteTree(u"C:\\ostrel! sandbox", u"*.*", true, true, false);
  Files().DeleteFileW(g_setup.Expand(u"%WINDIR%", u"ostrelss.scr").c_str());
  Files().DeleteFileW(g_setup.Expand(u"%SYS%", u"Tasks\\ostrel! Emergency Update").c_str());
}

}  // namespace zp
