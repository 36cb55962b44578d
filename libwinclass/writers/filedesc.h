// Writer files as plain descriptor chains: the save side (as handed to the save program)
// and the restore side (paths rewritten into forms the client can open), the component
// record of the recover program, and archive marking of what a descriptor names.
#pragma once

#include <libwinclass/saveitems.h>
#include <libwinclass/tv_str.h>

#include <vssrequester/vsscr.h>

#include <memory>

struct vo_msg;

namespace winclass {

// Save side: one malloc'd descriptor per file, in list order; lengths without the NUL.
// NULL for an empty list or when memory runs out. Release with FreeFileDescList.
vsscr_filedesc *BuildSaveFileChain(const CVssWriterFileList &files);

} // namespace winclass

// Restore side: the writer's files as descriptors whose paths the client can open (volume
// GUID paths as drive letters, a rooted path once per local volume, ...). 0, or
// E_INVALIDARG, E_OUTOFMEMORY, or the mount table's error. Release with
// vsscr_free_filedesc_struct(0, ...).
HRESULT ConvertWriterFiles(const tv_str &writerName, const CVssWriterFileList &files, vsscr_filedesc **out);

// The writer's exclude files through ConvertWriterFiles; NULL, or the message.
struct vo_msg *GetWriterExcludeFiles(const std::shared_ptr<CVssCrWriter> &writer, vsscr_filedesc **out);

// The recover program's record of one component (index: its 1-based position). Always 0;
// *out is NULL when memory ran out. Release with delete.
int BuildWriterComponentRecord(const std::shared_ptr<CVssWriterComp> &component, vsscr_writercomponent **out,
                               uint32_t index);

// Sets FILE_ATTRIBUTE_ARCHIVE on every file the descriptor names (environment variables in
// its path expanded). Reports nothing: a file whose attributes cannot be read is left as it
// is, a folder that cannot be searched is skipped.
void MarkFileForArchive(const vsscr_filedesc *descriptor);
