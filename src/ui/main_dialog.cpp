#include "ui/main_dialog.h"

namespace zp {

// The dialog itself is not built yet: an interactive run ends here.
void ShowMainDialog(HMODULE) {}

}  // namespace zp
