// The contract tests pin the Windows behaviour the system relies on. Each test runs twice: in the
// host build against the simulated machine, in the Windows build against the real backend under
// Wine. A difference is a defect of the simulator, or a Wine limitation marked in the test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/constants.h"
#include "platform/owners.h"
#include "platform/platform.h"

#ifndef _WIN32
#include "platform/sim/machine.h"
#endif

namespace zp::contract {

// Scratch places every test may fill; they are removed before and after each test.
inline constexpr const char16_t* kScratchKey = u"Software\\zorPurgeContract";
inline constexpr const char16_t* kScratchFolder = u"C:\\zpcontract";

std::u16string Scratch(std::u16string_view name);  // kScratchFolder + "\" + name
bool OnWine();

// Through the seam: recursive deletion of a key and of a folder, for the scratch places only.
void DeleteKeyTree(HKEY root, const std::u16string& path, REGSAM view = 0);
void DeleteFolderTree(const std::u16string& path);

LONG CreateKey(HKEY root, const std::u16string& path, UniqueRegKey* key, REGSAM view = 0);
LONG SetString(HKEY key, const char16_t* name, std::u16string_view text, DWORD type = REG_SZ);
bool WriteFile(const std::u16string& path, std::string_view content);
std::vector<std::u16string> ReadMultiString(HKEY root, const char16_t* path, const char16_t* name);

class Contract : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

#ifndef _WIN32
  std::unique_ptr<sim::Machine> machine_;
#endif
};

}  // namespace zp::contract
