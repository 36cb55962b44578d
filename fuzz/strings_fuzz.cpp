// tv_str and stringlist driven by a byte program: each byte picks an operation on one of
// a few registers, the next bytes its operands. Every step is checked against a model
// held as plain UTF-8 std::string values (and a vector of them for the lists).
#include "fuzzcheck.h"

#include <libwinclass/stringlist.h>
#include <libwinclass/tv_str.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Operand texts are built from these characters, so the model knows their exact UTF-8:
// separators, both letter cases, white space, and two-, three- and four-byte characters
// (none of them in U+E000-U+FFFF, so byte order and unit order agree).
const char *const kAlphabet[16] = {"a", "B", "b", "A", "\\", "/", ".", " ", "\t", "z", "0", "9", "\xC3\xA9",
                                   "\xE2\x82\xAC", "\xF0\x9D\x84\x9E", ","};
const char kSeparators[] = "\\/.,a ";

std::string Operand(FuzzInput &in)
{
    std::string text;
    const size_t count = in.byte() % 9;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = in.byte();
        text += kAlphabet[b % 16];
    }
    return text;
}

char Separator(FuzzInput &in) { return kSeparators[in.byte() % (sizeof kSeparators - 1)]; }

// UTF-16 units of well-formed UTF-8.
size_t Units(const std::string &utf8)
{
    size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80)
            units += c >= 0xF0 ? 2 : 1;
    }
    return units;
}

bool Boundary(const std::string &utf8, size_t at)
{
    return at >= utf8.size() || (static_cast<unsigned char>(utf8[at]) & 0xC0) != 0x80;
}

std::string Fold(std::string text, bool upper)
{
    for (char &c : text) {
        if (upper && c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        else if (!upper && c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return text;
}

bool HasAt(const std::string &text, const std::string &part, size_t at, bool caseSensitive)
{
    if (at + part.size() > text.size())
        return false;
    const std::string piece = text.substr(at, part.size());
    return caseSensitive ? piece == part : Fold(piece, false) == Fold(part, false);
}

bool ModelContains(const std::string &text, const std::string &needle, bool caseSensitive)
{
    for (size_t at = 0; at + needle.size() <= text.size(); ++at) {
        if (HasAt(text, needle, at, caseSensitive))
            return true;
    }
    return false;
}

std::string ModelConcat(const std::string &a, const std::string &b, char separator)
{
    if (a.empty())
        return b;
    if (b.empty())
        return a;
    const bool with = separator != '\0' && a.back() != separator && b.front() != separator;
    return a + (with ? std::string(1, separator) : std::string()) + b;
}

std::string ModelJoin(const std::string &a, const std::string &b)
{
    if (!a.empty() && a.back() == '\\' && !b.empty() && b.front() == '\\')
        return ModelConcat(a, b.substr(1), '\0');
    if (a == "\\" || (!a.empty() && a.back() == '/'))
        return ModelConcat(a, b, '\0');
    return ModelConcat(a, b, '\\');
}

std::string ModelReplace(const std::string &text, const std::string &from, const std::string &to)
{
    if (from.empty())
        return text;
    std::string out;
    size_t at = 0;
    for (size_t hit = text.find(from); hit != std::string::npos; hit = text.find(from, at)) {
        out += text.substr(at, hit - at) + to;
        at = hit + from.size();
    }
    return out + text.substr(at);
}

bool IsTrimmed(const std::string &c, const std::string &set)
{
    return set.empty() ? c.size() == 1 && std::strchr(" \f\v\t\r\n", c[0]) != nullptr : set.find(c) != std::string::npos;
}

// Trims whole characters; a set holds single-unit characters only when it is used here.
std::string ModelTrim(const std::string &text, int mode, const std::string &set)
{
    std::vector<std::string> chars;
    for (size_t i = 0; i < text.size();) {
        size_t n = 1;
        while (i + n < text.size() && !Boundary(text, i + n))
            ++n;
        chars.push_back(text.substr(i, n));
        i += n;
    }
    size_t start = 0, end = chars.size();
    if (mode & TV_STR_TRIM_START)
        while (start < end && IsTrimmed(chars[start], set))
            ++start;
    if (mode & TV_STR_TRIM_END)
        while (end > start && IsTrimmed(chars[end - 1], set))
            --end;
    std::string out;
    for (size_t i = start; i < end; ++i)
        out += chars[i];
    return out;
}

void CheckSame(const tv_str &value, const std::string &model)
{
    const std::string utf8 = value.get_utf8();
    if (utf8 != model)
        std::fprintf(stderr, "text [%s], model [%s]\n", utf8.c_str(), model.c_str());
    FUZZ_CHECK(utf8 == model);
    FUZZ_CHECK(size_t(value.bytelength()) == model.size());
    FUZZ_CHECK(size_t(value.length()) == Units(model));
    FUZZ_CHECK(value.is_empty() == model.empty());
    FUZZ_CHECK(value.first() == (model.empty() ? '\0' : model.front()));
    FUZZ_CHECK(value.last() == (model.empty() ? '\0' : model.back()));
    const WCHAR *wide = value;
    FUZZ_CHECK(wide != nullptr || model.empty());
    if (wide != nullptr)
        FUZZ_CHECK(std::char_traits<WCHAR>::length(wide) == Units(model));
}

void CheckList(const stringlist &list, const std::vector<std::string> &model)
{
    FUZZ_CHECK(size_t(list.size()) == model.size());
    FUZZ_CHECK(list.isempty() == model.empty());
    for (size_t i = 0; i < model.size(); ++i)
        FUZZ_CHECK(std::string(list[i].get_utf8()) == model[i]);
    FUZZ_CHECK(list[model.size()].is_empty());
}

struct Machine {
    tv_str reg[4];
    std::string model[4];
    stringlist lists[2];
    std::vector<std::string> listModel[2];

    void Step(FuzzInput &in)
    {
        const uint8_t op = in.byte();
        const int r = in.byte() % 4, s = in.byte() % 4;
        tv_str &t = reg[r];
        std::string &m = model[r];
        stringlist &list = lists[r % 2];
        std::vector<std::string> &lm = listModel[r % 2];
        switch (op % 32) {
        case 0: {
            const std::string text = Operand(in);
            t.set_utf8(text.c_str());
            m = text;
            break;
        }
        case 1:
            t += reg[s];
            m += model[s];
            break;
        case 2: {
            tv_str sum = t + reg[s];
            t = sum;
            m += model[s];
            break;
        }
        case 3: {
            const char sep = Separator(in);
            t = t.concat(reg[s], sep);
            m = ModelConcat(m, model[s], sep);
            break;
        }
        case 4:
            t = t / reg[s];
            m = ModelJoin(m, model[s]);
            break;
        case 5: {
            const size_t start = in.byte() % 24, count = in.byte() % 24;
            const tv_str piece = t.substr(start, count);
            if (start >= m.size()) {
                FUZZ_CHECK(piece.is_empty());
            } else {
                const size_t end = count == 0 || count > m.size() - start ? m.size() : start + count;
                // A cut character becomes U+FFFD; only whole characters can be compared.
                if (Boundary(m, start) && Boundary(m, end))
                    CheckSame(piece, m.substr(start, end - start));
            }
            break;
        }
        case 6: {
            const char c = Separator(in);
            const int start = int(in.byte() % 24) - 2;
            const int bytes = int(m.size());
            int first = -1, last = -1, from_end = -1;
            for (int i = std::max(start, 0); i < bytes && start < bytes; ++i) {
                if (m[i] == c) {
                    last = i;
                    if (first < 0)
                        first = i;
                }
            }
            if (start >= 0 && start < bytes)
                for (int i = bytes - 1 - start; i >= 0; --i)
                    if (m[i] == c) {
                        from_end = i;
                        break;
                    }
            FUZZ_CHECK(t.ffind(c, start) == (start < 0 ? -1 : first));
            FUZZ_CHECK(t.find(c, start) == (start < 0 ? -1 : last));
            FUZZ_CHECK(t.rfind(c, start) == from_end);
            FUZZ_CHECK(t.has_char(c) == (m.find(c) != std::string::npos));
            break;
        }
        case 7: {
            const std::string needle = Operand(in);
            const bool sensitive = in.byte() & 1;
            FUZZ_CHECK(t.contains_utf8(needle.c_str(), sensitive) == ModelContains(m, needle, sensitive));
            FUZZ_CHECK(t.starts_with_utf8(needle.c_str(), sensitive) == (!m.empty() && HasAt(m, needle, 0, sensitive)));
            FUZZ_CHECK(t.ends_with_utf8(needle.c_str(), sensitive) ==
                       (!needle.empty() && needle.size() <= m.size() && HasAt(m, needle, m.size() - needle.size(), sensitive)));
            FUZZ_CHECK(t.contains(reg[s], sensitive) == (!!reg[s] && ModelContains(m, model[s], sensitive)));
            break;
        }
        case 8:
            FUZZ_CHECK((t == reg[s]) == (m == model[s]));
            FUZZ_CHECK((t < reg[s]) == (m < model[s]));
            FUZZ_CHECK((t >= reg[s]) == (m >= model[s]));
            break;
        case 9: {
            const char sep = Separator(in);
            const bool fromRight = in.byte() & 1;
            tv_str before, after;
            const size_t hit = fromRight ? m.rfind(sep) : m.find(sep);
            FUZZ_CHECK(t.split(before, after, fromRight, sep) == (hit != std::string::npos));
            if (hit == std::string::npos) {
                CheckSame(before, m);
                CheckSame(after, "");
            } else {
                CheckSame(before, m.substr(0, hit == 0 ? 1 : hit));
                CheckSame(after, m.substr(hit + 1));
            }
            break;
        }
        case 10:
            t = t.replace(reg[s], reg[(s + 1) % 4]);
            m = ModelReplace(m, model[s], model[(s + 1) % 4]);
            break;
        case 11: {
            const char from = Separator(in), to = Separator(in);
            t = t.replace(from, to);
            std::replace(m.begin(), m.end(), from, to);
            break;
        }
        case 12:
        {
            const bool upper = in.byte() & 1;
            t = upper ? t.upper() : t.lower();
            m = Fold(m, upper);
            break;
        }
        case 13: {
            const int mode = 1 + in.byte() % 3;
            if (in.byte() & 1) {
                t.trim(TV_STR_TRIM(mode));
                m = ModelTrim(m, mode, "");
            } else {
                // A set of one-byte characters only, so a set unit is a whole character.
                std::string set;
                for (char c : model[s])
                    if (static_cast<unsigned char>(c) < 0x80)
                        set += c;
                tv_str units;
                units.set_utf8(set.c_str());
                t.trim(TV_STR_TRIM(mode), units);
                m = set.empty() ? m : ModelTrim(m, mode, set);
            }
            break;
        }
        case 14:
            t = tv_str(t);
            reg[s] = reg[r];
            model[s] = m;
            break;
        case 15: {
            tv_str moved(std::move(reg[s]));
            FUZZ_CHECK(reg[s].is_empty() && std::string(reg[s].get_utf8()).empty());
            reg[(s + 1) % 4] = std::move(moved);
            model[(s + 1) % 4] = model[s];
            model[s].clear();
            break;
        }
        case 16: {
            const bool had = !t.is_empty() && m.back() == '\\';
            FUZZ_CHECK(t.has_trailing_dirsep() == had);
            if (in.byte() & 1) {
                t.set_trailing_dirsep();
                if (!had)
                    m += "\\";
            } else {
                t.clear_trailing_dirsep();
                if (had)
                    m.pop_back();
            }
            break;
        }
        case 17: {
            const size_t slash = m.size() < 2 ? std::string::npos : m.rfind('\\', m.size() - 2);
            CheckSame(t.stripdir(), slash == std::string::npos ? m : m.substr(slash + 1));
            const size_t last = m.rfind('\\');
            CheckSame(t.get_dotdot(), last == std::string::npos ? "" : m.substr(0, last == 0 ? 1 : last));
            const size_t dot = m.rfind('.');
            // A final backslash does not end the last component here, as in stripdir.
            CheckSame(t.extension(), dot == std::string::npos || (slash != std::string::npos && dot < slash) ? "" : m.substr(dot));
            break;
        }
        // The lists.
        case 18:
        case 19:
            list.push_back(t);
            lm.push_back(m);
            break;
        case 20:
            list.pop_back();
            if (!lm.empty())
                lm.pop_back();
            break;
        case 21: {
            const unsigned position = in.byte() % 8;
            list.insert(position, t);
            if (position <= lm.size())
                lm.insert(lm.begin() + position, m);
            break;
        }
        case 22: {
            const bool exact = std::find(lm.begin(), lm.end(), m) != lm.end();
            bool folded = false;
            for (const std::string &item : lm)
                folded = folded || Fold(item, false) == Fold(m, false);
            FUZZ_CHECK(list.contains(t) == exact);
            FUZZ_CHECK(list.icontains(t) == folded);
            break;
        }
        case 23: {
            const char sep = Separator(in);
            std::string joined;
            for (size_t i = 0; i < lm.size(); ++i)
                joined += (i == 0 ? "" : std::string(1, sep)) + lm[i];
            CheckSame(list.image(sep), joined);
            break;
        }
        case 24: {
            const size_t index = in.byte() % 8;
            CheckSame(list[index], index < lm.size() ? lm[index] : "");
            CheckSame(list.front(), lm.empty() ? "" : lm.front());
            CheckSame(list.back(), lm.empty() ? "" : lm.back());
            if (index < lm.size()) {
                t = list[index];
                m = lm[index];
            }
            break;
        }
        case 25: {
            stringlist &other = lists[(r + 1) % 2];
            const std::vector<std::string> before = listModel[(r + 1) % 2];
            list += other;
            lm.insert(lm.end(), before.begin(), before.end());
            break;
        }
        case 26:
            lists[(r + 1) % 2] = list;
            listModel[(r + 1) % 2] = lm;
            break;
        case 27:
            list.clear();
            lm.clear();
            break;
        case 28:
            // The element becomes the register's text, as callers write through operator[].
            if (!lm.empty()) {
                list[lm.size() - 1] = t;
                lm.back() = m;
            }
            break;
        case 29: {
            const int n = int(in.byte() % 12) - 2;
            const int units = t.length();
            const int kept = t.truncate(n);
            if (n < 0 || n >= units) {
                FUZZ_CHECK(kept == 0);
            } else {
                FUZZ_CHECK(kept == units - n);
                // Keep the model only when the cut fell between characters.
                std::string cut;
                size_t u = 0, i = 0;
                for (; i < m.size() && u < size_t(kept); ++i)
                    if ((static_cast<unsigned char>(m[i]) & 0xC0) != 0x80)
                        u += static_cast<unsigned char>(m[i]) >= 0xF0 ? 2 : 1;
                while (i < m.size() && !Boundary(m, i))
                    ++i;
                if (u == size_t(kept)) {
                    m = m.substr(0, i);
                } else {
                    t.set_utf8(m.c_str());
                }
            }
            break;
        }
        default: {
            // Raw bytes: whatever they are, the text stays consistent in its two forms.
            const std::string raw = in.text(16);
            tv_str any;
            any.set_utf8(raw.c_str());
            tv_str again(static_cast<const WCHAR *>(any));
            FUZZ_CHECK(std::string(any.get_utf8()) == again.get_utf8());
            FUZZ_CHECK(any.bytelength() == int(std::strlen(any.get_utf8())));
            tv_str narrow(raw.c_str(), tv_str::TCS_CP_UTF8);
            FUZZ_CHECK(narrow.is_empty() || narrow == any);
            break;
        }
        }
        CheckSame(t, m);
        CheckList(list, lm);
        // Doubling again and again would only measure memory: long texts and lists restart.
        if (m.size() > 4096) {
            t = tv_str();
            m.clear();
        }
        if (lm.size() > 512) {
            list.clear();
            lm.clear();
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    Machine machine;
    for (int steps = 0; steps < 256 && !in.empty(); ++steps)
        machine.Step(in);
    for (int i = 0; i < 4; ++i)
        CheckSame(machine.reg[i], machine.model[i]);
    return 0;
}
