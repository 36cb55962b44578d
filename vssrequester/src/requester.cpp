#include <vssrequester/vsscr.h>

CVssCr *CVssCr::Instance()
{
    // Constructed on first use and never destroyed: the client's callbacks may still
    // reach the requester while DLLs unload.
    static CVssCr *const instance = new CVssCr();
    return instance;
}
