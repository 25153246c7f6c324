// Per-user program settings in the registry, where Visual Basic's SaveSetting
// puts them and where Tervan58 records its install folder. Read only.
#pragma once

#include <string>

namespace tervan {

// The value `key` of the key <app>\<section> under
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings, exactly as stored (no
// trimming). Empty text when the key or the value is missing or the value is not
// text (REG_SZ or REG_EXPAND_SZ).
//
// REG_EXPAND_SZ comes back unexpanded: the value is shown to the user and compared
// as text, SaveSetting only ever writes REG_SZ, and an expansion would make the text
// depend on the environment of whoever reads it.
//
// Data without a terminating NUL ends at its last whole character, data with an
// embedded NUL at that NUL; nothing past the stored bytes is ever read.
std::string ReadProgramSetting(const std::string& app, const std::string& section,
                               const std::string& key);

} // namespace tervan
