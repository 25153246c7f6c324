// A stand-in for Tervan58 in the demo sandbox: it only says which version it is,
// so that after an update the user can start it and see the new version.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    MessageBoxW(nullptr, L"TERVAN58 (ﾃﾞﾓ) Ver." DEMO_VERSION_TEXT, L"TERVAN58", MB_OK);
    return 0;
}
