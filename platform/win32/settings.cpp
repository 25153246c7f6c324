#include "platform/win32/settings.hpp"

#include <vector>

#include <windows.h>

#include "platform/win32/text.hpp"

namespace tervan {

namespace {

bool IsText(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

// RegQueryValueExW hands back the stored bytes as they are, NUL or not, so the
// text ends where the data says, never past it.
std::wstring QueryText(HKEY key, const std::wstring& name) {
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
    // The value may grow between the size query and the read; a few rounds settle it.
    for (int round = 0; round < 8 && status == ERROR_SUCCESS && IsText(type); ++round) {
        // Rounded up to whole characters, plus one that stays NUL.
        std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
        DWORD got = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
        status = RegQueryValueExW(key, name.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(buffer.data()), &got);
        if (status == ERROR_MORE_DATA) {
            size = got;
            status = ERROR_SUCCESS;
            continue;
        }
        if (status != ERROR_SUCCESS || !IsText(type)) return {};
        // An odd byte count leaves half a character at the end: dropped.
        const std::size_t units = got / sizeof(wchar_t);
        std::size_t length = 0;
        while (length < units && buffer[length] != L'\0')
            ++length;
        return std::wstring(buffer.data(), length);
    }
    return {};
}

} // namespace

std::string ReadProgramSetting(const std::string& app, const std::string& section,
                               const std::string& key) {
    const std::wstring path =
        L"Software\\VB and VBA Program Settings\\" + Widen(app) + L"\\" + Widen(section);
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &handle) !=
        ERROR_SUCCESS)
        return {};
    const std::wstring text = QueryText(handle, Widen(key));
    RegCloseKey(handle);
    return Narrow(text);
}

} // namespace tervan
