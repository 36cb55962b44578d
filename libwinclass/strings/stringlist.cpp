#include <libwinclass/stringlist.h>

#include <libwinclass/strings/stringlistimpl.h>
#include <libwinclass/strings/text.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

namespace {

// A read that finds no element returns one of these. Callers get a modifiable reference,
// so the string is emptied again before each such read.
tv_str &ResetShared(tv_str &shared)
{
    if (!shared.is_empty() || !!shared)
        shared = tv_str();
    return shared;
}

tv_str &EmptyForIndex()
{
    static tv_str empty;
    return ResetShared(empty);
}

tv_str &EmptyForFront()
{
    static tv_str empty;
    return ResetShared(empty);
}

tv_str &EmptyForBack()
{
    static tv_str empty;
    return ResetShared(empty);
}

// _stricmp in the "C" locale: ASCII letters fold, every other byte compares as itself.
bool EqualIgnoringCase(const char *a, const char *b)
{
    for (;; ++a, ++b) {
        if (tvstr::FoldByte(*a) != tvstr::FoldByte(*b))
            return false;
        if (*a == '\0')
            return true;
    }
}

} // namespace

void stringlistimpl::reserve_for(size_t needed)
{
    const size_t capacity = items.capacity();
    if (needed <= capacity)
        return;
    const size_t largest = items.max_size();
    if (needed > largest)
        throw std::length_error("vector<T> too long");
    size_t grown = capacity + capacity / 2;
    if (grown > largest)
        grown = largest;
    items.reserve(grown > needed ? grown : needed);
}

stringlist::stringlist() : m_impl(NULL) {}

stringlist::stringlist(stringlistimpl *impl) : m_impl(impl) {}

stringlist::stringlist(const stringlist &other) : m_impl(NULL) { *this = other; }

stringlist::~stringlist() { delete m_impl; }

stringlist &stringlist::operator=(const stringlist &other)
{
    if (this == &other)
        return *this;
    std::unique_ptr<stringlistimpl> fresh(new stringlistimpl);
    if (other.m_impl != NULL)
        fresh->items = other.m_impl->items;
    delete m_impl;
    m_impl = fresh.release();
    return *this;
}

stringlist &stringlist::operator+=(const stringlist &other)
{
    if (other.m_impl == NULL || other.m_impl->items.empty())
        return *this;
    if (m_impl == NULL)
        m_impl = new stringlistimpl;
    // Counted and reserved first, so appending a list to itself copies what was there
    // and no element moves while it is being copied.
    const size_t count = other.m_impl->items.size();
    m_impl->reserve_for(m_impl->items.size() + count);
    for (size_t i = 0; i < count; ++i)
        m_impl->items.push_back(other.m_impl->items[i]);
    return *this;
}

tv_str &stringlist::operator[](size_t index) const
{
    if (m_impl == NULL || index >= m_impl->items.size())
        return EmptyForIndex();
    return m_impl->items[index];
}

tv_str &stringlist::front() const
{
    if (m_impl == NULL || m_impl->items.empty())
        return EmptyForFront();
    return m_impl->items.front();
}

tv_str &stringlist::back() const
{
    if (m_impl == NULL || m_impl->items.empty())
        return EmptyForBack();
    return m_impl->items.back();
}

void stringlist::push_back(const tv_str &item)
{
    if (m_impl == NULL)
        m_impl = new stringlistimpl;
    tv_str copy(item);  // the item may be an element that growth is about to move
    m_impl->reserve_for(m_impl->items.size() + 1);
    m_impl->items.push_back(std::move(copy));
}

void stringlist::pop_back()
{
    if (m_impl != NULL && !m_impl->items.empty())
        m_impl->items.pop_back();
}

void stringlist::insert(unsigned int position, const tv_str &item)
{
    if (position > size_t(size()))
        return;
    if (m_impl == NULL)
        m_impl = new stringlistimpl;
    tv_str copy(item);
    m_impl->reserve_for(m_impl->items.size() + 1);
    m_impl->items.insert(m_impl->items.begin() + position, std::move(copy));
}

void stringlist::clear()
{
    if (m_impl != NULL)
        m_impl->items.clear();
}

bool stringlist::contains(tv_str &item)
{
    if (m_impl == NULL)
        return false;
    for (const tv_str &element : m_impl->items) {
        if (element == item)
            return true;
    }
    return false;
}

bool stringlist::icontains(tv_str &item)
{
    if (m_impl == NULL)
        return false;
    const char *wanted = item.get_utf8();
    for (const tv_str &element : m_impl->items) {
        if (EqualIgnoringCase(element.get_utf8(), wanted))
            return true;
    }
    return false;
}

tv_str stringlist::image(char separator) const
{
    if (m_impl == NULL || m_impl->items.empty())
        return tv_str();
    const std::vector<tv_str> &items = m_impl->items;
    size_t total = items.size();  // the separators and the terminator
    for (const tv_str &element : items)
        total += size_t(element.bytelength());
    std::unique_ptr<char[]> work(new char[total]);
    char *out = work.get();
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            *out++ = separator;
        const size_t bytes = size_t(items[i].bytelength());
        std::memcpy(out, items[i].get_utf8(), bytes);
        out += bytes;
    }
    *out = '\0';
    tv_str joined;
    joined.set_utf8(work.get());
    return joined;
}

int stringlist::size() const { return m_impl == NULL ? 0 : int(m_impl->items.size()); }

bool stringlist::isempty() const { return size() == 0; }

stringlistimpl *stringlist::get_data() { return m_impl; }
