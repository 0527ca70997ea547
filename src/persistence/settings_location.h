// Where settings.ini lives: beside the executable, or in the per-user configuration folder when
// the executable's directory is not writable and holds no settings.ini (an installed program).
#pragma once

#include <filesystem>
#include <optional>

namespace dittix::persistence {

// The directory of the running executable; empty when it cannot be found.
std::filesystem::path executableDirectory();

// The per-user folder: $XDG_CONFIG_HOME/dittix, else ~/.config/dittix (%APPDATA%\dittix on
// Windows). Empty when neither variable is set.
std::filesystem::path userConfigDirectory();

// True when a file can be created in `directory` (tried, not guessed from permission bits).
bool isWritableDirectory(const std::filesystem::path& directory);

// True for the system's shared program folders (/usr/bin, /usr/local/bin, …). A program
// installed there keeps its settings per user even when run by root, who could write there.
bool isSharedProgramDirectory(const std::filesystem::path& directory);

std::filesystem::path resolveSettingsPath(const std::filesystem::path& executableDir,
                                          const std::filesystem::path& userConfigDir);

// Creates the directory that holds `file` when it is missing; false when that fails.
bool ensureParentDirectory(const std::filesystem::path& file);

}  // namespace dittix::persistence
