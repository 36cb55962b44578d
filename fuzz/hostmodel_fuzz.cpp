// The host description reader: any text either loads or gives one line of error naming
// what is wrong; nothing else may escape it.
#include "fuzzcheck.h"

#include <winsim/hostmodel.h>

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    try {
        const winsim::Host host = winsim::ParseHost(text);
        FUZZ_CHECK(!host.hostName.empty() && host.hostName.size() <= 15);
    } catch (const winsim::HostError &e) {
        const char *what = e.what();
        FUZZ_CHECK(what != nullptr && what[0] != '\0');
        FUZZ_CHECK(std::strchr(what, '\n') == nullptr && std::strchr(what, '\r') == nullptr);
    }
    return 0;
}
