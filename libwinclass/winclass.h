// libwinclass: every exported header of the library, for clients that want one include.
#pragma once

#include <libwinclass/winclassapi.h>

#include <libwinclass/backup.h>
#include <libwinclass/conversions.h>
#include <libwinclass/csv.h>
#include <libwinclass/explain.h>
#include <libwinclass/hostinfo.h>
#include <libwinclass/restore.h>
#include <libwinclass/saveitems.h>
#include <libwinclass/stringlist.h>
#include <libwinclass/tv_str.h>
#include <libwinclass/wmi.h>
