// kernel32: the per-thread last-error value, interlocked operations, process and thread ids.
#include <windows.h>

#include <atomic>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

EXTERN_C DWORD WINAPI GetLastError(void) { return t_lastError; }

EXTERN_C void WINAPI SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

// Windows guarantees full barriers on these; the GCC builtins give sequential consistency.
EXTERN_C LONG WINAPI InterlockedIncrement(LONG volatile *addend)
{
    return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

EXTERN_C LONG WINAPI InterlockedDecrement(LONG volatile *addend)
{
    return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

EXTERN_C LONG WINAPI InterlockedExchange(LONG volatile *target, LONG value)
{
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

EXTERN_C LONG WINAPI InterlockedCompareExchange(LONG volatile *destination, LONG exchange, LONG comparand)
{
    __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return comparand;
}

EXTERN_C DWORD WINAPI GetCurrentProcessId(void) { return DWORD(getpid()); }

EXTERN_C DWORD WINAPI GetCurrentThreadId(void) { return DWORD(syscall(SYS_gettid)); }
