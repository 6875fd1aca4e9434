#include "startup/help.h"

#include <string_view>

#include "catalogue/catalogue.h"
#include "platform/constants.h"
#include "platform/platform.h"

namespace zp {
namespace {

struct Line {
  std::u16string_view usage;
  std::u16string_view effect;
};

constexpr Line kOptions[] = {
    {u"/silent", u"no dialog; questions are still shown; no restart is offered"},
    {u"/verysilent", u"no dialog; the removal's questions count as Yes"},
    {u"/nosafemode", u"no Safe Mode question: the removal runs in the running Windows"},
    {u"/noreboot", u"no restart question at the end"},
    {u"/forcerestart", u"restart at the end without asking, when a restart is offered"},
    {u"/forceuninstallpro", u"hand the generation-4 product to its own setup library"},
    {u"/prod <productId>", u"the product to remove in a silent run"},
    {u"/log <file>", u"append the run's whole log to the file"},
    {u"/preview", u"list what the removal would change and change nothing (silent: needs /log)"},
    {u"/? or /help", u"show this text"},
};

constexpr Line kExitCodes[] = {
    {u"0", u"done (or the dialog was closed, or Safe Mode was prepared)"},
    {u"1", u"refused: the product's self-protection is active"},
    {u"2", u"a silent removal failed"},
    {u"87", u"a silent run without a productId of the catalogue, or a silent /preview without /log"},
};

}  // namespace

std::u16string HelpText() {
  std::u16string text = u"zorPurge [options]\n\nOptions (they may start with - or /):\n";
  for (const Line& option : kOptions)
    text.append(u"  ").append(option.usage).append(u" - ").append(option.effect).append(u"\n");

  text += u"\nProduct ids:";
  std::u16string ids;
  for (const CatalogueEntry& entry : DisplayList()) {
    const std::u16string id(entry.productId);
    if ((u" " + ids + u" ").find(u" " + id + u" ") != std::u16string::npos) continue;
    ids.append(ids.empty() ? u"" : u" ").append(id);
  }
  text.append(u" ").append(ids).append(u"\n\nExit codes:\n");
  for (const Line& code : kExitCodes)
    text.append(u"  ").append(code.usage).append(u" - ").append(code.effect).append(u"\n");
  return text;
}

void ShowHelp() {
  const std::u16string text = HelpText();
  Ui().MessageBoxW(nullptr, text.c_str(), u"zorPurge", MB_OK | MB_ICONINFORMATION);
}

}  // namespace zp
