// zp_demo_robot.exe: the demo's hands. Plants the generation-7 product and other software beside
// it, starts zorPurge.exe from its own folder and removes the product through the dialog as an
// administrator would: No to Safe Mode, Uninstall, Yes to the folder, No to the restart. At the
// Safe Mode question, at the dialog and at the restart question it leaves a marker file in its
// folder ("question.ready", "dialog.ready", "removed.ready") and waits until the demo script has
// taken its screenshot (".shot"). It writes what the dialog reported and what the footprint
// check found to demo-report.txt, and takes everything it planted away again.
#include <windows.h>

#include <string>

#include "dialog_robot.h"
#include "footprint.h"
#include "robot.h"

namespace {

constexpr int kProgress = 1000, kUninstallButton = 1003, kClose = 8;

bool WaitForFile(const std::wstring& path, int seconds) {
  for (int tick = 0; tick < seconds * 10; ++tick) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    Sleep(100);
  }
  return false;
}

// Leaves the marker and waits for the screenshot.
void Pose(const std::wstring& folder, const wchar_t* marker) {
  zp::e2e::WriteFileBytes(folder + marker + L".ready", {});
  WaitForFile(folder + marker + L".shot", 120);
}

}  // namespace

int wmain() {
  using namespace zp::e2e;
  const std::wstring folder = OwnFolder();
  const std::wstring report = folder + L"demo-report.txt";
  const std::wstring productFolder = L"C:\\Program Files (x86)\\Keswin Software\\Ostrel";
  Planted others{Collateral(productFolder)};
  Planted product{
      Gen7ConsumerProduct(productFolder, L"\"" + folder + L"zp_test_service.exe\" 300")};
  std::wstring error;
  if (!Plant(others.footprint, &error) || !Plant(product.footprint, &error)) {
    WriteFileBytes(report, "could not plant the product: " + Narrow(error) + "\n");
    return 7;
  }

  Robot robot;
  if (!robot.Start(L"\"" + folder + L"zorPurge.exe\"")) return 2;
  if (!FindMessageBox(robot.processId(), 300)) return 3;
  Pose(folder, L"question");
  if (!robot.AnswerNextBox(IDNO, 30)) return 4;
  HWND dialog = FindMainDialog(robot.processId(), 300);
  if (!dialog) return 5;
  Pose(folder, L"dialog");

  PostClick(dialog, kUninstallButton);
  // Not the product's default place: the program asks before it deletes the folder.
  if (!robot.AnswerNextBox(IDYES, 300)) return 8;
  if (!FindMessageBox(robot.processId(), 300)) return 9;  // the restart question: removal done
  Pose(folder, L"removed");
  if (!robot.AnswerNextBox(IDNO, 30)) return 10;
  const std::wstring progress = ControlText(dialog, kProgress);
  PostClick(dialog, kClose);
  robot.AnswerNextBox(IDNO, 30);  // the restart question once more, on closing
  DWORD exitCode = 0;
  if (!robot.WaitForExit(60, &exitCode)) return 6;

  std::vector<std::wstring> wrong = Remnants(product.footprint);
  std::vector<std::wstring> othersWrong = Remnants(others.footprint);
  wrong.insert(wrong.end(), othersWrong.begin(), othersWrong.end());
  std::string text = "The dialog reported:\n" + Narrow(progress) + "\n";
  text += wrong.empty() ? "Footprint check: every item of the product is gone or scheduled for "
                          "the restart; every item of the other software is intact.\n"
                        : "Footprint check found:" + Report(wrong) + "\n";
  WriteFileBytes(report, text);
  return wrong.empty() ? static_cast<int>(exitCode) : 11;
}
