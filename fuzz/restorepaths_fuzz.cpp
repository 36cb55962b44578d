// The restore side's conversion of writer file paths into paths the client opens, on the
// default host's volumes. Paths are built from pieces that reach every rule (volume GUID
// paths of the host, device and rooted forms, the replication form) or from raw 16-bit
// units. Each descriptor handed out must hold what its lengths say.
#include "fuzzcheck.h"

#include <libwinclass/conversions.h>
#include <libwinclass/writers/filedesc.h>

#include <memory>
#include <vector>

namespace {

std::vector<wstr> &Pieces()
{
    static std::vector<wstr> pieces = {
        W("\\"), W("\\\\?\\"), W("\\\\.\\"), W("\\\\\\\\GLOBALROOT\\Device\\"), W("Volume{"), W("}"), W("\\Boot"),
        W("C:"), W("D"), W("."), W("a"), W("Windows"), W("*.log"), W("\\\\"), W("-"), W("\x00e9"),
    };
    return pieces;
}

const char *const kWriters[] = {"FRS Writer", "frs writer", "Task Scheduler Writer", ""};

wstr Path(FuzzInput &in)
{
    wstr path;
    const int count = in.byte() % 7;
    for (int i = 0; i < count; ++i) {
        const uint8_t b = in.byte();
        if (b >= 0xF0) {
            // Any unit at all, lone surrogates and NULs' neighbours included.
            path.push_back(WCHAR(in.byte() | in.byte() << 8));
        } else {
            path += Pieces()[b % Pieces().size()];
        }
    }
    return path;
}

// The units a length counts must all be there, the last being the text's end or inside
// its buffer; ASan reports a length that overstates the buffer.
void CheckText(const WCHAR *text, size_t length, const wstr *expected)
{
    if (text == nullptr) {
        FUZZ_CHECK(length == 0);
        return;
    }
    const size_t units = std::char_traits<WCHAR>::length(text);
    FUZZ_CHECK(length >= units + 1);
    volatile WCHAR last = text[length - 1];
    (void)last;
    if (expected != nullptr)
        FUZZ_CHECK(wstr(text) == wstr(expected->c_str()));  // a NUL unit ends a C string
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The GUID paths of the host's drives, so that paths name real volumes.
    WCHAR drive[] = W("A:\\");
    for (WCHAR letter = W('A'); letter <= W('Z'); ++letter) {
        drive[0] = letter;
        WCHAR volume[MAX_PATH] = {};
        if (GetVolumeNameForVolumeMountPointW(drive, volume, MAX_PATH))
            Pieces().push_back(volume);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    const uint8_t pick = in.byte();
    const std::string writer = pick < 4 ? kWriters[pick] : in.text(12);
    CVssWriterFileList files;
    const int count = in.byte() % 6;
    for (int i = 0; i < count; ++i) {
        if (in.byte() == 0xFF) {
            files.push_back(nullptr);
            continue;
        }
        auto file = std::make_shared<CVssWriterFile>();
        file->path = Path(in);
        file->fileSpec = Path(in);
        file->recursive = in.byte() & 1;
        file->alternateLocation = (in.byte() & 1) ? Path(in) : wstr();
        files.push_back(file);
    }

    vsscr_filedesc *out = reinterpret_cast<vsscr_filedesc *>(0x1);
    const HRESULT hr = ConvertWriterFiles(tv_str(writer.c_str(), tv_str::TCS_CP_UTF8), files, &out);
    if (FAILED(hr)) {
        FUZZ_CHECK(out == nullptr);
        return 0;
    }
    // Paths that start without a backslash are handed out as they stand, one descriptor
    // per file in order; the other rules are checked for what they hand out.
    bool plain = true;
    for (const auto &file : files)
        plain = plain && file && (file->path.empty() || file->path[0] != W('\\'));
    auto file = files.begin();
    for (const vsscr_filedesc *d = out; d != nullptr; d = d->next) {
        FUZZ_CHECK(d->path != nullptr && d->filespec != nullptr);
        FUZZ_CHECK((d->has_alternate != 0) == (d->alternate_path != nullptr));
        const bool exact = plain && file != files.end();
        CheckText(d->path, d->path_length, exact ? &(*file)->path : nullptr);
        CheckText(d->filespec, d->filespec_length, exact ? &(*file)->fileSpec : nullptr);
        CheckText(d->alternate_path, d->alternate_length, exact && d->has_alternate ? &(*file)->alternateLocation : nullptr);
        if (exact) {
            FUZZ_CHECK(d->recursive == ((*file)->recursive ? 1u : 0u));
            FUZZ_CHECK(d->has_alternate == ((*file)->alternateLocation.empty() ? 0u : 1u));
            ++file;
        }
    }
    FUZZ_CHECK(!plain || file == files.end());
    vsscr_free_filedesc_struct(0, out);
    return 0;
}
