#include "platform/win32/version_info.hpp"

#include <vector>

#include <windows.h>

#include "platform/win32/system_library.hpp"

namespace tervan {

namespace {

constexpr DWORD kSmallestBlock = 6 + 2 + sizeof(VS_FIXEDFILEINFO);
constexpr DWORD kLargestBlock = 1 << 20;

// version.dll is no KnownDLL: linked in, it would be taken from the program's folder
// before wWinMain runs.
struct VersionApi {
    decltype(GetFileVersionInfoSizeW)* size = nullptr;
    decltype(GetFileVersionInfoW)* read = nullptr;
    decltype(VerQueryValueW)* query = nullptr;
};

const VersionApi& Api() {
    static const VersionApi api = [] {
        const HMODULE module = LoadSystemLibrary(L"version.dll");
        return VersionApi{
            ProcedureOf<decltype(GetFileVersionInfoSizeW)>(module, "GetFileVersionInfoSizeW"),
            ProcedureOf<decltype(GetFileVersionInfoW)>(module, "GetFileVersionInfoW"),
            ProcedureOf<decltype(VerQueryValueW)>(module, "VerQueryValueW")};
    }();
    return api;
}

} // namespace

std::optional<FixedFileVersion> QueryFileVersion(const std::wstring& path) {
    const VersionApi& api = Api();
    if (!api.size || !api.read || !api.query) return std::nullopt;
    DWORD ignored = 0;
    const DWORD size = api.size(path.c_str(), &ignored);
    // A block too small for a header, a key and the fixed information, or far larger
    // than a 16-bit block length allows (the API asks for about twice the resource), comes
    // from a damaged resource: VerQueryValueW would read past such a buffer, and Wine's
    // size arithmetic wraps for huge resource sizes.
    if (size < kSmallestBlock || size > kLargestBlock) return std::nullopt;
    // One zeroed byte more than asked for, so that a string at the very end of a
    // resource without its terminating NUL still ends inside the buffer.
    std::vector<unsigned char> block(static_cast<std::size_t>(size) + 1, 0);
    if (!api.read(path.c_str(), 0, size, block.data())) return std::nullopt;
    void* root = nullptr;
    UINT length = 0;
    if (!api.query(block.data(), L"\\", &root, &length) || root == nullptr) return std::nullopt;
    if (length < sizeof(VS_FIXEDFILEINFO)) return std::nullopt;
    // A damaged resource can make VerQueryValueW point anywhere; only trust an
    // answer that lies inside the block we own.
    const unsigned char* begin = block.data();
    const auto* found = static_cast<const unsigned char*>(root);
    if (found < begin || found > begin + size ||
        static_cast<std::size_t>(begin + size - found) < sizeof(VS_FIXEDFILEINFO))
        return std::nullopt;
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(root);
    return FixedFileVersion{info->dwFileVersionMS, info->dwFileVersionLS};
}

} // namespace tervan
