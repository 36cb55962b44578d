// Files, paths and directories by UTF-8 path, over the wide Windows calls.
#pragma once

#include <liblocal/localapi.h>

#include <stddef.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

// vo_fopen flags.
#define VO_FOPEN_MKDIRS 0x1 // create the missing directories of the path first

// fopen by UTF-8 path and mode ("r", "wb", "a+", ...). NULL on failure, with errno and the
// last error (VO_ERR_ERRNO) set; a NULL path or mode, or an unknown flag, gives EINVAL.
LOCAL_API FILE *vo_fopen(const char *path, const char *mode, int flags);

// fgets; NULL (reading nothing) for a NULL buffer or file or a size below 1.
LOCAL_API char *vo_fgets(char *buffer, int size, FILE *file);

// fclose; EOF for NULL.
LOCAL_API int vo_fclose(FILE *file);

// Moves the position of a file as lseek does (whence 0 start, 1 current, 2 end) and
// returns the new position, or -1 (errno set) on failure or for a NULL file. Positions
// are limited to those a long holds (2 GiB - 1 on Windows).
LOCAL_API long long vo_lseek(FILE *file, long long offset, int whence);

// vfprintf; -1 for a NULL file or format.
LOCAL_API int vo_fprintf(FILE *file, const char *format, ...) VO_PRINTF_FORMAT(2, 3);

// What vo_stat reports.
#define VO_STAT_DIRECTORY 0x1
#define VO_STAT_REGULAR 0x2
struct vo_statbuf {
    unsigned long long size;     // bytes
    long long modified;          // seconds since 1970-01-01 UTC
    long long accessed;
    long long created;           // creation time on Windows
    unsigned int type;           // VO_STAT_DIRECTORY or VO_STAT_REGULAR (0 for others)
    unsigned int mode;           // the C runtime's st_mode
};

// 0 when the path exists (and *info, when given, is filled), -1 otherwise with errno and
// the last error (VO_ERR_ERRNO) set; EINVAL for a NULL path.
LOCAL_API int vo_stat(const char *path, struct vo_statbuf *info);

// Appends sep unless the text is empty or already ends with a separator ('\\' or '/' when
// sep is one of them). The buffer must have room for vo_strlen(text) + 2 bytes. Returns
// text (NULL for NULL).
LOCAL_API char *adddirsep(char *text, char sep);
LOCAL_API WCHAR *adddirsepw(WCHAR *text, WCHAR sep);

// Removes one trailing sep, unless the text is that one character. Returns text.
LOCAL_API char *rmdirsep(char *text, char sep);

// dir and name joined by exactly one '\\' (a separator at the end of dir or the start of
// name is not doubled), in a new buffer freed with free. A NULL or empty part gives a
// copy of the other; NULL when both are NULL.
LOCAL_API char *path_concat(const char *dir, const char *name);

// Creates the directory and every missing parent. mode is accepted for callers written
// for POSIX and ignored (Windows directories inherit their security). Returns 1 when the
// directory exists afterwards, 0 otherwise with GetLastError() and the last error
// (VO_ERR_WIN32) set: ERROR_INVALID_PARAMETER for a NULL or empty path,
// ERROR_ALREADY_EXISTS when a part of the path is a file.
LOCAL_API int vo_mkdirpath(const char *path, int mode);

// The client's logs and temporary directories: the environment variable TLV_LOGSDIR or
// TLV_TMPDIR when set and not empty, else %ProgramData%\Tolvane\logs and \tmp
// (C:\ProgramData when ProgramData is unset). Each is created when first asked for (a
// failure is not reported here; writing into it will fail). The text belongs to the
// runtime and stays valid for the life of the process.
LOCAL_API const char *vo_get_logsdir(void);
LOCAL_API const char *vo_get_tmpdir(void);

// 1 when name matches pattern, 0 otherwise (and for NULL). '*' matches any run of
// characters, '?' exactly one character (not one byte); letters match without regard to
// case as in Windows file names (vo_strcasecmp's folding).
LOCAL_API int fmatch(const char *pattern, const char *name);

// The UTF-8 value of an environment variable (GetEnvironmentVariableW), NULL when unset or
// for a NULL name. The text belongs to the runtime and stays valid for the life of the
// process, even after the variable changes; do not free it.
LOCAL_API const char *vo_getenv(const char *name);

#ifdef __cplusplus
}
#endif
