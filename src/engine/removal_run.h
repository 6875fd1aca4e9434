// The removal engine: one RemovalRun hands the product to its fixed sequence of steps; the
// sequences report to the dialog's progress view through AppendProgress.
#pragma once

#include <string_view>

namespace zp {

enum class RemovalResult {
  UnknownProduct,  // empty or outside the catalogue: nothing was removed
  Completed,
  Failed,  // the failure box was shown (the registry step failed)
};

RemovalResult RemovalRun();

// Adds one line (and CR LF) to the dialog's progress view; nothing in a silent run.
void AppendProgress(std::u16string_view line);

}  // namespace zp
