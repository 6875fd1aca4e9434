// The footprint of a product on a machine, in the manner of the uninstallation tests that count
// what a product leaves behind: every item the product puts on the machine, and beside it the
// items of others that must survive. A planter puts a footprint into the Wine prefix with real
// Win32 calls; a checker classifies every item after the run and reports each one that is wrong.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zp::e2e {

enum class Expect {
  Removed,  // the product's: gone after the run, or scheduled for the restart
  Kept,     // someone else's: must survive
  Later,    // the product's, left by this build because its step is not built yet
};

struct Item {
  // ListEntry: one string of a REG_MULTI_SZ value that several programs share.
  enum Kind { Key, Value, File, Folder, Service, ListEntry } kind = Key;
  Expect expect = Expect::Removed;
  std::wstring path;       // registry key (below root), file or folder, or service name
  HKEY root = nullptr;     // Key and Value
  REGSAM view = 0;         // KEY_WOW64_64KEY or KEY_WOW64_32KEY for a key of one view only
  std::wstring value;      // Value: name; Service: binary path
  std::wstring data;       // Value: REG_SZ text; ListEntry: the entry
  bool dword = false;      // Value: a REG_DWORD of `number` instead
  DWORD number = 0;
  bool running = false;    // Service: started when planted
};

struct Footprint {
  std::wstring name;
  std::vector<Item> items;
};

// The generation-7 consumer product, as far as the removal of this build reaches; its services
// run `service` (the test service program).
Footprint Gen7ConsumerProduct(const std::wstring& programFolder, const std::wstring& service);
// Other vendors' items next to the product's, which the removal must leave alone.
Footprint Collateral(const std::wstring& programFolder);

// Puts every item on the machine; false (and the failing item in `error`) when one cannot be.
bool Plant(const Footprint& footprint, std::wstring* error);

enum class State { Present, Absent, Scheduled };
State StateOf(const Item& item);

// One line per item in the wrong state ("kept: ...", "removed: ..."); empty when all is right.
std::vector<std::wstring> Remnants(const Footprint& footprint);
// The items this build leaves for later steps that are still there (for the report only).
std::vector<std::wstring> KnownLeftovers(const Footprint& footprint);

// What the next restart would do: runs `wineboot -r`, which performs the pending renames.
bool RestartWindows();
// Removes what a test planted that is still there (services included), for the next test.
void CleanUp(const Footprint& footprint);

}  // namespace zp::e2e
