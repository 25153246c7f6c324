// The replacement step run with administrator rights: the updater started once more,
// through Windows' consent prompt, as `tervan58-updater.exe --replace "<download
// folder>" "<install folder>"`.
#pragma once

#include <string>

#include <windows.h>

#include "engine/update_procedure.hpp"

namespace tervan {

// Whether this process has administrator rights already (started with "Run as
// administrator", or an administrator's account with the consent prompt switched
// off): asking for them again would change nothing.
bool RunsElevated();

// Asks Windows to start the step with administrator rights (the prompt is owned by
// `owner`) and waits for its end. Meanwhile `owner` is disabled and its messages keep
// flowing, so it stays painted, takes no input and is never shown as not responding.
ElevatedStep RunElevatedReplace(HWND owner, const std::string& source_folder,
                                const std::string& destination_folder);

// `argument` quoted for a command line, so that CommandLineToArgvW (and the C
// runtime) give it back exactly: backslashes are literal unless they come before a
// quote, so those are doubled ("C:\" must not end in an escaped quote).
std::wstring QuotedArgument(const std::wstring& argument);

} // namespace tervan
