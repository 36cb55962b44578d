// Where Wine answers differently from what Windows documents, a portable test checks
// the documented answer on winsim and skips that check under Wine, saying so.
#pragma once

#include <cstdlib>

namespace tvtest {

// scripts/wine-run.sh marks the programs it starts.
inline bool UnderWine() { return std::getenv("TV_UNDER_WINE") != nullptr; }

} // namespace tvtest

#define TV_SKIP_UNDER_WINE(why)                                   \
    do {                                                          \
        if (tvtest::UnderWine())                                  \
            GTEST_SKIP() << "Wine differs from Windows here: " << why; \
    } while (0)
