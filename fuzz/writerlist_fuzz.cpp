// The user's supported writer list file: whatever its bytes, the reader keeps the pieces
// of the first line between commas, each cut to the longest entry, and finds each again.
#include "fuzzcheck.h"
#include "fuzzfiles.h"

#include <libwinclass/writers/supported.h>

#include <liblocal/local.h>

#include <cstdlib>
#include <strings.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte picks the probe's length; the file is the rest.
    FuzzInput in(data, size);
    const std::string probe = in.text(60);
    const std::string bytes = in.rest();
    FUZZ_CHECK(WriteFuzzFile(W("C:\\fuzz\\writerlist.txt"), bytes));

    vo_list *list = vo_list_new(free, nullptr, _stricmp, nullptr, 0);
    FUZZ_CHECK(list != nullptr);
    const bool read = winclass::PopulateUserSupportedWriters(list, "C:\\fuzz\\writerlist.txt");

    // What the reader must have kept: the first line as text mode reads it ("\r\n" as
    // "\n", Ctrl-Z as the end), the newline included, up to a NUL. An empty file is one
    // empty line; a file that starts with Ctrl-Z has none.
    std::string line;
    for (size_t i = 0; i < bytes.size() && bytes[i] != '\x1A'; ++i) {
        const bool crlf = bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n';
        line += crlf ? '\n' : bytes[i];
        i += crlf ? 1 : 0;
        if (line.back() == '\n')
            break;
    }
    FUZZ_CHECK(read == (bytes.empty() || !line.empty()));
    line = line.c_str();
    std::vector<std::string> pieces;
    if (read) {
        for (size_t start = 0;;) {
            const size_t comma = line.find(',', start);
            // A long entry is cut before the UTF-8 character that would cross its end.
            std::string piece = line.substr(start, comma - start);
            size_t cut = winclass::kSupportedWriterEntryMax;
            while (cut > 0 && cut < piece.size() && (static_cast<unsigned char>(piece[cut]) & 0xC0) == 0x80)
                --cut;
            pieces.push_back(piece.substr(0, cut));
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }
    FUZZ_CHECK(vo_list_size(list) == pieces.size());
    bool probeListed = false;
    for (const std::string &piece : pieces) {
        FUZZ_CHECK(winclass::IsWriterInSupportedList(list, piece.c_str()) == true);
        probeListed = probeListed || strcasecmp(piece.c_str(), probe.c_str()) == 0;
    }
    FUZZ_CHECK(winclass::IsWriterInSupportedList(list, probe.c_str()) == probeListed);
    vo_list_destroy(list);
    return 0;
}
