// The umbrella header alone declares the whole exported interface: a name from each
// exported header, with its exact type. A header it leaves out fails the build here.
#include <libwinclass/winclass.h>

#include <type_traits>

static_assert(std::is_same<decltype(&vsscr_add_savepath), vo_msg *(*)(const char *)>::value, "backup.h");
static_assert(std::is_same<decltype(&get_unique_per_process_dir_path), const char *(*)(const char *)>::value,
              "hostinfo.h");
static_assert(std::is_same<decltype(&to_utf8), std::string (*)(const wstr &)>::value, "conversions.h");
static_assert(std::is_same<decltype(&cleanup_wbem), void (*)(IWbemServices **, IWbemLocator **)>::value, "wmi.h");
static_assert(std::is_class<stringlist>::value && std::is_class<tv_str>::value, "stringlist.h, tv_str.h");
