// The client's product settings, read from the registry key
// HKEY_LOCAL_MACHINE\SOFTWARE\Tolvane\Backup Client (64-bit view).
#pragma once

#include <libtlv/tlvapi.h>

#ifdef __cplusplus
extern "C" {
#endif

// The key and the values read under it.
#define TLV_SETTINGS_KEY "SOFTWARE\\Tolvane\\Backup Client"
#define TLV_VALUE_INSTALL_DIR "InstallDir"                 // REG_SZ or REG_EXPAND_SZ
#define TLV_VALUE_DISABLED_WRITERS "DisabledWriters"       // REG_MULTI_SZ (or REG_SZ: one name)
#define TLV_VALUE_LIST_CRITICAL_VOLUMES "ListCriticalVolumes" // REG_DWORD
#define TLV_VALUE_SAVE_OPTIONS "SaveOptions"               // REG_MULTI_SZ (or REG_SZ: one option)

// The save option that puts the System Writer's Win32 service files under the user's
// definition.
#define TLV_OPTION_SYS_WRITER_SERVCOMP_USER "VSS:TLV_SYS_WRITER_WIN32_SERVCOMP_USER=yes"

// The installation directory as UTF-8 in a new buffer the caller frees with free
// (REG_EXPAND_SZ is expanded). NULL when the key or value is absent, empty or of another
// type.
TLV_API char *find_tlvdir_from_install_key_in_registry(void);

// 1 when name (UTF-8) is one of DisabledWriters, compared without regard to case (white
// space around an entry ignored); 0 otherwise, and for NULL or an empty name.
TLV_API int is_writer_disabled(const char *name);

// 1 when ListCriticalVolumes is a REG_DWORD other than 0; 0 otherwise (absent, 0, or of
// another type).
TLV_API int list_critical_volumes(void);

// 1 when SaveOptions holds TLV_OPTION_SYS_WRITER_SERVCOMP_USER, compared without regard
// to case (white space around an entry ignored); 0 otherwise.
TLV_API int syswriter_win32_sys_sercomp_userdef(void);

#ifdef __cplusplus
}
#endif
