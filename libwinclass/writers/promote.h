// Promotion policies: user-data writers whose components (all, or some) are backed up
// as part of the system state. One policy object per writer ID; the backup requester
// holds them in promotePolicies.
#pragma once

#include <platform/tvplatform.h>

#include <memory>

class CVssWriterComp;

class CPromoteUserDataWriter {
public:
    explicit CPromoteUserDataWriter(const GUID &writerId) : writerId(writerId) {}
    virtual ~CPromoteUserDataWriter() = default;
    CPromoteUserDataWriter(const CPromoteUserDataWriter &) = delete;
    CPromoteUserDataWriter &operator=(const CPromoteUserDataWriter &) = delete;

    // Whether this component of the writer is backed up with the system state.
    virtual bool SupportsComponent(const std::shared_ptr<CVssWriterComp> &component) = 0;
    virtual bool PromotesAllComponents() = 0;

    // The writer the policy applies to.
    GUID writerId;
};

// Every component of the writer is promoted.
class CPromoteDefaultUserDataWriter : public CPromoteUserDataWriter {
public:
    using CPromoteUserDataWriter::CPromoteUserDataWriter;
    bool SupportsComponent(const std::shared_ptr<CVssWriterComp> &component) override;
    bool PromotesAllComponents() override;
};

// The virtualization host's writer: only its host-wide components.
class CPromoteUserHyperVWriter : public CPromoteUserDataWriter {
public:
    using CPromoteUserDataWriter::CPromoteUserDataWriter;
    bool SupportsComponent(const std::shared_ptr<CVssWriterComp> &component) override;
    bool PromotesAllComponents() override;
};

// The database writer: only components of an internal database instance.
class CPromoteUserSQLWriter : public CPromoteUserDataWriter {
public:
    using CPromoteUserDataWriter::CPromoteUserDataWriter;
    bool SupportsComponent(const std::shared_ptr<CVssWriterComp> &component) override;
    bool PromotesAllComponents() override;
};
