// Export and import of libvssrequester's symbols.
#pragma once

#include <platform/tvplatform.h>

#ifdef LIBVSSREQUESTER_BUILD
#define VSSCR_API TV_SYMBOL_EXPORT
#else
#define VSSCR_API TV_SYMBOL_IMPORT
#endif
