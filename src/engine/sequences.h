// The removal sequences, one per product family; each returns false when it showed the failure
// box of a failed registry step.
#pragma once

namespace zp {

// Current generation: the variant follows the generation detection read.
bool RunCurrentGenerationRemoval();
bool RemoveCurrentGen5();
bool RemoveCurrentGen6();
bool RemoveCurrentGen7();

// Generation 4.
bool RemoveGen4Desktop();
bool RemoveGen4Server();
bool RemoveGen4ManagedClient();
bool RemoveGen4HomeServer();

// Legacy and side products.
bool RemoveRescueCdManager();
bool RemoveKerioPlugin();
bool RemovePdaEdition();
bool RemoveOld32BitProduct();
bool RemoveNetworkManager();

}  // namespace zp
