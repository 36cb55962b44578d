// The client's last-error slot (one per thread, as GetLastError) and error texts.
#pragma once

#include <liblocal/localapi.h>

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// What kind of code the slot holds.
#define VO_ERR_NONE 0    // no error recorded
#define VO_ERR_ERRNO 1   // a C runtime errno value
#define VO_ERR_WIN32 3   // a Windows error code (GetLastError)
#define VO_ERR_HRESULT 5 // an HRESULT

// Records a code and its kind for this thread. Any other kind is kept as given; its text
// is then "Unknown error".
LOCAL_API void vo_error_set_last(int code, int kind);
LOCAL_API int vo_error_get_last(void);
LOCAL_API int vo_error_get_last_kind(void);

// The text of this thread's last error in buf, UTF-8, bounded by size, without the
// system's trailing line end: FormatMessageW's text for Windows codes and HRESULTs,
// strerror's for errno values, "Unknown error" when there is none (and "No error" for
// VO_ERR_NONE). Returns buf (NULL for a NULL buf; size 0 writes nothing).
LOCAL_API char *vo_error_get_message(char *buf, size_t size);

// The errno value nearest to a code of the given kind (ERROR_FILE_NOT_FOUND -> ENOENT,
// E_OUTOFMEMORY -> ENOMEM, HRESULTs of facility Win32 by their Windows code, ...); 0 for
// no error, EIO when nothing nearer fits.
LOCAL_API int vo_error_to_errno(int code, int kind);

// The text of GetLastError() as vo_error_get_message gives it, and the code recorded as
// this thread's last error (VO_ERR_WIN32). The text lives in a per-thread ring of 4
// buffers, so up to 4 results may be used together.
LOCAL_API const char *nt_syserror(void);

#ifdef __cplusplus
}
#endif
