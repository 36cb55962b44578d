// Promotion policies.
#include <libwinclass/writers/promote.h>

#include <vssrequester/vsscr.h>

namespace {

// Case-insensitive equality of two wide texts, ASCII letters folded (the names compared
// here are ASCII).
bool EqualNoCase(const wstr &a, const WCHAR *b)
{
    size_t i = 0;
    for (; i < a.size() && b[i] != 0; ++i) {
        WCHAR x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<WCHAR>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<WCHAR>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return i == a.size() && b[i] == 0;
}

} // namespace

bool CPromoteDefaultUserDataWriter::SupportsComponent(const std::shared_ptr<CVssWriterComp> &) { return true; }

bool CPromoteDefaultUserDataWriter::PromotesAllComponents() { return true; }

bool CPromoteUserHyperVWriter::SupportsComponent(const std::shared_ptr<CVssWriterComp> &component)
{
    if (!component)
        return false;
    const wstr &name = component->GetName();
    return EqualNoCase(name, W("Initial Store")) || EqualNoCase(name, W("Host Component"));
}

bool CPromoteUserHyperVWriter::PromotesAllComponents() { return false; }

// Asking the instance whether it is an internal database comes with writer selection;
// until then no component of this writer is promoted.
bool CPromoteUserSQLWriter::SupportsComponent(const std::shared_ptr<CVssWriterComp> &) { return false; }

bool CPromoteUserSQLWriter::PromotesAllComponents() { return false; }
