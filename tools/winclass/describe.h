// What describe-host asks outside its own source.
#pragma once

#include <platform/tvplatform.h>

#include <nlohmann/json.hpp>

#include <string>

namespace winclass {

// The login the instance refused (DB_SEC_E_AUTH_FAILED); E_FAIL: no such server.
const HRESULT kSqlLoginRefused = HRESULT(0x80040E4D);

// SELECT @@VERSION on the instance (HOST or HOST\INSTANCE) through ADO's Recordset over
// SQLOLEDB with a Windows-authenticated connection, as the library's database policy
// asks; the version text as UTF-8. COM must be initialised on the thread.
HRESULT SqlInstanceVersion(const wstr &instance, std::string *version);

// --redact: replaces in a captured description the names of the host, its domain, cluster,
// nodes, users, SQL Server instances and network adapters, its addresses and its volumes'
// serial numbers with placeholders, each value with the same one wherever it stands
// (docs/host-description.md, "What --redact changes").
void RedactHostDescription(nlohmann::ordered_json &doc);

} // namespace winclass
