// "/preview" of the real zorPurge.exe under Wine: the planted generation-7 footprint and the
// other software beside it are exactly as they were after the run, no component of the product
// was called, and the log's "Would " lines name every item of the product and none of the others.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "footprint.h"
#include "robot.h"

namespace zp::e2e {
namespace {

std::wstring Upper(std::wstring text) {
  CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

std::wstring RootName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return L"HKLM";
  if (root == HKEY_CURRENT_USER) return L"HKCU";
  if (root == HKEY_CLASSES_ROOT) return L"HKLM\\Software\\Classes";
  return L"HKU";
}

// An item's place as the "Would " lines name it: a registry path with its root's short name
// (a value after its key), a service name, or a file path, which the program may write through
// the native system folder (for the Sysnative alias) or the 32-bit one (for what this 32-bit test
// sees as system32).
std::vector<std::wstring> PlacesOf(const Item& item) {
  switch (item.kind) {
    case Item::Key: return {RootName(item.root) + L"\\" + item.path};
    case Item::Value:
    case Item::ListEntry: return {RootName(item.root) + L"\\" + item.path + L"\\" + item.value};
    case Item::Service: return {item.path};
    default: break;
  }
  std::vector<std::wstring> places = {item.path};
  for (auto [alias, folder] : {std::pair{L"\\SYSNATIVE\\", L"\\system32\\"},
                               std::pair{L"\\SYSTEM32\\", L"\\syswow64\\"}}) {
    const std::wstring from(alias);
    if (size_t at = Upper(item.path).find(from); at != std::wstring::npos)
      places.push_back(std::wstring(item.path).replace(at, from.size(), folder));
  }
  return places;
}

// What one "Would ..." line names: its paths (both of a move), upper case, in the form above.
std::vector<std::wstring> TargetsOf(std::wstring line) {
  static const wchar_t* const kPhrases[] = {
      L"Would delete registry key ", L"Would delete registry value ", L"Would set registry value ",
      L"Would create registry key ", L"Would delete file ", L"Would delete folder ",
      L"Would schedule for deletion at restart ", L"Would schedule for moving at restart ",
      L"Would move ", L"Would copy ", L"Would delete service ", L"Would stop service ",
      L"Would write file ", L"Would set the attributes of ", L"Would load ",
  };
  std::vector<std::wstring> targets;
  for (const wchar_t* phrase : kPhrases) {
    const std::wstring start(phrase);
    if (line.rfind(start, 0) != 0) continue;
    std::wstring rest = line.substr(start.size());
    for (const wchar_t* view : {L" (64-bit view)", L" (32-bit view)"})
      if (size_t at = rest.find(view); at != std::wstring::npos) rest.erase(at);
    if (size_t to = rest.find(L" to "); to != std::wstring::npos) {
      targets.push_back(rest.substr(to + 4));
      rest.erase(to);
    }
    targets.push_back(rest);
  }
  // "Would write [section] key of <file>"
  if (line.rfind(L"Would write [", 0) == 0)
    if (size_t of = line.rfind(L" of "); of != std::wstring::npos) targets.push_back(line.substr(of + 4));
  for (std::wstring& target : targets) {
    target = Upper(target);
    // A user's own registry reached through HKEY_USERS names what HKEY_CURRENT_USER shows.
    if (target.rfind(L"HKU\\", 0) == 0 && target.find(L'\\', 4) != std::wstring::npos)
      targets.push_back(L"HKCU" + target.substr(target.find(L'\\', 4)));
    if (target.rfind(L"HKCR\\", 0) == 0) target.replace(0, 4, L"HKLM\\SOFTWARE\\CLASSES");
  }
  return targets;
}

bool Named(const std::vector<std::wstring>& targets, const Item& item) {
  for (const std::wstring& place : PlacesOf(item)) {
    const std::wstring upper = Upper(place);
    if (std::any_of(targets.begin(), targets.end(), [&](const std::wstring& target) {
          return !target.empty() && (upper == target || upper.rfind(target + L"\\", 0) == 0);
        }))
      return true;
  }
  return false;
}

TEST(Preview, ChangesNothingAndNamesEveryItemOfTheProduct) {
  CurrentEdition edition;
  edition.generation = 7;
  edition.programFolder = L"C:\\Program Files (x86)\\Keswin Software\\Ostrel";
  edition.dataFolder = L"C:\\ProgramData\\Keswin Software\\Ostrel";
  edition.service = L"\"" + OwnFolder() + L"zp_test_service.exe\" 500";
  edition.components = OwnFolder();
  Planted plantedProduct{CurrentProduct(edition)}, plantedOthers{Collateral(edition.programFolder)};
  const Footprint& product = plantedProduct.footprint;
  const Footprint& others = plantedOthers.footprint;
  std::wstring error;
  ASSERT_TRUE(Plant(others, &error)) << Narrow(error);
  ASSERT_TRUE(Plant(product, &error)) << Narrow(error);
  std::vector<const Item*> items;
  for (const Footprint* footprint : {&product, &others})
    for (const Item& item : footprint->items) items.push_back(&item);
  std::vector<State> before;
  for (const Item* item : items) before.push_back(StateOf(*item));
  for (const Item& item : product.items)
    ASSERT_EQ(StateOf(item), State::Present) << "not planted: " << Narrow(item.path);

  ProgramRun run = RunZorPurge(L"preview", L"/preview /verysilent /prod ois", {});
  ASSERT_TRUE(run.ended) << "the run did not end";
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(run.seen.empty()) << "a box: " << Narrow(run.seen.front().text);

  for (size_t i = 0; i < items.size(); ++i)
    EXPECT_EQ(StateOf(*items[i]), before[i]) << "changed: " << Narrow(items[i]->path);
  EXPECT_TRUE(run.calls.empty()) << "the product's code ran: " << run.calls.front();

  const std::wstring& text = run.log;
  std::vector<std::wstring> targets;
  size_t lines = 0;
  for (size_t at = text.find(L"Would "); at != std::wstring::npos; at = text.find(L"Would ", at + 1)) {
    const std::wstring line = text.substr(at, text.find(L'\r', at) - at);
    for (std::wstring& target : TargetsOf(line)) targets.push_back(target);
    ++lines;
  }
  EXPECT_NE(text.find(L"Preview: nothing was changed. The removal would:"), std::wstring::npos);
  ASSERT_GT(lines, 0u);
  // Items of the others that share a place with one of the product's (an entry of a shared list,
  // a line of a shared file, the script engine's value put back) are the product's change.
  std::vector<std::wstring> productPlaces;
  for (const Item& item : product.items) {
    productPlaces.push_back(Upper(PlacesOf(item).front()));
    EXPECT_TRUE(Named(targets, item)) << "not listed: " << Narrow(PlacesOf(item).front());
  }
  for (const Item& item : others.items) {
    const std::wstring place = Upper(PlacesOf(item).front());
    if (std::find(productPlaces.begin(), productPlaces.end(), place) != productPlaces.end())
      continue;
    EXPECT_FALSE(Named(targets, item)) << "listed: " << Narrow(place);
  }
}

}  // namespace
}  // namespace zp::e2e
