// The simulated platform: described hosts come from winsim's host model.
#include "platform.h"

#include <platform/tvplatform.h>
#include <winsim/hostmodel.h>


#include <unistd.h>

namespace winclass {

std::vector<std::string> CommandLineArguments(int argc, char **argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

bool UseDescribedHost(const std::string &file, std::string *error)
{
    try {
        winsim::ReplaceHost(winsim::LoadHostFile(file));
        return true;
    } catch (const std::exception &failure) {
        *error = failure.what();
        return false;
    }
}

bool StandardOutputIsTerminal()
{
    return isatty(STDOUT_FILENO) == 1;
}

} // namespace winclass
