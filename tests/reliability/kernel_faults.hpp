// Faults at the border between the program's code and Windows. Stand-ins for the
// kernel32 file calls that Win32FileSystem makes are put into this exe's import
// table, so that the real Win32 code meets, on demand, the failures a disk, a
// file server or another program produce only now and then: a call that fails,
// a read or write that comes back short or empty, data that comes back changed,
// a rename that happened although it reported failure.
#pragma once

#include <array>
#include <optional>
#include <string>

#include <windows.h>

namespace tervan::reliability {

enum class Call {
    CreateFileW,
    ReadFile,
    WriteFile,
    FlushFileBuffers,
    MoveFileExW,
    DeleteFileW,
    GetFileAttributesW,
    GetFileType,
    GetFileInformationByHandleEx,
    SetFilePointerEx,
};
inline constexpr int kCallKinds = 10;
const char* CallName(Call call);

enum class Effect {
    Fail,          // fails with the fault's error code and does nothing
    Short,         // ReadFile/WriteFile: half of what was asked, success reported
    Nothing,       // ReadFile/WriteFile: success reported, no byte moved
    Corrupt,       // ReadFile: one byte of the data changed; WriteFile: one byte
                   // written changed; success reported either way
    DoneButFailed, // MoveFileExW/DeleteFileW: done, yet failure reported, as when a
                   // file server's answer is lost
    DeletePending, // CreateFileW: access denied, as Windows answers a create over a
                   // file still being deleted; GetFileAttributesW of that name fails
                   // the same way while the fault lasts
};
const char* EffectName(Effect effect);

inline constexpr unsigned kLasting = ~0u;

struct Fault {
    Call call;
    Effect effect;
    DWORD error;  // for the effects that report failure
    unsigned nth; // the nth call to that function while armed, from 1
    // How many calls in a row from the nth on, as a lock that is let go after a few
    // tries, or kLasting: every call from the nth on, as a lock held for good.
    unsigned calls = 1;
};
std::string Describe(const Fault& fault);

// One at a time: the stand-ins are static functions with one shared state.
class KernelFaults {
public:
    KernelFaults();
    ~KernelFaults();
    KernelFaults(const KernelFaults&) = delete;
    KernelFaults& operator=(const KernelFaults&) = delete;

    // False when the exe does not import the call (the program does not make it).
    bool has(Call call) const;

    // Calls are counted, and the fault (if any) injected, only while armed, so
    // that the test's own file calls around the code under test pass untouched.
    void arm(std::optional<Fault> fault = std::nullopt);
    void disarm();
    unsigned count(Call call) const;
    bool fired() const;
    // For a spoiled ReadFile: whether the real read would have brought data, that
    // is, whether the fault hid or changed bytes rather than an end of file.
    bool spoiled_data() const;
};

} // namespace tervan::reliability
