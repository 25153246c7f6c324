// Whether a program runs from a file: Windows keeps a running program's exe open
// until it ends, and nothing can take its place meanwhile.
#pragma once

#include <string>

namespace tervan {

// True when a running process was started from the file at `exe` (compared by file
// identity, not by path text). Candidates are what the Restart Manager lists as
// using the file (every session this user may look into; also processes this user
// may not open, which count when the Restart Manager knows them as applications) and
// every process whose image has the file's name. A process that merely has the file
// open, as a virus scanner does for a moment, does not count.
bool ProgramRunsFrom(const std::wstring& exe);

} // namespace tervan
