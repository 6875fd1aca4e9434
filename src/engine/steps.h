// The removal steps the sequences are made of. Each runs to its end whatever it finds; only the
// registry step's result is read (it gates the program files).
#pragma once

#include "platform/types.h"

namespace zp {

// Services of the current family (stopped, then deleted).
void RemoveProductServices();
// Drivers, filters and low-level components.
void RemoveDriversAndFilters();
// COM servers and shell extensions; the screensaver and the boot-time scanner.
void UnregisterComponents();
void RemoveScreensaverAndBootScanner();
// Context menu, program groups, desktop shortcuts, Run entries.
void RemoveShortcuts();
// The products' registry keys; 0 on success, otherwise the Win32 error that made it fail.
LONG RemoveRegistryEntries();
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
// The file server's oplock parameters, which the server editions changed: the saved values put
// back, or the parameters deleted to return to Windows's defaults.
void RestoreServerOplocks();
// Browser plugins, the sidebar gadget, the home-server add-in.
void RemoveBrowserPlugins();
void RemoveSidebarGadget();
void RemoveHomeServerAddin();

}  // namespace zp
