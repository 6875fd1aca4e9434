// The removal steps the sequences are made of. Each runs to its end whatever it finds; only the
// registry step's result is read (it gates the program files).
#pragma once

#include <string>
#include <string_view>

#include "platform/types.h"

namespace zp {

// Services of the current family (stopped, then deleted).
void RemoveProductServices();
// One service stopped when it runs, then deleted; with showFailure a failed deletion is shown
// ("uninstall service error 0x%08X"). The deletion's code.
LONG StopAndRemoveService(std::u16string_view name, bool showFailure);
// Drivers, filters and low-level components.
void RemoveDriversAndFilters();
// COM servers and shell extensions; the screensaver and the boot-time scanner.
void UnregisterComponents();
void RemoveScreensaverAndBootScanner();
// Context menu, program groups, desktop shortcuts, Run entries.
void RemoveShortcuts();
// The products' registry keys; 0 on success, otherwise the Win32 error that made it fail.
LONG RemoveRegistryEntries();
// The deletion of a product's main key (HKLM), which decides a registry step: 0 when the key is
// gone afterwards, deleted now or absent already (or none is named); otherwise the error of the
// failed open or deletion (ERROR_ACCESS_DENIED when none is known).
LONG DeleteMainProductKey(std::u16string_view key);
// The program and data folders, after the folder guard and the confirmation question.
void RemoveProgramFiles();
// The product folder alone, as every family deletes it: nothing when it is empty; the default
// place at once; a system folder refused (with a warning unless very silent); any other after
// the question (Yes when very silent). True when the folder was deleted: the caller then adds
// what its family deletes with it and the progress line of the program files.
bool DeleteProductFolder();

// The script scanner's registrations in every user's and the machine's classes, and the script
// engines given back the servers it replaced.
void RemoveScriptScanner();
// The file-system monitor's tag out of the filter manager's anti-virus load-order group, which
// exists from Windows Server 2003 on, where the filter manager is installed.
void RemoveMonitorFromFilterGroup();
// True when this thread can switch WOW64 file-system redirection: a 32-bit process on 64-bit
// Windows, whose kernel has Wow64EnableWow64FsRedirection.
bool CanSwitchFsRedirection();
// The file server's oplock parameters, which the server editions changed: the saved values put
// back, or the parameters deleted to return to Windows's defaults.
void RestoreServerOplocks();
// Browser plugins, the sidebar gadget, the home-server add-in.
void RemoveBrowserPlugins();
void RemoveSidebarGadget();
void RemoveHomeServerAddin();

// Generation 4. Its components shipped under two name generations: newNames chooses the newer
// ("zor") names over the older ("zoh") ones.
// A setting of the product's own settings file, "data\ostrel4.ini" in the product folder (at most
// 259 characters); `fallback` when it is missing or the folder is unknown.
std::u16string ReadGen4Setting(std::u16string_view section, std::u16string_view key,
                               std::u16string_view fallback);
void RemoveServicesGen4();
void RemoveDriversGen4(bool newNames);
// The Exchange sink, the ISA Server or proxy filter and the IIS extension of the server-side
// editions; the ISA export's result (0 when it was not called).
HRESULT RemoveServerIntegrations();
void UnregisterComponentsGen4(bool newNames);
// The screensaver and the boot-time scanner, once, in the native system folder.
void RemoveScreensaverGen4(bool newNames);
// As RemoveRegistryEntries: 0 when the product's main key is gone.
LONG RemoveRegistryEntriesGen4(bool newNames);
// The product folder, nothing else: the generation kept no data folder of its own.
void RemoveProgramFilesGen4();

}  // namespace zp
