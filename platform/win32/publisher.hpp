// Authenticode signatures through Windows' own checks (wintrust and crypt32, loaded
// at run time from the system folder: neither is a KnownDLL).
#pragma once

#include <string>

#include "engine/file_system.hpp"

namespace tervan {

// For a signed `installed`: Passed when `download` carries a signature that Windows
// verifies (the file unchanged since it was signed, the signer's chain up to a root
// this computer trusts; nothing fetched from the network) by the same publisher.
// The publisher is the organisation (O) and common name (CN) of the signer
// certificate's subject, as text: certificates are renewed, keys and issuing
// authorities change, other attributes come and go (an EV certificate's serial
// number) and a name may be encoded in another string type, but the name stays.
// Unreadable when the installed file's signer cannot be read; Refused whenever
// anything else cannot be shown, the two DLLs missing included.
PublisherCheck CheckPublisher(const std::wstring& installed, const std::wstring& download);

} // namespace tervan
