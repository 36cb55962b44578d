// Archive marking: the files that a writer's folder-and-pattern entry names get the archive
// attribute, so that the client's next incremental backup takes them.
#pragma once

#include <libwinclass/tv_str.h>

// One folder-and-pattern entry: a folder (environment variables as the writer wrote them), a
// file name or wildcard pattern, and whether it applies below the folder too.
struct ArchiveFileSpec {
    const WCHAR *path = nullptr;
    const WCHAR *fileSpec = nullptr;
    bool recursive = false;
};

// Sets FILE_ATTRIBUTE_ARCHIVE on every file the entry names. Reports nothing: a
// file whose attributes cannot be read is left as it is, a folder that cannot be searched
// is skipped.
void MarkFileForArchive(const ArchiveFileSpec &spec);
