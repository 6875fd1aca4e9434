// The end of a run: no restart, a Yes/No restart question, or an immediate restart.
#pragma once

namespace zp {

void ShowResults();

}  // namespace zp
