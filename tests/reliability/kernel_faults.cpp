#include "tests/reliability/kernel_faults.hpp"

#include <vector>

namespace tervan::reliability {

namespace {

struct State {
    bool armed = false;
    std::optional<Fault> fault;
    std::array<unsigned, kCallKinds> counts{};
    bool fired = false;
    bool spoiled_data = false;
    std::wstring pending; // the name a DeletePending fault keeps
};
State g_state;

// The real functions, as the loader resolved them.
struct Real {
    decltype(&::CreateFileW) create_file = nullptr;
    decltype(&::ReadFile) read_file = nullptr;
    decltype(&::WriteFile) write_file = nullptr;
    decltype(&::FlushFileBuffers) flush = nullptr;
    decltype(&::MoveFileExW) move = nullptr;
    decltype(&::DeleteFileW) remove = nullptr;
    decltype(&::GetFileAttributesW) attributes = nullptr;
    decltype(&::GetFileType) type = nullptr;
    decltype(&::GetFileInformationByHandleEx) information = nullptr;
    decltype(&::SetFilePointerEx) seek = nullptr;
} g_real;

// True when this call is the one to spoil.
bool Hit(Call call) {
    if (!g_state.armed) return false;
    const unsigned n = ++g_state.counts[static_cast<int>(call)];
    const Fault* fault = g_state.fault ? &*g_state.fault : nullptr;
    if (!fault || fault->call != call || n < fault->nth || n - fault->nth >= fault->calls)
        return false;
    g_state.fired = true;
    return true;
}

const Fault& Current() {
    return *g_state.fault;
}

HANDLE WINAPI StandInCreateFileW(LPCWSTR name, DWORD access, DWORD share,
                                 LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                 HANDLE model) {
    if (Hit(Call::CreateFileW)) {
        if (Current().effect == Effect::DeletePending) g_state.pending = name;
        SetLastError(Current().effect == Effect::DeletePending ? ERROR_ACCESS_DENIED
                                                               : Current().error);
        return INVALID_HANDLE_VALUE;
    }
    g_state.pending.clear(); // the fault has run its course
    return g_real.create_file(name, access, share, security, disposition, flags, model);
}

BOOL WINAPI StandInReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got,
                            LPOVERLAPPED position) {
    if (!Hit(Call::ReadFile)) return g_real.read_file(file, buffer, size, got, position);
    {
        // A look at what the real read would bring, from the same place, leaving the
        // file pointer where it was.
        LARGE_INTEGER here{};
        g_real.seek(file, LARGE_INTEGER{}, &here, FILE_CURRENT);
        OVERLAPPED at = position ? *position : OVERLAPPED{};
        if (!position) {
            at.Offset = here.LowPart;
            at.OffsetHigh = static_cast<DWORD>(here.HighPart);
        }
        std::vector<unsigned char> scratch(size);
        DWORD there = 0;
        g_state.spoiled_data =
            g_real.read_file(file, scratch.data(), size, &there, &at) && there > 0;
        g_real.seek(file, here, nullptr, FILE_BEGIN);
    }
    switch (Current().effect) {
    case Effect::Short:
        return g_real.read_file(file, buffer, size > 1 ? size / 2 : size, got, position);
    case Effect::Nothing:
        if (got != nullptr) *got = 0;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    case Effect::Corrupt: {
        const BOOL ok = g_real.read_file(file, buffer, size, got, position);
        if (ok && got != nullptr && *got > 0) static_cast<unsigned char*>(buffer)[*got / 2] ^= 0x5A;
        return ok;
    }
    default:
        if (got != nullptr) *got = 0;
        SetLastError(Current().error);
        return FALSE;
    }
}

BOOL WINAPI StandInWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                             LPOVERLAPPED position) {
    if (!Hit(Call::WriteFile)) return g_real.write_file(file, data, size, written, position);
    switch (Current().effect) {
    case Effect::Short:
        return g_real.write_file(file, data, size > 1 ? size / 2 : size, written, position);
    case Effect::Nothing:
        if (written != nullptr) *written = 0;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    case Effect::Corrupt: {
        const auto* bytes = static_cast<const unsigned char*>(data);
        std::vector<unsigned char> changed(bytes, bytes + size);
        if (!changed.empty()) changed[changed.size() / 2] ^= 0x5A;
        return g_real.write_file(file, changed.data(), size, written, position);
    }
    default:
        if (written != nullptr) *written = 0;
        SetLastError(Current().error);
        return FALSE;
    }
}

BOOL WINAPI StandInFlushFileBuffers(HANDLE file) {
    if (Hit(Call::FlushFileBuffers)) {
        SetLastError(Current().error);
        return FALSE;
    }
    return g_real.flush(file);
}

BOOL WINAPI StandInMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    if (!Hit(Call::MoveFileExW)) return g_real.move(from, to, flags);
    if (Current().effect == Effect::DoneButFailed) g_real.move(from, to, flags);
    SetLastError(Current().error);
    return FALSE;
}

BOOL WINAPI StandInDeleteFileW(LPCWSTR path) {
    if (!Hit(Call::DeleteFileW)) return g_real.remove(path);
    if (Current().effect == Effect::DoneButFailed) g_real.remove(path);
    SetLastError(Current().error);
    return FALSE;
}

DWORD WINAPI StandInGetFileAttributesW(LPCWSTR path) {
    if (Hit(Call::GetFileAttributesW) || (!g_state.pending.empty() && g_state.pending == path)) {
        SetLastError(g_state.pending.empty() ? Current().error : ERROR_ACCESS_DENIED);
        return INVALID_FILE_ATTRIBUTES;
    }
    return g_real.attributes(path);
}

DWORD WINAPI StandInGetFileType(HANDLE file) {
    if (Hit(Call::GetFileType)) {
        SetLastError(Current().error);
        return FILE_TYPE_UNKNOWN;
    }
    return g_real.type(file);
}

BOOL WINAPI StandInGetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind,
                                                LPVOID info, DWORD size) {
    if (Hit(Call::GetFileInformationByHandleEx)) {
        SetLastError(Current().error);
        return FALSE;
    }
    return g_real.information(file, kind, info, size);
}

BOOL WINAPI StandInSetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER position,
                                    DWORD method) {
    if (Hit(Call::SetFilePointerEx)) {
        SetLastError(Current().error);
        return FALSE;
    }
    return g_real.seek(file, distance, position, method);
}

struct Slot {
    const char* name;
    void** real; // where the real address is kept
    void* stand_in;
    std::vector<void**> patched;
};

std::vector<Slot>& Slots() {
    static std::vector<Slot> slots = {
        {"CreateFileW",
         reinterpret_cast<void**>(&g_real.create_file),
         reinterpret_cast<void*>(&StandInCreateFileW),
         {}},
        {"ReadFile",
         reinterpret_cast<void**>(&g_real.read_file),
         reinterpret_cast<void*>(&StandInReadFile),
         {}},
        {"WriteFile",
         reinterpret_cast<void**>(&g_real.write_file),
         reinterpret_cast<void*>(&StandInWriteFile),
         {}},
        {"FlushFileBuffers",
         reinterpret_cast<void**>(&g_real.flush),
         reinterpret_cast<void*>(&StandInFlushFileBuffers),
         {}},
        {"MoveFileExW",
         reinterpret_cast<void**>(&g_real.move),
         reinterpret_cast<void*>(&StandInMoveFileExW),
         {}},
        {"DeleteFileW",
         reinterpret_cast<void**>(&g_real.remove),
         reinterpret_cast<void*>(&StandInDeleteFileW),
         {}},
        {"GetFileAttributesW",
         reinterpret_cast<void**>(&g_real.attributes),
         reinterpret_cast<void*>(&StandInGetFileAttributesW),
         {}},
        {"GetFileType",
         reinterpret_cast<void**>(&g_real.type),
         reinterpret_cast<void*>(&StandInGetFileType),
         {}},
        {"GetFileInformationByHandleEx",
         reinterpret_cast<void**>(&g_real.information),
         reinterpret_cast<void*>(&StandInGetFileInformationByHandleEx),
         {}},
        {"SetFilePointerEx",
         reinterpret_cast<void**>(&g_real.seek),
         reinterpret_cast<void*>(&StandInSetFilePointerEx),
         {}},
    };
    return slots;
}

void Write(void** slot, void* value) {
    DWORD old = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, old, &old);
}

// Every import slot of this exe for the function of that name, whichever DLL name
// it is imported under (kernel32, or an API set on newer toolchains). Found by name:
// the address the loader put there may be a forwarder's target that GetProcAddress
// on kernel32 does not give back.
std::vector<void**> SlotsNamed(const char* name) {
    std::vector<void**> found;
    auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return found;
    for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         module->Name != 0; ++module) {
        if (module->OriginalFirstThunk == 0) continue;
        const auto* names =
            reinterpret_cast<const IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
        auto** slot = reinterpret_cast<void**>(base + module->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* by_name =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<const char*>(by_name->Name), name) == 0)
                found.push_back(slot);
        }
    }
    return found;
}

} // namespace

const char* CallName(Call call) {
    return Slots()[static_cast<int>(call)].name;
}

const char* EffectName(Effect effect) {
    switch (effect) {
    case Effect::Fail:
        return "fails";
    case Effect::Short:
        return "comes back short";
    case Effect::Nothing:
        return "moves nothing";
    case Effect::Corrupt:
        return "changes a byte";
    case Effect::DoneButFailed:
        return "is done but reports failure";
    case Effect::DeletePending:
        return "meets a file still being deleted";
    }
    return "?";
}

std::string Describe(const Fault& fault) {
    std::string text = std::string(CallName(fault.call)) + " call " + std::to_string(fault.nth);
    if (fault.calls == kLasting) text += " and every later one";
    if (fault.calls > 1 && fault.calls != kLasting)
        text += " and the next " + std::to_string(fault.calls - 1);
    text += std::string(" ") + EffectName(fault.effect);
    if (fault.effect == Effect::Fail || fault.effect == Effect::DoneButFailed)
        text += " (error " + std::to_string(fault.error) + ")";
    return text;
}

KernelFaults::KernelFaults() {
    for (Slot& slot : Slots()) {
        slot.patched = SlotsNamed(slot.name);
        if (slot.patched.empty()) continue;
        *slot.real = *slot.patched.front();
        for (void** target : slot.patched)
            Write(target, slot.stand_in);
    }
}

KernelFaults::~KernelFaults() {
    disarm();
    for (Slot& slot : Slots()) {
        for (void** target : slot.patched)
            Write(target, *slot.real);
        slot.patched.clear();
    }
}

void KernelFaults::arm(std::optional<Fault> fault) {
    g_state = State{};
    g_state.fault = fault;
    g_state.armed = true;
}

void KernelFaults::disarm() {
    g_state.armed = false;
}

bool KernelFaults::has(Call call) const {
    return !Slots()[static_cast<int>(call)].patched.empty();
}

unsigned KernelFaults::count(Call call) const {
    return g_state.counts[static_cast<int>(call)];
}

bool KernelFaults::fired() const {
    return g_state.fired;
}

bool KernelFaults::spoiled_data() const {
    return g_state.spoiled_data;
}

} // namespace tervan::reliability
