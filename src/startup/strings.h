// The localized texts of the user interface, loaded by id from the program's string tables.
#pragma once

#include <string>

#include "platform/types.h"

namespace zp {

// Copies string `id` of `language` (falling back to English, 1033) from the string tables of
// `module` into `buffer` and terminates it; a longer string is cut to capacity - 1 characters.
// Returns the string's length, or 1 when there is none (the buffer is then left as it was).
int LoadLocalizedString(HMODULE module, UINT id, char16_t* buffer, int capacity, LANGID language);

// The text of `id` in the run's language from the program's tables, as a caller's buffer of
// `chars` characters holds it (empty when there is none).
std::u16string LoadText(UINT id, int chars = 32768);

}  // namespace zp
