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
};

struct Item {
  // ListEntry: one string of a REG_MULTI_SZ value that several programs share. Line: one line
  // of a text file that several programs share.
  enum Kind { Key, Value, File, Folder, Service, ListEntry, Line } kind = Key;
  Expect expect = Expect::Removed;
  std::wstring path;       // registry key (below root), file or folder, or service name
  HKEY root = nullptr;     // Key and Value
  REGSAM view = 0;         // KEY_WOW64_64KEY or KEY_WOW64_32KEY for a key of one view only
  std::wstring value;      // Value: name; Service: binary path
  std::wstring data;       // Value: REG_SZ text; ListEntry: the entry; Line: the line
  bool dword = false;      // Value: a REG_DWORD of `number` instead
  DWORD number = 0;
  bool exact = false;      // Value: present only while it holds `data` (a value put back)
  bool running = false;    // Service: started when planted
  bool driver = false;     // Service: a kernel driver (not started)
  std::string content;     // File: its bytes
  std::wstring source;     // File: a copy of this file (a stand-in component)
  bool held = false;       // File: held open by the test, without delete sharing, until
                           // ReleaseHeldFiles
};

struct Footprint {
  std::wstring name;
  std::vector<Item> items;
};

// Building footprints: one item of each kind, and where Windows keeps things.
Item KeyItem(HKEY root, std::wstring path, Expect expect, REGSAM view = 0);
Item ValueItem(HKEY root, std::wstring path, std::wstring name, std::wstring data, Expect expect);
Item ServiceItem(std::wstring name, std::wstring binary, bool running, Expect expect);
Item ListItem(std::wstring path, std::wstring name, std::wstring entry, Expect expect);
Item FileItem(std::wstring path, Expect expect);
Item FolderItem(std::wstring path, Expect expect);
Item LineItem(std::wstring file, std::wstring line, Expect expect);
// A folder of the shell as the system reads it ("Common Desktop", "Common Programs").
std::wstring ShellFolder(const wchar_t* name);
std::wstring WindowsFolder();
// An environment variable naming a folder, or `fallback` when it is not set.
std::wstring EnvironmentFolder(const wchar_t* name, const wchar_t* fallback);
inline constexpr const wchar_t* kUninstall =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// A product of the current family as its installation leaves it: detection keys, services,
// drivers and their registrations, shell and script-engine registrations, shortcuts, per-user
// keys, driver packages, program and data folders.
struct CurrentEdition {
  int generation = 7;                // 5, 6 or 7
  std::wstring productId = L"ois";   // or the business edition "obp"
  std::wstring programFolder;
  std::wstring dataFolder;           // empty: none
  std::wstring service;              // the command line its services run
  // The folder of the stand-ins of its components (zohBase.dll, the COM servers,
  // zorRegSvr64.exe); empty: none are planted. A file of the program folder is held open.
  std::wstring components;
};
Footprint CurrentProduct(const CurrentEdition& edition);
// The generation-7 consumer product without its components; its services run `service`.
Footprint Gen7ConsumerProduct(const std::wstring& programFolder, const std::wstring& service);
// A product of the generation-4 family ("qv_pro", "qv_srv", "qv_net", "qv_whs") in `folder`,
// its components copies of the stand-ins in `components` (empty: none); `serverWindows`: the
// machine is a server, where the server editions changed the file server's parameters.
Footprint Gen4Product(const std::wstring& productId, const std::wstring& folder,
                      const std::wstring& service, const std::wstring& components,
                      bool serverWindows);
// A side or legacy product ("vork", "qv_ker", "qv_pda_palm", "qv_32", "qv_mgm") in `folder`;
// the network manager's libraries are copies of the stand-ins in `components` (empty: none).
Footprint SideProduct(const std::wstring& productId, const std::wstring& folder,
                      const std::wstring& service, const std::wstring& components);
// The database engine the network manager installed: its uninstall entry, run by `command`.
Footprint DatabaseEngine(const std::wstring& uninstallCommand);

// Other vendors' items next to the product's, which the removal must leave alone; the current
// user's hive file is held open as Windows holds it.
Footprint Collateral(const std::wstring& programFolder);

// Puts every item on the machine; false (and the failing item in `error`) when one cannot be.
bool Plant(const Footprint& footprint, std::wstring* error);

enum class State { Present, Absent, Scheduled };
State StateOf(const Item& item);

// One line per item in the wrong state ("kept: ...", "removed: ..."); empty when all is right.
std::vector<std::wstring> Remnants(const Footprint& footprint);
// The items that are not Absent, one line each: after the restart nothing of the product is left.
std::vector<std::wstring> NotAbsent(const Footprint& footprint);
// Lines such as those of Remnants as one text for a test's failure message.
std::string Report(const std::vector<std::wstring>& lines);
// Closes the files Plant holds open.
void ReleaseHeldFiles();

// What the next restart would do: runs `wineboot -r`, which performs the pending renames.
bool RestartWindows();
// Removes what a test planted that is still there (services included), for the next test.
void CleanUp(const Footprint& footprint);

// A footprint planted by a test, taken away again however the test ends.
struct Planted {
  Footprint footprint;
  ~Planted() { CleanUp(footprint); }
};

}  // namespace zp::e2e
