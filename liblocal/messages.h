// Messages of the client: a catalogue number, a code, and a text rendered from a format
// and tagged arguments.
//
// Arguments after the format come as pairs (int tag, const char *text), one pair for each
// conversion of the format (%s, %d, %u, %x, %ld, %lu, %lx, %lld, %llu, %.2f, ...; %% takes
// none; a '*' width or precision takes a pair of its own, read as a number). The pair's
// text is rendered into its conversion:
//   - %s renders the text (width and precision count bytes; a precision never cuts a
//     UTF-8 character in two);
//   - a numeric conversion parses the text as a number (decimal, or hexadecimal after
//     "0x") and renders that number with Windows sizes: no length or 'l' is 32 bits, so
//     "0x%x" of inttostr(-2147467259) is 0x80004005; "ll", "I64", 'j' and 'z' are 64 bits;
//     a text that is not a number is rendered as it stands;
//   - %c renders the number's character, or the text's first character;
//   - %p renders the text; %n writes nothing and renders nothing;
//   - a NULL text renders as "(null)" in every conversion;
//   - an unknown conversion is rendered literally and takes no pair;
//   - widths and precisions above 4096 count as 4096.
// Texts are UTF-8 and so is the rendered message.
#pragma once

#include <liblocal/localapi.h>

#ifdef __cplusplus
extern "C" {
#endif

// Argument tags. All of them are rendered as their text; an error text (VO_ARG_ERRTEXT)
// loses its trailing white space and line ends first, since system texts end in CR LF.
#define VO_ARG_TEXT 0    // plain text
#define VO_ARG_INT 1     // a number made by inttostr
#define VO_ARG_ULONG 2   // a number made by ulongtostr
#define VO_ARG_PATH 23   // a file path
#define VO_ARG_ERRTEXT 24 // an error text
#define VO_ARG_NAME 42   // a writer, component or volume name

// Severity bits given to msg_print. They only choose the label of the log line
// ("warning" when VO_SEV_WARNING is set, else "error" for VO_SEV_ERROR, else "info").
#define VO_SEV_INFO 0x01
#define VO_SEV_ERROR 0x02
#define VO_SEV_WARNING 0x10

// The opaque message handle.
typedef struct vo_msg vo_msg;

// Builds a message. Never returns NULL (a NULL handle means success to every caller): a
// NULL format gives the text "(null)". Aborts only when memory runs out. The handle
// belongs to the caller, who frees it with msg_free.
LOCAL_API struct vo_msg *msg_create(int number, int code, const char *format, ...);

// Builds a message and prints it at once: to standard error (with a line end added when
// the text has none) and as one entry to the message log VO_MESSAGE_LOG_NAME in the logs
// directory, and to the output hook. Returns the length in bytes of the rendered text.
LOCAL_API int msg_print(int number, int code, int severity, const char *format, ...);

// Prints a message made by msg_create as msg_print would. Returns the length of its text,
// or -1 for a NULL handle (nothing printed). The handle stays the caller's.
LOCAL_API int msg_print_handle(const struct vo_msg *message, int severity);

// Releases a message. NULL is harmless.
LOCAL_API void msg_free(struct vo_msg *message);

// The parts of a message. The text belongs to the handle and lives until msg_free. For a
// NULL handle: "" and 0.
LOCAL_API const char *msg_text(const struct vo_msg *message);
LOCAL_API int msg_number(const struct vo_msg *message);
LOCAL_API int msg_code(const struct vo_msg *message);

#ifdef __cplusplus
}
#endif
