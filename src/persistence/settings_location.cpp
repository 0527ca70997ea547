// Settings file location.
#include "persistence/settings_location.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <system_error>

#include "persistence/settings.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace dittix::persistence {

namespace fs = std::filesystem;

fs::path executableDirectory() {
#if defined(_WIN32)
    std::wstring buffer(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) {
        return {};
    }
    buffer.resize(n);
    return fs::path(buffer).parent_path();
#else
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path{} : exe.parent_path();
#endif
}

fs::path userConfigDirectory() {
#if defined(_WIN32)
    if (const wchar_t* appData = _wgetenv(L"APPDATA"); appData != nullptr && *appData != 0) {
        return fs::path(appData) / "dittix";
    }
    return {};
#else
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        return fs::path(xdg) / "dittix";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0) {
        return fs::path(home) / ".config" / "dittix";
    }
    return {};
#endif
}

bool isWritableDirectory(const fs::path& directory) {
    std::error_code error;
    if (directory.empty() || !fs::is_directory(directory, error)) {
        return false;
    }
    const fs::path probe =
        directory / (".dittix-write-test-" + std::to_string(std::random_device{}()));
#if defined(_WIN32)
    std::FILE* f = _wfopen(probe.c_str(), L"wbx");
#else
    std::FILE* f = std::fopen(probe.c_str(), "wbx");
#endif
    if (f == nullptr) {
        return false;
    }
    std::fclose(f);
    fs::remove(probe, error);
    return true;
}

bool isSharedProgramDirectory(const fs::path& directory) {
#if defined(_WIN32)
    (void)directory;
    return false;
#else
    std::error_code error;
    const fs::path dir = fs::weakly_canonical(directory, error).lexically_normal();
    if (error || dir.empty()) {
        return false;
    }
    for (const char* shared : {"/bin", "/sbin", "/usr/bin", "/usr/sbin", "/usr/games",
                               "/usr/local/bin", "/usr/local/sbin", "/usr/local/games"}) {
        if (dir == fs::path(shared) || dir == fs::path(shared) / "") {
            return true;
        }
    }
    return false;
#endif
}

fs::path resolveSettingsPath(const fs::path& executableDir, const fs::path& userConfigDir) {
    const fs::path beside = executableDir / kSettingsFileName;
    std::error_code error;
    const bool writableHere =
        isWritableDirectory(executableDir) && !isSharedProgramDirectory(executableDir);
    if (fs::exists(beside, error) || writableHere || userConfigDir.empty()) {
        return beside;
    }
    return userConfigDir / kSettingsFileName;
}

bool ensureParentDirectory(const fs::path& file) {
    std::error_code error;
    const fs::path parent = file.parent_path();
    if (parent.empty() || fs::is_directory(parent, error)) {
        return true;
    }
    fs::create_directories(parent, error);
    return !error;
}

}  // namespace dittix::persistence
