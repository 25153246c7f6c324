#include "tests/reliability/big_file.hpp"

#include <cstring>
#include <vector>

#include <windows.h>

namespace tervan::reliability {

namespace {

constexpr std::size_t kChunk = 1 << 20;

std::uint64_t SplitMix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

bool ReadFully(HANDLE file, char* buffer, DWORD size, DWORD& got) {
    got = 0;
    while (got < size) {
        DWORD now = 0;
        if (!ReadFile(file, buffer + got, size - got, &now, nullptr)) return false;
        if (now == 0) break;
        got += now;
    }
    return true;
}

} // namespace

void FillPattern(const PatternFile& file, std::uint64_t offset, char* out, std::size_t count) {
    const std::uint64_t base = file.seed * 0xD1B54A32D192ED03ull;
    std::uint64_t word = offset / 8;
    for (std::size_t done = 0; done < count; done += 8, ++word) {
        const std::uint64_t value = SplitMix(base + word);
        std::memcpy(out + done, &value, count - done < 8 ? count - done : 8);
    }
}

bool WritePattern(const std::wstring& path, const PatternFile& file) {
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    std::vector<char> buffer(kChunk);
    bool ok = true;
    for (std::uint64_t offset = 0; ok && offset < file.size; offset += kChunk) {
        const auto count =
            static_cast<DWORD>(file.size - offset < kChunk ? file.size - offset : kChunk);
        FillPattern(file, offset, buffer.data(), count);
        DWORD written = 0;
        ok = WriteFile(handle, buffer.data(), count, &written, nullptr) && written == count;
    }
    CloseHandle(handle);
    return ok;
}

Comparison Compare(const std::wstring& path, const PatternFile& first, const PatternFile& second) {
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {Holds::Nothing, 0};
    LARGE_INTEGER size{};
    GetFileSizeEx(handle, &size);
    const auto length = static_cast<std::uint64_t>(size.QuadPart);
    bool may_be_first = length == first.size, may_be_second = length == second.size;
    std::vector<char> actual(kChunk), expected(kChunk);
    for (std::uint64_t offset = 0; (may_be_first || may_be_second) && offset < length;
         offset += kChunk) {
        DWORD got = 0;
        const auto wanted = static_cast<DWORD>(length - offset < kChunk ? length - offset : kChunk);
        if (!ReadFully(handle, actual.data(), wanted, got) || got != wanted) {
            may_be_first = may_be_second = false;
            break;
        }
        for (auto [candidate, possible] :
             {std::pair{&first, &may_be_first}, std::pair{&second, &may_be_second}}) {
            if (!*possible) continue;
            FillPattern(*candidate, offset, expected.data(), got);
            *possible = std::memcmp(actual.data(), expected.data(), got) == 0;
        }
    }
    CloseHandle(handle);
    if (may_be_first) return {Holds::First, length};
    if (may_be_second) return {Holds::Second, length};
    return {Holds::Neither, length};
}

} // namespace tervan::reliability
