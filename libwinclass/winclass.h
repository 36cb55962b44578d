// libwinclass: every exported header of the library, for clients that want one include.
// From C it brings in the plain C interface; the string classes and the conversions that
// take them come with C++ only.
#pragma once

#include <libwinclass/winclassapi.h>

#include <libwinclass/backup.h>
#include <libwinclass/csv.h>
#include <libwinclass/explain.h>
#include <libwinclass/hostinfo.h>
#include <libwinclass/restore.h>
#include <libwinclass/saveitems.h>
#include <libwinclass/wmi.h>
#ifdef __cplusplus
#include <libwinclass/conversions.h>
#include <libwinclass/stringlist.h>
#include <libwinclass/tv_str.h>
#endif
