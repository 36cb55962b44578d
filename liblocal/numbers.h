// Text of numbers, for message arguments.
#pragma once

#include <liblocal/localapi.h>

#ifdef __cplusplus
extern "C" {
#endif

// The decimal text of a number. The text lives in a per-thread ring of buffers, so up to
// TV_NUMBER_TEXT_SLOTS results may be used together (as the arguments of one message).
#define TV_NUMBER_TEXT_SLOTS 16
LOCAL_API char *inttostr(int value);
LOCAL_API char *ulongtostr(unsigned long value);

#ifdef __cplusplus
}
#endif
