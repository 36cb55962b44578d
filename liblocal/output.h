// Where the runtime's output goes: printed messages and debug lines go to their sinks
// (standard error and the message log, the debug log) and, when one is set, to an output
// hook, which is how tests and embedding programs see them.
#pragma once

#include <liblocal/localapi.h>

#ifdef __cplusplus
extern "C" {
#endif

// Files in the logs directory (vo_get_logsdir()) that the runtime appends to.
#define VO_MESSAGE_LOG_NAME "client.log"
#define VO_DEBUG_LOG_NAME "debug.log"

// What a hook call carries.
#define VO_OUTPUT_MESSAGE 1 // a message printed by msg_print or msg_print_handle
#define VO_OUTPUT_DEBUG 2   // a line written by debugprintf (number, code and severity are 0)

// Called once per printed message or debug line, on the thread that produced it, with the
// rendered UTF-8 text exactly as rendered (a trailing newline of the format stays). The text
// is valid only during the call. The hook must not print messages itself.
typedef void (*vo_output_hook)(void *context, int kind, int number, int code, int severity,
                               const char *text);

// Sets the one process-wide hook (NULL clears it). The sinks keep receiving everything; the
// hook is an extra observer. A call made while another thread is inside the old hook does
// not wait for it.
LOCAL_API void vo_set_output_hook(vo_output_hook hook, void *context);

#ifdef __cplusplus
}
#endif
