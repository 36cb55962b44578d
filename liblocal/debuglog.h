// The client's debug log and the switches that control it.
#pragma once

#include <liblocal/localapi.h>

#ifdef __cplusplus
extern "C" {
#endif

// The host's debug level: 0 means no debug output, higher values enable more. Set by the
// client program; the runtime starts it at 0.
LOCAL_API extern int Debug;

// The trace mask: each bit enables a kind of trace output independently of the level.
LOCAL_API extern unsigned int VoTrace;

// Writes one line, formatted as by printf, to the debug log VO_DEBUG_LOG_NAME in the logs
// directory (time-stamped, a line end added when missing) and to the output hook. It does
// not test Debug or VoTrace: callers decide. Wide text has no portable conversion here;
// convert it to UTF-8 first. A NULL format writes nothing.
LOCAL_API void debugprintf(const char *format, ...) VO_PRINTF_FORMAT(1, 2);

#ifdef __cplusplus
}
#endif
