// Authenticode signatures through Windows' own checks (wintrust and crypt32, loaded
// at run time from the system folder: neither is a KnownDLL).
#pragma once

#include <string>

namespace tervan {

// Whether `download` carries a signature that Windows verifies (the file unchanged
// since it was signed, the signer's chain up to a root this computer trusts; nothing
// fetched from the network) and its signer has the same name (certificate subject) as
// the signer of `installed`: certificates are renewed and keys change, the name is the
// publisher. False whenever that cannot be shown, the two DLLs missing included.
bool SignedBySamePublisher(const std::wstring& installed, const std::wstring& download);

} // namespace tervan
