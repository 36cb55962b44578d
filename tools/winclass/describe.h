// What describe-host asks outside its own source.
#pragma once

#include <platform/tvplatform.h>

#include <string>

namespace winclass {

// The login the instance refused (DB_SEC_E_AUTH_FAILED); E_FAIL: no such server.
const HRESULT kSqlLoginRefused = HRESULT(0x80040E4D);

// SELECT @@VERSION on the instance (HOST or HOST\INSTANCE) through ADO's Recordset over
// SQLOLEDB with a Windows-authenticated connection, as the library's database policy
// asks; the version text as UTF-8. COM must be initialised on the thread.
HRESULT SqlInstanceVersion(const wstr &instance, std::string *version);

} // namespace winclass
