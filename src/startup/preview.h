// "/preview": the removal as it would run, with nothing changed. The preview backend wraps the
// installed one for the whole process; the changes it recorded are reported as "Would ..." lines.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/preview/preview.h"

namespace zp {

// Installs the preview backend over the installed one for its lifetime, and puts the wrapped
// backend back at the end.
class PreviewScope {
 public:
  PreviewScope();
  ~PreviewScope();
  PreviewScope(const PreviewScope&) = delete;
  PreviewScope& operator=(const PreviewScope&) = delete;

 private:
  Platform wrapped_;
  std::unique_ptr<PreviewPlatform> preview_;
};

// Forgets what the preview recorded so far (the start-up's own bookkeeping).
void ForgetPreviewChanges();

// One line per recorded change, in order, each beginning "Would "; a line repeated in any case
// appears once (the names of Windows ignore case), and an attribute change of a path that is
// deleted later is part of that deletion.
std::vector<std::u16string> PreviewLines(const std::vector<PreviewChange>& changes);

// Writes the changes recorded so far to the log and the dialog's progress view, after the line
// that introduces them, and forgets them. Nothing outside a preview.
void ReportPreview();

}  // namespace zp
