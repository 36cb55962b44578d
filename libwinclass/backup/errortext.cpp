// The error-text routine used before every message that carries an error text.
#include <libwinclass/backup/errortext.h>

#include <libwinclass/backup/trace.h>

#include <liblocal/local.h>

namespace winclass {

namespace {

// Interface-specific HRESULTs (facility 4, FACILITY_ITF) carry every VSS error code; the
// runtime looks them up as HRESULTs rather than as Windows codes.
constexpr uint32_t kFacilityMask = 0x1FFF0000;
constexpr uint32_t kFacilityInterface = 0x00040000;

} // namespace

void FormatErrorText(uint32_t code, size_t size, char *buffer)
{
    if (buffer == nullptr) {
        if (TraceSetup())
            debugprintf("Invalid input argument found while processing error codes for error strings.\n");
        return;
    }
    if (size < kErrorTextMinimum) {
        if (TraceSetup())
            debugprintf("Buffer size for error message is too small");
        return;
    }
    const int kind = (code & kFacilityMask) == kFacilityInterface ? VO_ERR_HRESULT : VO_ERR_WIN32;
    vo_error_set_last(static_cast<int>(code), kind);
    vo_error_get_message(buffer, size);
    if (vo_strcasecmp(buffer, "Unknown error") == 0) {
        char codeText[kErrorTextMinimum];
        vo_snprintf(codeText, sizeof codeText, " (Error code 0x%x)", static_cast<unsigned int>(code));
        vo_strlcat(buffer, codeText, size);
    }
}

} // namespace winclass
