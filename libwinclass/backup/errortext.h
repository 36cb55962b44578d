// The text of an HRESULT or Windows error code, as the requester code puts it into its
// messages.
#pragma once

#include <cstddef>
#include <cstdint>

namespace winclass {

// The smallest buffer the error text is written into; a smaller one is left untouched.
constexpr size_t kErrorTextMinimum = 1024;

// Writes the text of code into buffer (UTF-8, bounded by size). A code the system has no
// text for gives "Unknown error (Error code 0x<code>)". Refusals (a null buffer, a buffer
// below kErrorTextMinimum) are logged only; the function never fails.
void FormatErrorText(uint32_t code, size_t size, char *buffer);

} // namespace winclass
