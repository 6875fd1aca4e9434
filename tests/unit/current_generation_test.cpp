// The current-generation sequences on the simulated machine: the variant by generation, the
// order of the progress lines, the failure path of the registry step, and the services step.
#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "engine/removal_run.h"
#include "engine/sequences.h"
#include "engine/steps.h"
#include "platform/constants.h"
#include "resource_ids.h"
#include "setup/setup_globals.h"
#include "startup/entry.h"
#include "startup/run_settings.h"
#include "test_support.h"
#include "toolkit/restart_list.h"
#include "toolkit/self_protection.h"
#include "toolkit/services.h"

namespace zp {
namespace {

constexpr const char16_t* kUninstall =
    u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ostrel";
constexpr const char16_t* kUninstallGen5 =
    u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ostrel5";
constexpr const char16_t* kGen5Key = u"HKLM\\Software\\Keswin Software\\Ostrel\\5.0";
const std::u16string kFailure =
    u"Program could not be removed.\nPlease contact tech support by email support@example.com";

class CurrentGeneration : public test::FreshProcess {
 protected:
  void Start(sim::OsFacts os = sim::OsFacts::WindowsXp()) {
    machine_ = std::make_unique<sim::Machine>(std::move(os));
    test::AddProgramStrings(*machine_);
    machine_->CreateKey(kUninstall);
    machine_->CreateKey(kUninstallGen5);
    machine_->AddDevice(u"zorSP", [this](DWORD code, std::span<const BYTE>, std::vector<BYTE>*) {
      driverCodes_.push_back(code);
      return true;
    });
    machine_->Install();
    g_setup.Init();
    g_setup.hInstance = machine_->ProgramModule();
    g_setup.languageId = 1033;
    g_product.productId = u"ois";
    g_product.gen5RegistryKey = u"Software\\Keswin Software\\Ostrel\\5.0";
    g_product.productRegistryKey = u"Software\\OSTREL Software\\Ostrel";
  }
  HWND OpenDialog() {
    HWND dialog = machine_->AddDialog();
    machine_->AddControl(dialog, IDC_PROGRESS);
    g_run.dialogWindow = dialog;
    return dialog;
  }
  std::unique_ptr<sim::Machine> machine_;
  std::vector<DWORD> driverCodes_;
};

TEST_F(CurrentGeneration, TheGenerationChoosesTheSequence) {
  struct Case {
    std::int32_t generation;
    bool gen5Entry;  // which uninstall entry the sequence deletes
    bool handshake;
  };
  const Case cases[] = {{5, true, false}, {6, false, false}, {7, false, true},
                        {8, false, true}, {0, true, false},  {9, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.generation);
    ResetProcessState();
    driverCodes_.clear();
    Start();
    g_product.detectedGeneration = c.generation;
    EXPECT_EQ(RemovalRun(), RemovalResult::Completed);
    EXPECT_EQ(machine_->KeyExists(kUninstallGen5), !c.gen5Entry);
    EXPECT_EQ(machine_->KeyExists(kUninstall), c.gen5Entry);
    EXPECT_EQ(!driverCodes_.empty() && driverCodes_[0] == IOCTL_ZORSP_HANDSHAKE, c.handshake);
  }
}

TEST_F(CurrentGeneration, ProgressLinesInTheirOrder) {
  Start();
  HWND dialog = OpenDialog();
  g_product.detectedGeneration = 7;
  RemovalRun();
  EXPECT_EQ(machine_->ControlText(dialog, IDC_PROGRESS),
            u"Service ostrel! Antivirus - Removed\r\nResident protection - Removed\r\n"
            u"Explorer extensions - Removed\r\nRegistry - Removed\r\n"
            u"Program was successfully removed\r\n");
  EXPECT_TRUE(machine_->messageBoxes().empty());
}

TEST_F(CurrentGeneration, AFailedRegistryStepShowsTheBoxAndKeepsTheProgramFiles) {
  Start();
  HWND dialog = OpenDialog();
  g_setup.silentLevel = 3;
  g_product.detectedGeneration = 5;
  machine_->DenyKeyAccess(kGen5Key, 0x10000);  // DELETE
  machine_->AnswerMessageBoxes({IDOK});
  machine_->AddFile(u"C:\\locked.sys");
  ScheduleDeleteOnRestart(u"C:\\locked.sys");

  EXPECT_EQ(RemovalRun(), RemovalResult::Failed);
  ASSERT_EQ(machine_->messageBoxes().size(), 1u) << "shown also when very silent";
  EXPECT_EQ(machine_->messageBoxes()[0].text, kFailure);
  EXPECT_EQ(machine_->messageBoxes()[0].caption, u"zorPurge");
  EXPECT_EQ(machine_->messageBoxes()[0].owner, nullptr);
  EXPECT_EQ(machine_->messageBoxes()[0].type, MB_OK);
  EXPECT_FALSE(g_setup.offerRestart);
  EXPECT_EQ(machine_->ControlText(dialog, IDC_PROGRESS),
            u"Service ostrel! Antivirus - Removed\r\nResident protection - Removed\r\n"
            u"Explorer extensions - Removed\r\nProgram was successfully removed\r\n");
  EXPECT_FALSE(machine_->KeyExists(kUninstallGen5)) << "the uninstall entry still goes";
  EXPECT_FALSE(machine_->wmi().connects.empty()) << "the Security Center cleanup still runs";
  EXPECT_EQ(machine_->ComInitializations(), 0);
  EXPECT_FALSE(machine_->MultiString(u"HKLM\\System\\CurrentControlSet\\Control\\Session Manager",
                                     u"PendingFileRenameOperations").empty())
      << "the restart-time list is still handed over";
}

TEST_F(CurrentGeneration, ASilentRunThatFailedEndsWithExitCodeTwo) {
  ResetProcessState();
  sim::Machine machine(sim::OsFacts::WindowsXp());
  test::AddProgramStrings(machine);
  machine.SetString(kGen5Key, u"ProgramFolder", u"C:\\Program Files\\Ostrel5");
  machine.AddFolder(u"C:\\Program Files\\Ostrel5");
  machine.DenyKeyAccess(kGen5Key, 0x10000);  // detection reads it; the removal cannot delete it
  machine.AnswerMessageBoxes({IDNO, IDOK});
  machine.Install();
  EXPECT_EQ(ProgramMain(machine.ProgramModule(), u"/verysilent /prod ois"), kExitRemovalFailed);
  ASSERT_EQ(machine.messageBoxes().size(), 2u);
  EXPECT_EQ(machine.messageBoxes()[1].text, kFailure);
  EXPECT_TRUE(machine.shutdowns().empty());
}

TEST_F(CurrentGeneration, RegistryStepSucceedsWhenTheMainKeyIsGone) {
  struct Case {
    const char* name;
    std::int32_t generation;
    bool gen5Key, currentKey, undeletable;
    LONG result;
  };
  const Case cases[] = {
      {"generation 5 with its key", 5, true, false, false, ERROR_SUCCESS},
      {"generation 6, the key went with the fixed keys", 6, false, true, false, ERROR_SUCCESS},
      {"generation 7 on a clean machine", 7, false, false, false, ERROR_SUCCESS},
      {"a sub-key that cannot be deleted", 5, true, false, true, ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetProcessState();
    Start();
    g_product.detectedGeneration = c.generation;
    if (c.gen5Key) machine_->SetString(kGen5Key, u"ProgramFolder", u"C:\\P");
    if (c.currentKey)
      machine_->SetString(u"HKLM\\Software\\OSTREL Software\\Ostrel", u"Version", u"6.0");
    if (c.undeletable) machine_->DenyKeyAccess(std::u16string(kGen5Key) + u"\\Locked", 0x10000);
    EXPECT_EQ(RemoveRegistryEntries(), c.result);
    EXPECT_EQ(machine_->KeyExists(kGen5Key), c.undeletable);
  }
}

TEST_F(CurrentGeneration, SecurityCenterOnlyFromWindowsXpOn) {
  for (bool xp : {false, true}) {
    ResetProcessState();
    Start(xp ? sim::OsFacts::WindowsXp() : sim::OsFacts::Windows2000());
    g_product.detectedGeneration = 7;
    RemovalRun();
    EXPECT_EQ(machine_->wmi().connects.empty(), !xp);
    EXPECT_EQ(machine_->ComInitializations(), 0);
  }
}

constexpr const char16_t* kLoudAndQuiet[] = {
    u"ostrel! Mail Scanner", u"ostrel! Firewall", u"ostrel! Antivirus",
    u"ostrel! Enterprise Client Service", u"ostrelWHSP", u"OstrelWhsClient",
    u"Ostrel.WHS.Provider.exe", u"Ostrel.WHS.Client.exe", u"zorRvrt", u"zorVmm"};

TEST_F(CurrentGeneration, ServicesStepWithNoServices) {
  Start();
  g_log.entries.clear();
  RemoveProductServices();
  std::vector<std::u16string> expected;
  for (const char16_t* name : kLoudAndQuiet)
    expected.push_back(u"Service " + std::u16string(name) + u" uninstalled");
  EXPECT_EQ(test::LogTexts(), expected);
  EXPECT_TRUE(machine_->messageBoxes().empty());
}

TEST_F(CurrentGeneration, ServicesStepStopsDeletesAndShowsLoudFailures) {
  Start();
  machine_->AddService(u"ostrel! Remote Install Service");  // probed, stopped: deleted only
  machine_->AddService(u"ostrel! Mail Scanner", SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING);
  machine_->AddService(u"ostrel! Firewall");
  machine_->DenyServiceAccess(u"ostrel! Firewall", DELETE);  // quiet: no box
  machine_->AddService(u"ostrel! Antivirus", SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, 500);
  machine_->DenyServiceAccess(u"ostrel! Antivirus", DELETE);  // loud: a box
  machine_->AddService(u"zorVmm", SERVICE_KERNEL_DRIVER, SERVICE_RUNNING);
  machine_->AnswerMessageBoxes({IDOK, IDOK});
  RemoveProductServices();

  EXPECT_FALSE(machine_->ServiceExists(u"ostrel! Remote Install Service"));
  EXPECT_FALSE(machine_->ServiceExists(u"ostrel! Mail Scanner")) << "stopped, then deleted";
  EXPECT_TRUE(machine_->ServiceExists(u"ostrel! Firewall"));
  EXPECT_EQ(machine_->ServiceState(u"ostrel! Antivirus"), SERVICE_STOPPED);
  ASSERT_EQ(machine_->messageBoxes().size(), 1u);
  EXPECT_EQ(machine_->messageBoxes()[0].text, u"uninstall service error 0x00000005");
  EXPECT_EQ(machine_->messageBoxes()[0].caption, u"");
  EXPECT_FALSE(machine_->ServiceExists(u"zorVmm"));
}

TEST_F(CurrentGeneration, AServiceAlreadyMarkedForDeletion) {
  Start();
  machine_->AddService(u"zorRvrt", SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, -1);
  machine_->DenyServiceAccess(u"zorRvrt", SERVICE_STOP);  // it keeps running
  ASSERT_EQ(RemoveService(u"zorRvrt"), 0);               // marked, not yet gone
  ASSERT_TRUE(machine_->ServiceMarkedForDeletion(u"zorRvrt"));
  machine_->AnswerMessageBoxes({IDOK});
  RemoveProductServices();
  ASSERT_EQ(machine_->messageBoxes().size(), 1u);
  EXPECT_EQ(machine_->messageBoxes()[0].text, u"uninstall service error 0x00000430");
}

}  // namespace
}  // namespace zp
