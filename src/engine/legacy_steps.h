// What the sequences of the legacy and side products share: their folder deletion, and the two
// blocks of the network manager that reach outside its folder (its SQL database, the report
// engine it shares with other software).
#pragma once

#include <string>

namespace zp {

// The product folder as DeleteProductFolder deletes it; when it went, `alsoDeleted` (if any)
// runs and then the progress line of the program files. No data folder, no driver packages.
void RemoveSideProductFolder(void (*alsoDeleted)() = nullptr);

// Where the network manager's database lives and who may log on to it: DataSource from the
// product's ostrel4.ini, the others from the product's secure storage. Empty when not known.
struct DbSettings {
  std::u16string dataSource;
  std::u16string catalog;
  std::u16string userId;
  std::u16string password;
};

// The settings as the product keeps them (see DbSettings).
DbSettings ReadDbSettings();
// The database, through the product's Install.dll, after asking (in every run mode); then the
// offer to uninstall the SQL engine the product installed for it.
void RemoveManagementDatabase(const DbSettings& settings);
// The report engine's components, unless other software still counts on them.
void RemoveCrystalReportsComponents();

}  // namespace zp
