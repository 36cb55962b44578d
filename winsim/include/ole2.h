// winsim: the OLE calls (ole32) that ole2.h adds to COM.
#pragma once

#include "objbase.h"
#include "oleauto.h"

// Puts an object into the running state: an object without IRunnableObject (every object
// winsim makes) is running already and answers S_OK.
WINOLEAPI OleRun(LPUNKNOWN pUnknown);
