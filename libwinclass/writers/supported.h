// The supported writer list: the writer IDs a backup may ever use, in braced text form
// ("{e8132975-6f93-4464-a53e-1050253ae220}"), matched without regard to letter case.
// Filled once per process, from the user's bin\writerlist.txt under the installation
// directory or, when that file does not exist, from the built-in table. The requester
// object owns the list; these functions work on it.
#pragma once

#include <liblocal/volists.h>

#include <cstddef>

namespace winclass {

// The longest entry kept, in bytes; longer entries are cut.
constexpr size_t kSupportedWriterEntryMax = 50;

// The built-in table, in the order it is appended.
constexpr size_t kBuiltInSupportedWriterCount = 37;
extern const char *const kBuiltInSupportedWriters[kBuiltInSupportedWriterCount];

// Creates *list when it is null and fills it. True when the list is ready (also when it
// already existed, whatever it holds); false when it could not be created, the
// installation directory is unknown, or the user file could not be read. A list created
// here stays in *list even when filling it failed.
bool PopulateSupportedWriters(vo_list **list);

// Appends the entries of the first line of the user file: the text between commas, taken
// as it stands (empty pieces and a trailing newline included). True when the line was read.
bool PopulateUserSupportedWriters(vo_list *list, const char *path);

// Appends the built-in table.
void PopulateDefaultSupportedWriters(vo_list *list);

// Where the entries of the last list filled by PopulateSupportedWriters came from, so
// that a classification can say which list took or refused a writer.
enum class SupportedListSource { None, BuiltIn, UserFile };
SupportedListSource LastSupportedListSource();

// True when writerId is on the list; false for a missing or empty list.
bool IsWriterInSupportedList(const vo_list *list, const char *writerId);

} // namespace winclass
