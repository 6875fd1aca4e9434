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
// Browser plugins, the sidebar gadget, the home-server add-in.
void RemoveBrowserPlugins();
void RemoveSidebarGadget();
void RemoveHomeServerAddin();

}  // namespace zp
