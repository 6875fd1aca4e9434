// Programs started and waited for, the 64-bit registration program started from the product
// folder, DllUnregisterServer of the products' COM servers and the argument-less exports:
// every failure and every crash of the product's code is logged and the run goes on.
#include "toolkit/processes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/constants.h"
#include "platform/platform.h"
#include "setup/log.h"
#include "setup/setup_globals.h"
#include "test_support.h"

namespace zp {
namespace {

constexpr const char16_t* kProduct = u"C:\\Program Files\\Ostrel";
constexpr const char16_t* kWork = u"C:\\Work";
constexpr const char16_t* kServer = u"C:\\Program Files\\Ostrel\\zsOutExt.dll";

bool Logged(std::u16string_view text) {
  const std::vector<std::u16string> texts = test::LogTexts();
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// What a stand-in entry point of the product does when called, and what it saw.
struct EntryScript {
  HRESULT result = S_OK;
  bool crash = false;  // raise an access violation after setting the last error
  DWORD lastError = 0;
  int calls = 0;
  int oleAtCall = -1;  // OleInitialize calls in force when it ran
  sim::Machine* machine = nullptr;
};
EntryScript g_entry;

HRESULT ZP_STDCALL StandInEntry() {
  ++g_entry.calls;
  g_entry.oleAtCall = g_entry.machine->OleInitializations();
  if (g_entry.crash) {
    Sys().SetLastError(g_entry.lastError);
    throw sim::StructuredException{0xC0000005};
  }
  return g_entry.result;
}

const void* Entry() { return reinterpret_cast<const void*>(&StandInEntry); }

class Processes : public test::FreshProcess {
 protected:
  void Start(sim::OsFacts os) {
    machine_ = std::make_unique<sim::Machine>(std::move(os));
    machine_->AddFolder(kProduct);
    machine_->AddFolder(kWork);
    machine_->Install();
    ASSERT_TRUE(g_setup.Init());
    g_setup.roPath = kProduct;
    ASSERT_TRUE(Sys().SetCurrentDirectoryW(kWork));
    g_log = CLog();
    g_entry = EntryScript{};
    g_entry.machine = machine_.get();
  }
  std::unique_ptr<sim::Machine> machine_;
};

// ---- RunProcess

struct RunCase {
  const char* name;
  const char16_t* commandLine;
  bool wait;
  LONG injectedError;  // CreateProcessW fails with it (0: none)
  bool started;
  DWORD exitCode;
  std::vector<std::u16string> lines;
};

TEST_F(Processes, RunProcessStartsWaitsAndLogs) {
  const std::u16string tool = u"C:\\Tools\\helper.exe /x";
  const RunCase cases[] = {
      {"waited for: the program's exit code",
       u"C:\\Tools\\helper.exe /x",
       true,
       0,
       true,
       7,
       {u"Executing:" + tool, u"Executed:" + tool}},
      {"not waited for: 0 although the program fails later",
       u"C:\\Tools\\helper.exe /x",
       false,
       0,
       true,
       0,
       {u"Executing:" + tool, u"Executed:" + tool}},
      {"a program that does not exist",
       u"C:\\Tools\\missing.exe /x",
       true,
       0,
       false,
       2,
       {u"Executing:C:\\Tools\\missing.exe /x",
        u"ERROR:Not executed:C:\\Tools\\missing.exe /x, code:0x00000002"}},
      {"side-by-side configuration",
       u"C:\\Tools\\helper.exe /x",
       true,
       ERROR_SXS_CANT_GEN_ACTCTX,
       false,
       14001,
       {u"Executing:" + tool, u"ERROR:Not executed:" + tool + u", code:0x000036B1",
        u"The previous error is caused by side-by-side configuration"}},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(sim::OsFacts::Windows7());
    machine_->AddProgram(u"C:\\Tools\\helper.exe", 7);
    if (c.injectedError) machine_->FailCall("CreateProcessW", c.injectedError);
    DWORD exitCode = 12345;
    EXPECT_EQ(RunProcess(c.commandLine, c.wait, &exitCode), c.started);
    EXPECT_EQ(exitCode, c.exitCode);
    EXPECT_EQ(test::LogTexts(), c.lines);
    EXPECT_EQ(machine_->OpenProcessHandles(), 0) << "both handles closed";
    ASSERT_EQ(machine_->processesStarted().size(), c.started ? 1u : 0u);
    if (!c.started) continue;
    const sim::StartedProcess& process = machine_->processesStarted()[0];
    EXPECT_EQ(process.commandLine, c.commandLine);
    EXPECT_EQ(process.flags, CREATE_SUSPENDED | NORMAL_PRIORITY_CLASS);
    EXPECT_TRUE(process.resumed);
    EXPECT_TRUE(process.foregroundAllowed);
    EXPECT_EQ(process.waitedFor, c.wait);
    EXPECT_EQ(process.currentDirectory, kWork) << "the caller's current directory";
    for (const LogEntry& entry : g_log.entries) EXPECT_EQ(entry.category, CAT_SYSTEM);
  }
}

TEST_F(Processes, RunProcessWithoutExitCodeOutput) {
  Start(sim::OsFacts::Windows2000());
  EXPECT_FALSE(RunProcess(u"C:\\Tools\\missing.exe", true, nullptr));
  machine_->AddProgram(u"C:\\Tools\\helper.exe", 3);
  EXPECT_TRUE(RunProcess(u"C:\\Tools\\helper.exe", true, nullptr));
}

// ---- UnregisterServer64

struct Server64Case {
  const char* name;
  sim::OsFacts os;
  std::u16string path;
  bool program;  // zorRegSvr64.exe in the product folder
  bool productFolder;
  DWORD result;
  std::vector<std::u16string> commandLines;
  std::vector<std::u16string> lines;  // the file-category lines
};

TEST_F(Processes, UnregisterServer64QuotesAndSkips) {
  const std::u16string regsvr = u"zorRegSvr64.exe /u \"C:\\P\\x.dll\"";
  const Server64Case cases[] = {
      {"64-bit Windows on x64: quoted",
       sim::OsFacts::Windows7X64(),
       u"C:\\P\\x.dll",
       true,
       true,
       0,
       {regsvr},
       {u"Command \"" + regsvr + u"\" called successfully",
        u"64-bit object \"C:\\P\\x.dll\" unregistered sucessfully"}},
      {"a quoted path is not quoted again",
       sim::OsFacts::Windows8X64(),
       u"\"C:\\P\\x.dll\"",
       true,
       true,
       0,
       {regsvr},
       {u"Command \"" + regsvr + u"\" called successfully",
        u"64-bit object \"\"C:\\P\\x.dll\"\" unregistered sucessfully"}},
      {"32-bit Windows: nothing", sim::OsFacts::Windows7(), u"C:\\P\\x.dll", true, true, 0, {}, {}},
      {"64-bit Windows on Itanium: nothing",
       sim::OsFacts::Server2003Ia64(),
       u"C:\\P\\x.dll",
       true,
       true,
       0,
       {},
       {}},
      {"the program missing",
       sim::OsFacts::Windows7X64(),
       u"C:\\P\\x.dll",
       false,
       true,
       2,
       {},
       {u"Error calling \"" + regsvr + u"\", error code: 2 (0x00000002)",
        u"Error in 64-bit object \"C:\\P\\x.dll\" unregistration"}},
      {"the product folder missing",
       sim::OsFacts::Windows7X64(),
       u"C:\\P\\x.dll",
       false,
       false,
       2,
       {},
       {u"Call program \"zorRegSvr64.exe\" error: cannot change directory to \"C:\\Program "
        u"Files\\Gone\", error code: 0x00000002",
        u"Error in 64-bit object \"C:\\P\\x.dll\" unregistration"}},
  };
  for (const Server64Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(c.os);
    if (c.program) {
      machine_->AddProgram(u"C:\\Program Files\\Ostrel\\zorRegSvr64.exe", 1);
      // The current directory comes before the Windows folder in the program search.
      machine_->AddProgram(u"C:\\WINDOWS\\zorRegSvr64.exe");
    }
    if (!c.productFolder) g_setup.roPath = u"C:\\Program Files\\Gone";
    EXPECT_EQ(UnregisterServer64(c.path), c.result);

    std::vector<std::u16string> commandLines;
    for (const sim::StartedProcess& process : machine_->processesStarted()) {
      commandLines.push_back(process.commandLine);
      EXPECT_EQ(process.program, u"C:\\Program Files\\Ostrel\\zorRegSvr64.exe");
      EXPECT_EQ(process.currentDirectory, kProduct) << "started from the product folder";
      EXPECT_FALSE(process.waitedFor);
    }
    EXPECT_EQ(commandLines, c.commandLines);
    std::vector<std::u16string> lines;
    for (const LogEntry& entry : g_log.entries)
      if (entry.category == CAT_FILE) lines.push_back(entry.text);
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(machine_->CurrentDirectory(), kWork) << "the current directory is restored";
  }
}

// ---- UnregisterServerDll

struct ServerDllCase {
  const char* name;
  std::optional<DWORD> sharedCount;
  bool library;
  bool exported;
  HRESULT result;
  bool crash;
  int calls;
  std::vector<std::u16string> lines;
};

TEST_F(Processes, UnregisterServerDllSharedFailingAndCrashing) {
  const std::u16string server = kServer;
  const ServerDllCase cases[] = {
      {"no shared count",
       std::nullopt,
       true,
       true,
       S_OK,
       false,
       1,
       {u"DllUnregisterServer success"}},
      {"shared once", 1, true, true, S_OK, false, 1, {u"DllUnregisterServer success"}},
      {"shared twice: still used by others", 2, true, true, S_OK, false, 0, {}},
      {"failing",
       std::nullopt,
       true,
       true,
       static_cast<HRESULT>(0x80040201),
       false,
       1,
       {u"Error calling DllUnregisterServer \"" + server +
        u"\", error code -2147220991 (0x80040201)"}},
      {"crashing",
       std::nullopt,
       true,
       true,
       S_OK,
       true,
       1,
       {u"Caught exception in: " + server + u":DllUnregisterServer, code 0xC0000005"}},
      {"no such export: silent", std::nullopt, true, false, S_OK, false, 0, {}},
      {"no such DLL: silent", std::nullopt, false, false, S_OK, false, 0, {}},
  };
  for (const ServerDllCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(sim::OsFacts::WindowsXp());
    if (c.sharedCount)
      machine_->SetDword(u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", kServer,
                         *c.sharedCount);
    std::map<std::string, const void*> exports;
    if (c.exported) exports["DllUnregisterServer"] = Entry();
    if (c.library) machine_->AddLibrary(kServer, exports);
    g_entry.result = c.result;
    g_entry.crash = c.crash;

    EXPECT_EQ(UnregisterServerDll(kServer), 0u);
    EXPECT_EQ(g_entry.calls, c.calls);
    if (c.calls) {
      EXPECT_EQ(g_entry.oleAtCall, 1) << "called between OleInitialize and OleUninitialize";
    }
    EXPECT_EQ(test::LogTexts(), c.lines);
    EXPECT_EQ(machine_->OleInitializations(), 0);
    EXPECT_EQ(machine_->LibraryLoadCount(kServer), 0) << "freed";
    const bool shared = c.sharedCount && *c.sharedCount >= 2;
    if (c.library) {
      EXPECT_EQ(machine_->LibraryLoadFlags(kServer),
                shared ? std::vector<DWORD>{} : std::vector<DWORD>{LOAD_WITH_ALTERED_SEARCH_PATH});
    }
  }
}

TEST_F(Processes, AfterACrashTheNextServerIsStillUnregistered) {
  Start(sim::OsFacts::WindowsXp());
  machine_->AddLibrary(kServer, {{"DllUnregisterServer", Entry()}});
  g_entry.crash = true;
  UnregisterServerDll(kServer);
  g_entry.crash = false;
  UnregisterServerDll(kServer);
  EXPECT_EQ(g_entry.calls, 2);
  EXPECT_TRUE(Logged(u"DllUnregisterServer success"));
  EXPECT_EQ(machine_->OleInitializations(), 0);
}

// ---- CallDllExport

struct ExportCase {
  const char* name;
  bool library;
  const char* exportName;
  HRESULT result;
  bool crash;
  HRESULT expected;
  std::u16string line;  // empty: none
};

TEST_F(Processes, CallDllExportResultsAndFailures) {
  const std::u16string dll = kServer;
  const ExportCase cases[] = {
      {"success", true, "ProductCleanup", S_OK, false, S_OK, u""},
      {"S_FALSE counts as an error", true, "ProductCleanup", S_FALSE, false, S_FALSE,
       u"Unknown error: " + dll + u":ProductCleanup, code: 0x1"},
      {"out of memory", true, "ProductCleanup", E_OUTOFMEMORY, false, E_OUTOFMEMORY,
       u"Error E_OUTOFMEMORY: " + dll + u":ProductCleanup"},
      {"unexpected", true, "ProductCleanup", E_UNEXPECTED, false, E_UNEXPECTED,
       u"Error E_UNEXPECTED: " + dll + u":ProductCleanup"},
      {"a missing export", true, "NoSuchExport", S_OK, false, ERROR_PROC_NOT_FOUND,
       u"Error GetProcAddress: " + dll + u":NoSuchExport, code: 0x0000007F"},
      {"a missing DLL", false, "ProductCleanup", S_OK, false, ERROR_MOD_NOT_FOUND,
       u"Error loading dll: " + dll + u", error code: 0x0000007E"},
      {"a crash: the last error at that moment", true, "ProductCleanup", S_OK, true, 0x1F,
       u"Caught exception in: " + dll + u":ProductCleanup, code 0x0000001F"},
  };
  for (const ExportCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start(sim::OsFacts::Windows7());
    if (c.library) machine_->AddLibrary(kServer, {{"ProductCleanup", Entry()}});
    g_entry.result = c.result;
    g_entry.crash = c.crash;
    g_entry.lastError = 0x1F;
    EXPECT_EQ(CallDllExport(kServer, c.exportName), c.expected);
    EXPECT_EQ(test::LogTexts(),
              c.line.empty() ? std::vector<std::u16string>{} : std::vector<std::u16string>{c.line});
    for (const LogEntry& entry : g_log.entries) {
      EXPECT_EQ(entry.level, LOG_MIN);
      EXPECT_EQ(entry.category, CAT_FILE);
    }
    EXPECT_EQ(machine_->LibraryLoadCount(kServer), 0) << "freed";
    if (c.library) {
      EXPECT_EQ(machine_->LibraryLoadFlags(kServer),
                std::vector<DWORD>{LOAD_WITH_ALTERED_SEARCH_PATH});
    }
  }
}

}  // namespace
}  // namespace zp
