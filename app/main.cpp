#include "app/Driver.h"

#ifdef _WIN32
#include <windows.h>

#include "discovery/win32/Win32Walks.h"

namespace {

// The program runs elevated: every DLL loaded from here on, those that system DLLs load
// late included, comes from the system directory, never from beside the program or the
// current directory. Looked up by name, since a Windows 7 without the search-flags update
// lacks the call; there at least the current directory leaves the search.
void KeepDllSearchInTheSystemDirectory() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const FARPROC address =
        kernel != nullptr ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    const auto setDefault =
        reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(address));
    if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        SetDllDirectoryW(L"");
    }
}

}  // namespace
#else
#include "discovery/linux/LinuxWalks.h"
#endif

int main(int argc, char* argv[]) {
#ifdef _WIN32
    KeepDllSearchInTheSystemDirectory();
    return RunCfgUtil(argc, argv, discovery_win32::Walks());
#else
    return RunCfgUtil(argc, argv, discovery_linux::Walks());
#endif
}
