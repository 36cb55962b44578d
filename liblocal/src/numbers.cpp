#include <liblocal/numbers.h>

#include <cstdio>

namespace {

char *NextSlot()
{
    thread_local char slots[TV_NUMBER_TEXT_SLOTS][24];
    thread_local unsigned next = 0;
    char *slot = slots[next];
    next = (next + 1) % TV_NUMBER_TEXT_SLOTS;
    return slot;
}

} // namespace

char *inttostr(int value)
{
    char *text = NextSlot();
    snprintf(text, 24, "%d", value);
    return text;
}

char *ulongtostr(unsigned long value)
{
    char *text = NextSlot();
    snprintf(text, 24, "%lu", value);
    return text;
}
