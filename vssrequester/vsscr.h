// libvssrequester: the common requester. CVssCr is the one process-wide requester
// object through which every VSS operation of the client goes.
#pragma once

#include <vssrequester/vsscrapi.h>

class VSSCR_API CVssCr {
public:
    // The single requester object of the process; the same pointer on every call.
    static CVssCr *Instance();

    CVssCr(const CVssCr &) = delete;
    CVssCr &operator=(const CVssCr &) = delete;

private:
    CVssCr() = default;
    ~CVssCr() = default;
};
