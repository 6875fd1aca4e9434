#include "startup/preview.h"

#include <set>

#include "engine/removal_run.h"
#include "resource_ids.h"
#include "setup/format.h"
#include "setup/log.h"
#include "setup/paths.h"
#include "startup/strings.h"

namespace zp {
namespace {

PreviewPlatform* g_preview = nullptr;

using Kind = PreviewChange::Kind;

std::u16string Line(const PreviewChange& change) {
  const std::u16string& target = change.target;
  const std::u16string& detail = change.detail;
  // A registry view, when one was named, follows the key.
  const std::u16string view = detail.empty() ? u"" : Format(u" (%s)", detail);
  switch (change.kind) {
    case Kind::CreateKey: return Format(u"Would create registry key %s%s", target, view);
    case Kind::SetValue: return Format(u"Would set registry value %s\\%s", target, detail);
    case Kind::DeleteKey: return Format(u"Would delete registry key %s%s", target, view);
    case Kind::DeleteValue: return Format(u"Would delete registry value %s\\%s", target, detail);
    case Kind::SaveKey: return Format(u"Would save registry key %s to %s", target, detail);
    case Kind::SetAttributes: return Format(u"Would set the attributes of %s to %s", target, detail);
    case Kind::DeleteFile: return Format(u"Would delete file %s", target);
    case Kind::CreateFolder: return Format(u"Would create folder %s", target);
    case Kind::RemoveFolder: return Format(u"Would delete folder %s", target);
    case Kind::MoveFile: return Format(u"Would move %s to %s", target, detail);
    case Kind::CopyFile: return Format(u"Would copy %s to %s", target, detail);
    case Kind::DeleteAtRestart: return Format(u"Would schedule for deletion at restart %s", target);
    case Kind::MoveAtRestart:
      return Format(u"Would schedule for moving at restart %s to %s", target, detail);
    case Kind::WriteFile: return Format(u"Would write file %s", target);
    case Kind::WriteProfile: return Format(u"Would write %s of %s", detail, target);
    case Kind::CreateService: return Format(u"Would create service %s (%s)", target, detail);
    case Kind::StartService: return Format(u"Would start service %s", target);
    case Kind::StopService: return Format(u"Would stop service %s", target);
    case Kind::DeleteService: return Format(u"Would delete service %s", target);
    case Kind::RunProgram: return Format(u"Would run %s", target);
    case Kind::LoadLibrary: return Format(u"Would load %s", target);
    case Kind::CallExport: return Format(u"Would call %s", target);
    case Kind::ControlDevice: return Format(u"Would send control %s to %s", detail, target);
    case Kind::UninstallDriverPackage: return Format(u"Would uninstall driver package %s", target);
    case Kind::RemoveNetworkComponent: return Format(u"Would remove network component %s", target);
    case Kind::DeleteWmiInstance: return Format(u"Would delete WMI instance %s", target);
    case Kind::SetSecurity: return Format(u"Would change the security of %s", target);
    case Kind::PostMessage: return Format(u"Would post message %s to the window %s", detail, target);
    case Kind::Shutdown: return Format(u"Would restart Windows (%s)", target);
  }
  return {};
}

bool IsDeletion(Kind kind) {
  return kind == Kind::DeleteFile || kind == Kind::RemoveFolder || kind == Kind::DeleteAtRestart;
}

}  // namespace

PreviewScope::PreviewScope()
    : wrapped_(InstalledPlatform()), preview_(std::make_unique<PreviewPlatform>(wrapped_)) {
  InstallPlatform(preview_->Facets());
  g_preview = preview_.get();
}

PreviewScope::~PreviewScope() {
  g_preview = nullptr;
  InstallPlatform(wrapped_);
}

void ForgetPreviewChanges() {
  if (g_preview) g_preview->ClearChanges();
}

std::vector<std::u16string> PreviewLines(const std::vector<PreviewChange>& changes) {
  std::set<std::u16string> deleted;  // upper case
  for (const PreviewChange& change : changes)
    if (IsDeletion(change.kind)) deleted.insert(UpperCase(change.target));
  std::vector<std::u16string> lines;
  std::set<std::u16string> seen;
  for (const PreviewChange& change : changes) {
    if (change.kind == Kind::SetAttributes && deleted.count(UpperCase(change.target))) continue;
    std::u16string line = Line(change);
    if (seen.insert(UpperCase(line)).second) lines.push_back(std::move(line));
  }
  return lines;
}

void ReportPreview() {
  if (g_preview == nullptr) return;
  const std::vector<std::u16string> lines = PreviewLines(g_preview->Changes());
  g_preview->ClearChanges();
  const std::u16string intro = LoadText(IDS_PREVIEW_INTRO);
  g_log.Add(intro, LOG_MIN, CAT_GENERAL);
  AppendProgress(intro);
  for (const std::u16string& line : lines) {
    g_log.Add(line, LOG_MIN, CAT_GENERAL);
    AppendProgress(line);
  }
}

}  // namespace zp
