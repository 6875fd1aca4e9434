// The preview backend: a decorator over the installed backend for a run that changes nothing.
// Every read goes to the backend it wraps; every change is recorded instead of made and answers
// as the real call would: success when its target exists, the real call's not-found error when it
// does not. There is no overlay: later reads see the machine unchanged.
//
// Passed through, because they change nothing that outlives the process: opening keys, services
// and devices; mounting and unmounting a profile's hive (RegLoadKeyW, RegUnLoadKeyW: the per-user
// deletions read the profiles through them); the token's privileges; COM and OLE initialisation
// and the process's COM security; the current directory and error mode; the network
// configuration's write lock; the program's own windows and message boxes; queries to devices
// (a control without input data). System libraries named without a folder ("setupapi.dll") load
// for real; a library named with a folder is a product's component: its load is recorded, it
// gets a stand-in module, and its exports stand-in entry points that the guarded call catches, so
// that the product's code never runs and each call is recorded with its module and export name.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zp {

struct PreviewChange {
  enum class Kind {
    // registry: target the key ("HKLM\Software\Ostrel"), detail the value or view
    CreateKey, SetValue, DeleteKey, DeleteValue, SaveKey,
    // files: target the path, detail the second path or the attributes
    SetAttributes, DeleteFile, CreateFolder, RemoveFolder, MoveFile, CopyFile,
    DeleteAtRestart, MoveAtRestart, WriteFile, WriteProfile,
    // services: target the name
    CreateService, StartService, StopService, DeleteService,
    // processes and the products' components: target the command line, the DLL, "dll!export"
    RunProgram, LoadLibrary, CallExport,
    // devices, driver packages, network components, WMI, security, windows, shutdown
    ControlDevice, UninstallDriverPackage, RemoveNetworkComponent, DeleteWmiInstance, SetSecurity,
    PostMessage, Shutdown,
  };
  Kind kind;
  std::u16string target;
  std::u16string detail;
  bool operator==(const PreviewChange&) const = default;
};

class PreviewPlatform {
 public:
  // Wraps `real`, which must outlive this object.
  explicit PreviewPlatform(const Platform& real);
  ~PreviewPlatform();
  PreviewPlatform(const PreviewPlatform&) = delete;
  PreviewPlatform& operator=(const PreviewPlatform&) = delete;

  // The facets to install with InstallPlatform.
  Platform Facets() const;
  // What was recorded, in order.
  const std::vector<PreviewChange>& Changes() const;
  void ClearChanges();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace zp
