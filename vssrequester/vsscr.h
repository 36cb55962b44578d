// libvssrequester: the common requester. CVssCr is the one process-wide requester object
// through which every VSS operation of the client goes; it talks to VSS through the
// platform's IVssBackupComponents and writer-metadata interfaces.
//
// Writers, their components, their files and the volumes of the snapshot set are handed
// out as shared pointers; the objects are plain copies of what VSS reported, taken when
// the session gathered writer metadata (or when a saved writer document was loaded), so
// reading them never calls into VSS again.
//
// Results of type long are HRESULTs: 0 is success, anything else the failing code.
#pragma once

#include <vssrequester/vsscrapi.h>
#include <vssrequester/ccombstr.h>

#include <vss.h>
#include <vswriter.h>
#include <vsbackup.h>

#include <cstdint>
#include <list>
#include <map>
#include <memory>

class CVssCr;
class CVssCrWriter;
class CVssWriterComp;
class CVssWriterFile;
class CVssMountPoint;

// What a session is opened for. The client only ever asks for the default.
enum OperationType {
    VSSCR_OPERATION_DEFAULT = 0,
};

using CVssCrWriterList = std::list<std::shared_ptr<CVssCrWriter>>;
using CVssWriterCompList = std::list<std::shared_ptr<CVssWriterComp>>;
using CVssWriterFileList = std::list<std::shared_ptr<CVssWriterFile>>;
using CVssMountPointList = std::list<std::shared_ptr<CVssMountPoint>>;
// Volume name (as the snapshot set names it) to its mount point, iterated in key order.
using CVssMountPointMap = std::map<wstr, std::shared_ptr<CVssMountPoint>>;

// One file specification of a writer: a component's file, database or log file group,
// an exclude specification, or an alternate-location mapping.
class VSSCR_API CVssWriterFile {
public:
    wstr path;               // folder, with environment variables as the writer wrote them
    wstr fileSpec;           // file name or wildcard pattern
    bool recursive = false;  // the specification also applies below path
    wstr alternateLocation;  // where the files go on restore; empty when none

    const wstr &GetPath() const { return path; }
    const wstr &GetFileSpec() const { return fileSpec; }
    bool IsRecursive() const { return recursive; }
    const wstr &GetAlternateLocation() const { return alternateLocation; }
};

// One volume of the snapshot set, or one volume that a component's files live on.
class VSSCR_API CVssMountPoint {
public:
    wstr volumePath;          // the volume as the client named it: X:\ or a mount folder, with '\'
    wstr volumeGuid;          // \\?\Volume{guid}\ of the volume
    wstr shadowCopyDevice;    // \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN; empty before the snapshot
    VSS_ID shadowCopyId = GUID_NULL;

    const wstr &GetVolumeGuid() const { return volumeGuid; }
    const wstr &GetShadowCopyDeviceObject() const { return shadowCopyDevice; }
};

class VSSCR_API CVssWriterComp {
public:
    CVssWriterComp() = default;
    virtual ~CVssWriterComp() = default;

    const wstr &GetName() const { return name; }
    const wstr &GetLogicalPath() const { return logicalPath; }
    // The writer's caption for the component; may be empty.
    const wstr &GetCaption() const { return caption; }
    VSS_COMPONENT_TYPE GetComponentType() const { return componentType; }
    VSS_RESTORE_TARGET GetRestoreTarget() const { return restoreTarget; }
    // True for a component that a saved backup document lists as a restore subcomponent
    // of a selected component (selectable for restore but not for backup).
    bool IsRestoreSubcomponent() const { return restoreSubcomponent; }

    long GetFiles(CVssWriterFileList &out) const;
    long GetDatabaseFiles(CVssWriterFileList &out) const;
    long GetDatabaseLogFiles(CVssWriterFileList &out) const;

    // In a backup session, adds the component to the backup set (AddComponent). VSS has no
    // call that takes a component out of the document again, so deselecting one already
    // added answers VSS_E_BAD_STATE. In a restore session the component is only marked;
    // the writer's SelectWriter(true) hands the marked components to VSS.
    long SetSelected(bool selected);
    // Whether the component may be selected for restore. With true, only a component
    // that was selected for backup in the saved document qualifies; with false, a
    // component that its writer marks selectable for restore (and that is not a restore
    // subcomponent) qualifies too, and VSS decides when it is selected.
    bool CanSelectForRestore(bool mustHaveBeenBackedUp) const;
    long SelectForRestore(bool selected);
    // Adds the component to the restore under the backed-up component that holds it.
    long AddAsRestoreSubcomponent();
    long SetRestoreOptions(const wstr &options);

    // The volumes that this component's files live on: by volume name, and as a list in
    // the same order.
    long GetVolumeMap(CVssMountPointMap &out) const;
    long GetVolumeList(CVssMountPointList &out) const;

    wstr name;
    wstr logicalPath;
    wstr caption;
    VSS_COMPONENT_TYPE componentType = VSS_CT_UNDEFINED;
    DWORD componentFlags = 0;  // VSS_COMPONENT_FLAGS
    // 1 for a component of a system-state writer (usage type bootable system state or
    // system service), 0 for a data component. Save items filter components by it.
    int32_t backupClass = 0;
    // The component is not selectable for backup: the writer always backs it up with
    // itself. For the ASR writer's "BCD" component this means the boot store's volume has
    // no volume GUID name and is named by its device path, so it cannot be selected and
    // its volume cannot be looked up by GUID.
    bool notSelectable = false;
    bool selectableForRestore = false;
    bool restoreSubcomponent = false;
    bool selected = false;            // selected for backup in this session
    bool selectedForRestore = false;
    bool inBackupDocument = false;    // the saved document of the restore session lists it
    bool addedAsRestoreSubcomponent = false;
    // The backed-up component that holds a restore subcomponent.
    VSS_COMPONENT_TYPE parentComponentType = VSS_CT_UNDEFINED;
    wstr parentLogicalPath;
    wstr parentName;
    // VSS_RT_ORIGINAL from the metadata (VSS_RT_ALTERNATE when the writer restores to an
    // alternate location); after PreRestore, the target the writer set.
    VSS_RESTORE_TARGET restoreTarget = VSS_RT_UNDEFINED;
    CVssWriterFileList files;
    CVssWriterFileList databaseFiles;
    CVssWriterFileList databaseLogFiles;
    CVssCrWriter *writer = nullptr;   // the owning writer; it outlives its components
};

class VSSCR_API CVssCrWriter {
public:
    CVssCrWriter() = default;
    virtual const wstr &GetName() const { return name; }
    virtual ~CVssCrWriter() = default;

    long GetAllComponents(CVssWriterCompList &out) const;
    long GetCompByName(const wstr &componentName, std::shared_ptr<CVssWriterComp> &out) const;
    long GetExcludeFile(CVssWriterFileList &out) const;
    long GetAlternateLocationMapping(CVssWriterFileList &out) const;
    long GetRestoreMethod(VSS_RESTOREMETHOD_ENUM *method, CComBSTR &service, CComBSTR &userProcedure,
                          VSS_WRITERRESTORE_ENUM *writerRestore, bool *rebootRequired,
                          unsigned int *mappingCount) const;
    // The writer's state as VSS reports it now. With refresh true the status is gathered
    // again (GatherWriterStatus) before it is read. A writer in one of the failed states
    // answers its failure code (VSS_E_WRITERERROR_NONRETRYABLE when it gave none).
    long GetStatus(_VSS_WRITER_STATE *state, bool refresh);
    // Backup: adds the writer's top-level components (those no other component of the
    // writer holds), which brings every component under them; false answers
    // VSS_E_BAD_STATE once one of them is in the document (see SetSelected).
    // Restore: the components marked with SetSelected, or with none marked every
    // component of the saved document, are selected for restore (or a restore
    // subcomponent is added); false takes the selection back.
    long SelectWriter(bool selected);
    // Writes the writer's metadata document (the XML that VSS returned) to a file.
    long SaveAsXML(const wstr &path) const;

    // The three members that callers read directly, in this order.
    VSS_ID writerId = GUID_NULL;
    VSS_USAGE_TYPE usageType = VSS_UT_UNDEFINED;
    VSS_SOURCE_TYPE sourceType = VSS_ST_UNDEFINED;

    bool metadataLoaded = false;  // the writer's metadata document is present
    wstr name;
    VSS_ID instanceId = GUID_NULL;
    wstr instanceName;
    VSS_RESTOREMETHOD_ENUM restoreMethod = VSS_RME_UNDEFINED;
    wstr restoreService;
    wstr restoreUserProcedure;
    VSS_WRITERRESTORE_ENUM writerRestore = VSS_WRE_UNDEFINED;
    bool rebootRequired = false;
    CVssWriterCompList components;
    CVssWriterFileList excludeFiles;
    CVssWriterFileList alternateLocationMappings;
    std::string metadataXml;      // the document VSS returned, UTF-8
    CVssCr *requester = nullptr;  // the requester whose session found the writer
};

class VSSCR_API CVssCr {
public:
    // The single requester object of the process; the same pointer on every call.
    static CVssCr *Instance();

    CVssCr(const CVssCr &) = delete;
    CVssCr &operator=(const CVssCr &) = delete;

    // Opens the requester's own log. enable false (or a path that cannot be opened)
    // leaves logging off; the result says whether logging is ready. The last flag asks
    // for the log to be appended to rather than started afresh.
    bool InitLogging(bool enable, unsigned int level, WCHAR *logPath, bool append);

    // Opens a backup session: CreateVssBackupComponents, InitializeForBackup, the context,
    // SetBackupState, GatherWriterMetadata; the writers found are kept as objects.
    //   writerName:         when not empty, only this writer's metadata is kept
    //   selectComponents:   SetBackupState's bSelectComponents
    //   backupBootableSystemState: SetBackupState's bBackupBootableSystemState
    //   partialFileSupport: SetBackupState's bPartialFileSupport
    //   persistent:         the snapshots outlive the session (ignored for VSS_CTX_BACKUP)
    long InitializeForBackup(OperationType operation, const wstr &writerName, bool selectComponents,
                             bool backupBootableSystemState, _VSS_BACKUP_TYPE backupType,
                             _VSS_SNAPSHOT_CONTEXT context, bool partialFileSupport, bool persistent);
    // Opens a restore session on a saved backup components document.
    long InitializeForRestore(wstr &bcdPath, _VSS_RESTORE_TYPE restoreType);

    long GetWriters(CVssCrWriterList &out);
    long GetWritersByType(VSS_USAGE_TYPE usageType, CVssCrWriterList &out);
    long GetWriterByName(wstr &writerName, std::shared_ptr<CVssCrWriter> &out);
    // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}, lower-case, 38 characters.
    wstr WriterGUIDtoStr(_GUID writerId);

    long AddVolToSnapset(wstr &volume);
    long DoSnapshot();
    long SaveBcdAsXML(wstr &path);
    long BackupComplete(bool succeeded);
    long DeleteSnapshotSet();

    // Rebuilds a writer from a saved metadata document. With replace true a writer of the
    // same ID already known to the session is replaced by the loaded one; with false a
    // known writer stays and the call answers VSS_E_OBJECT_ALREADY_EXISTS. In a restore
    // session the writers found by gathering carry only their identity (metadataLoaded
    // false) until their saved metadata is loaded here.
    long LoadFromXML(wstr &path, std::shared_ptr<CVssCrWriter> &out, bool replace);
    long PreRestore();
    long PostRestore();
    void UnInitialize();

    // Read by the client directly.
    int loggingReady = 0;                // set to 1 by the client once InitLogging succeeded
    VSS_ID snapshotSetId = GUID_NULL;    // valid after DoSnapshot
    CVssMountPointMap snapshotMountPoints;  // the volumes of the snapshot set
    // The session's object; owned by the requester and released by UnInitialize.
    IVssBackupComponents *backupComponents = nullptr;

private:
    friend class CVssCrWriter;
    friend class CVssWriterComp;
    struct Session;

    CVssCr();
    ~CVssCr();

    std::unique_ptr<Session> session;
};
