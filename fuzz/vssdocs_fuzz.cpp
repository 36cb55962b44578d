// The documents a restore reads back: a backup components document and a writer metadata
// document (the input's bytes before and after its first NUL; without one, the whole
// input is both). They go through the exported restore interface as the recover program
// drives it, and every writer that loads is asked everything the program asks.
//
// With FUZZ_VSS_SEEDS naming a folder, the target first writes there the documents a
// backup of the default host saves, the seeds of its corpus.
#include "fuzzcheck.h"
#include "fuzzfiles.h"

#include <libwinclass/conversions.h>
#include <libwinclass/restore.h>

#include <liblocal/local.h>
#include <vssrequester/vsscr.h>

#include <cstdlib>
#include <fstream>

namespace {

void Drop(vo_msg *message)
{
    if (message != nullptr)
        msg_free(message);
}

void FreeNodes(vsscr_compinfo *node)
{
    while (node != nullptr) {
        vsscr_compinfo *next = node->next;
        for (vsscr_filedesc *chain : {node->files, node->database_files, node->database_log_files})
            vsscr_free_filedesc_struct(0, chain);
        if (node->component != nullptr) {
            for (WCHAR *text : {node->component->name, node->component->caption, node->component->logical_path})
                delete[] text;
            delete node->component;
        }
        delete node;
        node = next;
    }
}

// Everything the recover program asks of one writer, then its selection.
void AskWriter(const std::string &name)
{
    VSS_RESTOREMETHOD_ENUM method = VSS_RME_UNDEFINED;
    VSS_WRITERRESTORE_ENUM writerRestore = VSS_WRE_UNDEFINED;
    char service[64], procedure[64];
    unsigned int reboot = 7, usage = 0;
    Drop(vsscr_get_writer_restore_method_info(name.c_str(), &method, sizeof service, service, sizeof procedure,
                                              procedure, &writerRestore, &reboot));
    FUZZ_CHECK(reboot == 0 || reboot == 1);
    Drop(vsscr_get_writer_usage_type(name.c_str(), &usage));
    GUID id = GUID_NULL;
    Drop(vsscr_get_writer_id(name.c_str(), &id));
    vsscr_filedesc *chain = nullptr;
    Drop(vsscr_get_writer_exclude_list(0, name.c_str(), &chain));
    vsscr_free_filedesc_struct(0, chain);
    chain = nullptr;
    Drop(vsscr_get_alternate_location_map(name.c_str(), &chain));
    vsscr_free_filedesc_struct(0, chain);

    unsigned int count = 0;
    vsscr_compinfo head = {};
    Drop(vsscr_get_comp_info(name.c_str(), &count, &head, &method));
    vsscr_compinfo *first = vsscr_compinfo_first(&head);
    int chained = 0;
    for (vsscr_compinfo *node = first; node != nullptr; node = node->next)
        ++chained;
    FUZZ_CHECK(unsigned(chained) <= count);
    // One component on its own, with an alternate location for its first file.
    if (first != nullptr && first->component != nullptr) {
        Drop(vsscr_add_snapcomponent_for_restore(name.c_str(), first->component, 0, 0));
        if (first->files != nullptr)
            Drop(vsscr_add_alternate_location(name.c_str(), first->component, first->files));
    }
    FreeNodes(first);
    Drop(vsscr_add_snapcomponent_for_restore(name.c_str(), nullptr, 1, 1));
}

void WriteSeeds(const std::string &folder)
{
    CVssCr *requester = CVssCr::Instance();
    if (requester->InitializeForBackup(VSSCR_OPERATION_DEFAULT, wstr(), true, true, VSS_BT_FULL, VSS_CTX_BACKUP,
                                       false, false) != 0)
        return;
    CVssCrWriterList writers;
    requester->GetWriters(writers);
    std::string all;
    int n = 0;
    for (const auto &writer : writers) {
        CVssWriterCompList components;
        writer->GetAllComponents(components);
        for (const auto &component : components)
            component->SetSelected(true);
        std::ofstream(folder + "/writer-" + std::to_string(++n) + ".xml", std::ios::binary) << writer->metadataXml;
        all = writer->metadataXml;
    }
    wstr bcd = W("C:\\fuzz\\seed-bcd.xml");
    CreateDirectoryW(W("C:\\fuzz"), nullptr);
    if (requester->SaveBcdAsXML(bcd) == 0) {
        HANDLE file = CreateFileW(bcd.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        char buffer[1 << 16];
        DWORD got = 0;
        std::string text;
        while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
            text.append(buffer, got);
        CloseHandle(file);
        std::ofstream(folder + "/bcd.xml", std::ios::binary) << text;
        std::ofstream(folder + "/bcd-and-writer.xml", std::ios::binary) << text << '\0' << all;
    }
    requester->UnInitialize();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (const char *folder = std::getenv("FUZZ_VSS_SEEDS"))
        WriteSeeds(folder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    const size_t nul = input.find('\0');
    const std::string bcd = input.substr(0, nul);
    const std::string metadata = nul == std::string::npos ? input : input.substr(nul + 1);
    FUZZ_CHECK(WriteFuzzFile(W("C:\\fuzz\\bcd.xml"), bcd));
    FUZZ_CHECK(WriteFuzzFile(W("C:\\fuzz\\writer.xml"), metadata));

    Drop(vsscr_init_recover("C:\\fuzz\\bcd.xml"));
    Drop(vsscr_load_writer_xml("C:\\fuzz\\writer.xml"));
    CVssCrWriterList writers;
    CVssCr::Instance()->GetWriters(writers);
    for (const auto &writer : writers)
        AskWriter(to_utf8(writer->GetName()));
    Drop(vsscr_pre_restore());
    Drop(vsscr_post_restore());
    for (const auto &writer : writers)
        Drop(vsscr_post_restore_writer_status(to_utf8(writer->GetName()).c_str()));
    vsscr_uninit_recover();
    return 0;
}
