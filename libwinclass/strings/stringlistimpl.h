// The storage of a stringlist: a contiguous growable array of tv_str.
#pragma once

#include <libwinclass/tv_str.h>

#include <vector>

class stringlistimpl {
public:
    // Room for `needed` elements, growing by half the capacity at least.
    void reserve_for(size_t needed);

    std::vector<tv_str> items;
};
