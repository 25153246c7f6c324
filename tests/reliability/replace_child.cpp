// The replacement and nothing else, for the kill check: the program's own
// ReplaceFileAllOrNothing over the real Win32 file system, in a process of its own
// that reliability_kill ends by force at a random moment.
//
//   reliability_replace_child SOURCE DESTINATION [STARTED_EVENT]
//
// STARTED_EVENT (a named event) is set just before the replacement begins, so the
// driver's delay counts from there and not from the process start. Exit code 0
// when the destination was replaced, 1 when it was not, 2 for a wrong call.
#include <windows.h>

#include "engine/replacement.hpp"
#include "engine/update_procedure.hpp"
#include "platform/win32/text.hpp"
#include "platform/win32/win32_file_system.hpp"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 4) return 2;
    const std::string source = tervan::Narrow(argv[1]);
    const std::string destination = tervan::Narrow(argv[2]);
    tervan::Win32FileSystem fs;
    if (argc == 4) {
        const HANDLE started = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
        if (started == nullptr) return 2;
        SetEvent(started);
        CloseHandle(started);
    }
    return tervan::ReplaceFileAllOrNothing(fs, source, destination) == tervan::Replacement::Replaced
               ? 0
               : 1;
}
