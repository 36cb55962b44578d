// Writer classification: the user-data, system-state and unsupported lists of a session,
// and the promotion policies that bring user-data writers into the system state. Each
// list is filled once per session and every writer it takes or refuses is noted in the
// decision log with the reason.
#include <libwinclass/backup/sysreq.h>

#include <libwinclass/explain.h>
#include <libwinclass/backup/trace.h>
#include <libwinclass/writers/classify.h>
#include <libwinclass/writers/supported.h>

#include <liblocal/local.h>
#include <libtlv/settings.h>

#include <cstring>
#include <string>

using winclass::PolicyFor;
using winclass::TraceDetail;

namespace {

const WCHAR kAsrWriterName[] = W("ASR Writer");

// What the classification needs to know of one writer, worked out once per list.
struct WriterFacts {
    std::string idText;   // braced ID, as the supported list holds it
    std::string nameUtf8;
    bool supported = false;
    bool disabled = false;
};

WriterFacts FactsOf(CVssSysReqBackup &requester, const CVssCrWriter &writer)
{
    WriterFacts facts;
    const tv_str id(requester.cr->WriterGUIDtoStr(writer.writerId).c_str());
    const tv_str name(writer.GetName().c_str());
    facts.idText = id.get_utf8();
    facts.nameUtf8 = name.get_utf8();
    facts.supported = requester.IsWriterSupported(static_cast<const char *>(id));
    // The setting names writers in narrow text.
    const char *narrowName = static_cast<const char *>(name);
    facts.disabled = is_writer_disabled(narrowName != nullptr ? narrowName : "") != 0;
    return facts;
}

const char *ListName()
{
    return winclass::LastSupportedListSource() == winclass::SupportedListSource::UserFile
               ? "the user's writer list file"
               : "the built-in supported list";
}

const char *UsageName(VSS_USAGE_TYPE usage)
{
    switch (usage) {
    case VSS_UT_BOOTABLESYSTEMSTATE:
        return "bootable system state";
    case VSS_UT_SYSTEMSERVICE:
        return "system service";
    case VSS_UT_USERDATA:
        return "user data";
    default:
        return "other";
    }
}

std::string SupportedReason(const WriterFacts &facts, VSS_USAGE_TYPE usage)
{
    return std::string("Usage type ") + UsageName(usage) + "; its ID " + facts.idText + " is in " + ListName() +
           " and the user has not disabled it.";
}

// Why a writer is unsupported: one or both of the two causes.
std::string UnsupportedReason(const WriterFacts &facts)
{
    std::string reason;
    if (!facts.supported)
        reason = std::string("Its ID ") + facts.idText + " is not in " + ListName();
    if (facts.disabled)
        reason += reason.empty() ? "The user disabled it (DisabledWriters setting)"
                                 : ", and the user disabled it (DisabledWriters setting)";
    return reason + ".";
}

// What a policy promotes, for the reason of a promoted writer.
std::string PolicyScope(const CPromoteUserDataWriter *policy)
{
    const char *scope = " (every component)";
    if (dynamic_cast<const CPromoteUserHyperVWriter *>(policy) != nullptr)
        scope = " (its \"Initial Store\" and \"Host Component\" components)";
    else if (dynamic_cast<const CPromoteUserSQLWriter *>(policy) != nullptr)
        scope = " (components of a Windows Internal Database instance)";
    return winclass::PolicyName(policy) + std::string(scope);
}

CVssSysReqBackup::Decision WriterDecision(const WriterFacts &facts, bool taken, const char *verdict,
                                          std::string reason)
{
    CVssSysReqBackup::Decision decision;
    decision.subject = VSSCR_SUBJECT_WRITER;
    decision.taken = taken;
    decision.writer = facts.nameUtf8;
    decision.verdict = verdict;
    decision.reason = std::move(reason);
    return decision;
}

} // namespace

CVssCrWriterList CVssSysReqBackup::GetUserDataWriters()
{
    // Without a requester there is nothing to list yet; the list is not filled.
    if (userDataWritersFilled || cr == nullptr)
        return userDataWriters;
    CVssCrWriterList all;
    if (Checked("GetWriters", cr->GetWriters(all)) != 0) {
        userDataWritersFilled = true;
        return userDataWriters;
    }
    for (const std::shared_ptr<CVssCrWriter> &writer : all) {
        if (!writer || writer->usageType != VSS_UT_USERDATA)
            continue;
        const WriterFacts facts = FactsOf(*this, *writer);
        if (facts.supported && !facts.disabled) {
            userDataWriters.push_back(writer);
            Decide(WriterDecision(facts, true, "user data", SupportedReason(facts, writer->usageType)));
        }
    }
    userDataWritersFilled = true;
    return userDataWriters;
}

CVssCrWriterList CVssSysReqBackup::GetSystemStateWriters()
{
    // Without a requester there is nothing to list yet; the list is not filled.
    if (systemStateWritersFilled || cr == nullptr)
        return systemStateWriters;
    CVssCrWriterList bootable, services, userData;
    if (Checked("GetWritersByType", cr->GetWritersByType(VSS_UT_BOOTABLESYSTEMSTATE, bootable)) != 0 ||
        Checked("GetWritersByType", cr->GetWritersByType(VSS_UT_SYSTEMSERVICE, services)) != 0 ||
        Checked("GetWritersByType", cr->GetWritersByType(VSS_UT_USERDATA, userData)) != 0) {
        if (TraceDetail())
            debugprintf("VSS .. the writers by usage type could not be listed; no system-state writer this session.\n");
        systemStateWritersFilled = true;
        return systemStateWriters;
    }
    bootable.splice(bootable.end(), services);
    for (const std::shared_ptr<CVssCrWriter> &writer : bootable) {
        if (!writer)
            continue;
        const WriterFacts facts = FactsOf(*this, *writer);
        if (facts.supported && !facts.disabled) {
            systemStateWriters.push_back(writer);
            Decide(WriterDecision(facts, true, "system state", SupportedReason(facts, writer->usageType)));
        }
    }
    for (const std::shared_ptr<CVssCrWriter> &writer : userData) {
        if (!writer)
            continue;
        const WriterFacts facts = FactsOf(*this, *writer);
        if (facts.supported && !facts.disabled && NeedsPromotion(writer)) {
            systemStateWriters.push_back(writer);
            Decide(WriterDecision(facts, true, "system state",
                                  std::string("A user-data writer promoted into the system state by ") +
                                      PolicyScope(PolicyFor(promotePolicies, writer->writerId)) + "; its ID " +
                                      facts.idText + " is in " + ListName() + "."));
        }
    }
    systemStateWritersFilled = true;
    return systemStateWriters;
}

CVssCrWriterList CVssSysReqBackup::GetUnsupportedWriters()
{
    // Without a requester there is nothing to list yet; the list is not filled.
    if (unsupportedWritersFilled || cr == nullptr)
        return unsupportedWriters;
    CVssCrWriterList all;
    if (Checked("GetWriters", cr->GetWriters(all)) != 0) {
        unsupportedWritersFilled = true;
        return unsupportedWriters;
    }
    for (const std::shared_ptr<CVssCrWriter> &writer : all) {
        if (!writer)
            continue;
        const WriterFacts facts = FactsOf(*this, *writer);
        // The recovery selection takes this writer by name; no supported list names it.
        if (writer->GetName() == kAsrWriterName) {
            Decide(WriterDecision(facts, true, "ASR",
                                  "Never counted unsupported: the disaster-recovery selection takes the ASR writer "
                                  "by name, whatever the supported list holds."));
            continue;
        }
        if (!facts.supported || facts.disabled) {
            unsupportedWriters.push_back(writer);
            Decide(WriterDecision(facts, false, "unsupported", UnsupportedReason(facts)));
        } else if (writer->usageType != VSS_UT_BOOTABLESYSTEMSTATE && writer->usageType != VSS_UT_SYSTEMSERVICE &&
                   writer->usageType != VSS_UT_USERDATA) {
            // Supported, yet neither the user-data nor the system-state list takes it.
            Decide(WriterDecision(facts, false, "no list",
                                  std::string("Supported, but of usage type ") + UsageName(writer->usageType) +
                                      ", which neither the user-data nor the system-state list takes."));
        }
    }
    unsupportedWritersFilled = true;
    return unsupportedWriters;
}

bool CVssSysReqBackup::NeedsPromotion(const std::shared_ptr<CVssCrWriter> &writer)
{
    if (!writer || PolicyFor(promotePolicies, writer->writerId) == nullptr)
        return false;
    if (TraceDetail())
        debugprintf("%s needs to be promoted for system state backups.\n", tv_str(writer->GetName().c_str()).get_utf8());
    return true;
}

bool CVssSysReqBackup::IsComponentSupported(const std::shared_ptr<CVssCrWriter> &writer,
                                            const std::shared_ptr<CVssWriterComp> &component)
{
    if (!writer || !component)
        return false;
    bool supported = false;
    for (CPromoteUserDataWriter *policy : promotePolicies) {
        if (std::memcmp(&policy->writerId, &writer->writerId, sizeof(GUID)) != 0)
            continue;
        // The last policy for the writer has the word.
        supported = policy->SupportsComponent(component);
        if (supported && TraceDetail())
            debugprintf("%s component of %s is supported for backup.\n",
                        tv_str(component->GetName().c_str()).get_utf8(), tv_str(writer->GetName().c_str()).get_utf8());
    }
    return supported;
}

extern "C" int vsscr_classify_writers(void)
{
    CVssSysReqBackup &requester = BackupRequester();
    if (!requester.initialized || requester.cr == nullptr)
        return -1;
    CVssCrWriterList all;
    if (requester.Checked("GetWriters", requester.cr->GetWriters(all)) != 0)
        return -1;
    requester.GetSystemStateWriters();
    requester.GetUserDataWriters();
    requester.GetUnsupportedWriters();
    return static_cast<int>(all.size());
}

namespace winclass {

CPromoteUserDataWriter *PolicyFor(const std::list<CPromoteUserDataWriter *> &policies, const GUID &writerId)
{
    for (CPromoteUserDataWriter *policy : policies) {
        if (std::memcmp(&policy->writerId, &writerId, sizeof(GUID)) == 0)
            return policy;
    }
    return nullptr;
}

const char *PolicyName(const CPromoteUserDataWriter *policy)
{
    if (policy == nullptr)
        return "no promotion policy";
    if (dynamic_cast<const CPromoteUserHyperVWriter *>(policy) != nullptr)
        return "the virtualization host policy";
    if (dynamic_cast<const CPromoteUserSQLWriter *>(policy) != nullptr)
        return "the database policy";
    return "the default promotion policy";
}

} // namespace winclass
