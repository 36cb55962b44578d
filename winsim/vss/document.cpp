// The backup-components document: the XML a backup saves and a restore reads back.
#include "backupcomponents.h"

#include <cstdlib>

namespace winsim {
namespace vss {

namespace {

const char kDocumentRoot[] = "BACKUP_COMPONENTS";

void PutSpec(pugi::xml_node node, const VssFileSpec &file)
{
    node.append_attribute("path") = Narrow(file.path).c_str();
    node.append_attribute("filespec") = Narrow(file.filespec).c_str();
    node.append_attribute("recursive") = file.recursive;
    node.append_attribute("destination") = Narrow(file.alternateLocation).c_str();
}

} // namespace

std::string DocumentToXml(const Document &document)
{
    pugi::xml_document xml;
    pugi::xml_node root = xml.append_child(kDocumentRoot);
    root.append_attribute("context") = long(document.context);
    root.append_attribute("selectComponents") = document.selectComponents;
    root.append_attribute("bootableSystemState") = document.bootableSystemState;
    root.append_attribute("backupType") = document.backupType;
    root.append_attribute("partialFileSupport") = document.partialFileSupport;
    root.append_attribute("snapshotSetId") = Narrow(GuidText(document.snapshotSetId)).c_str();
    for (const DocumentWriter &writer : document.writers) {
        pugi::xml_node node = root.append_child("WRITER_COMPONENTS");
        PutWriter(node.append_child("WRITER_METADATA"), writer.metadata);
        for (const DocumentComponent &component : writer.components) {
            pugi::xml_node entry = node.append_child("COMPONENT");
            entry.append_attribute("type") = component.key.type;
            entry.append_attribute("logicalPath") = Narrow(component.key.logicalPath).c_str();
            entry.append_attribute("name") = Narrow(component.key.name).c_str();
            entry.append_attribute("backupSucceeded") = component.backupSucceeded;
            entry.append_attribute("backupOptions") = Narrow(component.backupOptions).c_str();
            entry.append_attribute("selectedForRestore") = component.selectedForRestore;
            entry.append_attribute("restoreOptions") = Narrow(component.restoreOptions).c_str();
            entry.append_attribute("authoritative") = component.authoritative;
            entry.append_attribute("additionalRestores") = component.additionalRestores;
            for (const RestoreSubcomponent &sub : component.subcomponents) {
                pugi::xml_node subNode = entry.append_child("RESTORE_SUBCOMPONENT");
                subNode.append_attribute("logicalPath") = Narrow(sub.logicalPath).c_str();
                subNode.append_attribute("name") = Narrow(sub.name).c_str();
                subNode.append_attribute("repair") = sub.repair;
            }
            for (const VssFileSpec &mapping : component.mappings)
                PutSpec(entry.append_child("ALTERNATE_LOCATION_MAPPING"), mapping);
        }
    }
    for (const VssSnapshotInfo &snapshot : document.snapshots) {
        pugi::xml_node node = root.append_child("SNAPSHOT");
        node.append_attribute("snapshotId") = Narrow(GuidText(snapshot.snapshotId)).c_str();
        node.append_attribute("originalVolume") = Narrow(snapshot.originalVolume).c_str();
        node.append_attribute("device") = Narrow(snapshot.device).c_str();
    }
    struct Out : pugi::xml_writer {
        std::string text;
        void write(const void *data, size_t size) override { text.append(static_cast<const char *>(data), size); }
    } out;
    xml.save(out, "", pugi::format_raw);
    return out.text;
}

namespace {

bool ReadBool(pugi::xml_node node, const char *name, bool *value)
{
    const std::string textValue = node.attribute(name).value();
    if (textValue != "true" && textValue != "false")
        return false;
    *value = textValue == "true";
    return true;
}

bool ReadInt(pugi::xml_node node, const char *name, long low, long high, long *value)
{
    const std::string digits = node.attribute(name).value();
    char *end = nullptr;
    const long parsed = std::strtol(digits.c_str(), &end, 10);
    if (digits.empty() || *end != 0 || parsed < low || parsed > high)
        return false;
    *value = parsed;
    return true;
}

bool ReadGuid(pugi::xml_node node, const char *name, GUID *id)
{
    return ParseGuid(Widen(node.attribute(name).value()), id);
}

} // namespace

bool DocumentFromXml(const std::string &xmlText, Document *document)
{
    pugi::xml_document xml;
    if (!xml.load_buffer(xmlText.data(), xmlText.size()))
        return false;
    pugi::xml_node root = xml.child(kDocumentRoot);
    if (!root || !SingleRoot(xml))
        return false;
    Document loaded;
    long number = 0;
    if (!ReadInt(root, "context", -2147483647L - 1, 2147483647L, &number))
        return false;
    loaded.context = LONG(number);
    if (!ReadInt(root, "backupType", 0, VSS_BT_OTHER, &number))
        return false;
    loaded.backupType = int(number);
    if (!ReadBool(root, "selectComponents", &loaded.selectComponents) ||
        !ReadBool(root, "bootableSystemState", &loaded.bootableSystemState) ||
        !ReadBool(root, "partialFileSupport", &loaded.partialFileSupport) ||
        !ReadGuid(root, "snapshotSetId", &loaded.snapshotSetId))
        return false;
    for (pugi::xml_node node : root.children("WRITER_COMPONENTS")) {
        DocumentWriter writer;
        pugi::xml_node metadata = node.child("WRITER_METADATA");
        if (!metadata || !GetWriter(metadata, &writer.metadata))
            return false;
        for (pugi::xml_node entry : node.children("COMPONENT")) {
            DocumentComponent component;
            component.key.writerId = writer.metadata.id;
            component.instanceId = writer.metadata.instanceId;
            if (!ReadInt(entry, "type", 1, 2, &number))
                return false;
            component.key.type = int(number);
            if (!entry.attribute("name") || !entry.attribute("logicalPath"))
                return false;
            component.key.logicalPath = Widen(entry.attribute("logicalPath").value());
            component.key.name = Widen(entry.attribute("name").value());
            component.backupOptions = Widen(entry.attribute("backupOptions").value());
            component.restoreOptions = Widen(entry.attribute("restoreOptions").value());
            if (!ReadBool(entry, "backupSucceeded", &component.backupSucceeded) ||
                !ReadBool(entry, "selectedForRestore", &component.selectedForRestore) ||
                !ReadBool(entry, "authoritative", &component.authoritative))
                return false;
            // Documents saved before a restore asked for additional restores lack it.
            if (entry.attribute("additionalRestores") &&
                !ReadBool(entry, "additionalRestores", &component.additionalRestores))
                return false;
            for (pugi::xml_node subNode : entry.children("RESTORE_SUBCOMPONENT")) {
                RestoreSubcomponent sub;
                sub.logicalPath = Widen(subNode.attribute("logicalPath").value());
                sub.name = Widen(subNode.attribute("name").value());
                if (sub.name.empty() || !ReadBool(subNode, "repair", &sub.repair))
                    return false;
                component.subcomponents.push_back(sub);
            }
            for (pugi::xml_node mapNode : entry.children("ALTERNATE_LOCATION_MAPPING")) {
                VssFileSpec mapping;
                mapping.path = Widen(mapNode.attribute("path").value());
                mapping.filespec = Widen(mapNode.attribute("filespec").value());
                mapping.alternateLocation = Widen(mapNode.attribute("destination").value());
                if (!ReadBool(mapNode, "recursive", &mapping.recursive))
                    return false;
                component.mappings.push_back(mapping);
            }
            writer.components.push_back(component);
        }
        loaded.writers.push_back(std::move(writer));
    }
    for (pugi::xml_node node : root.children("SNAPSHOT")) {
        VssSnapshotInfo snapshot;
        if (!ReadGuid(node, "snapshotId", &snapshot.snapshotId))
            return false;
        snapshot.snapshotSetId = loaded.snapshotSetId;
        snapshot.originalVolume = Widen(node.attribute("originalVolume").value());
        snapshot.device = Widen(node.attribute("device").value());
        snapshot.context = loaded.context;
        loaded.snapshots.push_back(snapshot);
    }
    *document = std::move(loaded);
    return true;
}

STDMETHODIMP BackupComponents::SaveAsXML(BSTR *xml)
{
    HRESULT hr;
    if (OperationFault("IVssBackupComponents::SaveAsXML", &hr))
        return hr;
    if (!xml)
        return E_INVALIDARG;
    *xml = nullptr;
    if (mode_ == Mode::None)
        return VSS_E_BAD_STATE;
    return PutBstr(Widen(DocumentToXml(document_)), xml);
}

} // namespace vss
} // namespace winsim
