// When a debug line of the requester code is written: the host's debug level reaches the
// line's level, or the line's bit is set in the trace mask.
#pragma once

#include <liblocal/debuglog.h>

namespace winclass {

inline bool TraceOn(int level, unsigned int bit) { return Debug >= level || (VoTrace & bit) != 0; }

// The pairs the requester code uses.
inline bool TraceFailures() { return TraceOn(1, 0x1); }
inline bool TraceSetup() { return TraceOn(3, 0x4); }
inline bool TraceDetail() { return TraceOn(5, 0x10); }
inline bool TraceWriterListCalls() { return TraceOn(9, 0x100); }

} // namespace winclass
