// The host's own name and the comparison of host names.
#pragma once

#include <liblocal/localapi.h>

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// The host's name in UTF-8: vo_gethostname the short DNS host name, vo_getlocalhost the
// fully qualified DNS name (the short one when the host has no domain). Both fall back to
// the COMPUTERNAME environment variable when the system cannot say. 0 on success, -1 when
// no name is known or it does not fit (buf then holds the empty text); -1 for a NULL buf
// or size 0.
LOCAL_API int vo_gethostname(char *buf, size_t size);
LOCAL_API int vo_getlocalhost(char *buf, size_t size);

// 0 when a and b name the same host: equal without regard to case (a trailing dot
// ignored), or one is a short name and the other a fully qualified name starting with it
// ("node1" and "NODE1.corp.example"). Two different fully qualified names, and IP address
// literals that differ, are different hosts. Otherwise non-zero: the sign orders the
// names as vo_strcasecmp does; NULL or empty names are never the same host (non-zero).
LOCAL_API int vo_inet_hostcmp(const char *a, const char *b);

#ifdef __cplusplus
}
#endif
