// Writing keys back into settings.ini. Each save reads the file afresh, changes only its own
// keys and writes the file back through a temporary file, so every other line stays as it was
// and a failed write leaves the old file intact. A settings file that is a symbolic link is
// written through the link: the file it leads to is replaced, and the link stays.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "persistence/settings.h"

namespace dittix::persistence {

struct SettingEntry {
    std::string_view key;  // spelled exactly as the program writes it
    std::string value;

    friend bool operator==(const SettingEntry&, const SettingEntry&) = default;
};

enum class SaveErrorCode {
    CannotCreateFolder,  // the settings file's folder is missing and cannot be made
    CannotFollowLink,    // the file is a link that loops or cannot be read
    CannotReadCurrent,   // what stands at the path could not be read, so it is kept
    CannotCreateTemporary,
    CannotWrite,
    CannotReplace,
    Interrupted
};

struct SaveError {
    SaveErrorCode code;
    std::string message;  // one Italian sentence naming the file and the reason
    std::error_code cause;
};

// Told why a save failed.
using SaveFailed = std::function<void(const SaveError&)>;

// How a window saves its keys: the save may be made later, but after every save asked for before
// it; when it fails, `failed` (if any) is called on the thread that asked.
using SaveSettings = std::function<void(std::span<const SettingEntry> entries, SaveFailed failed)>;

// The setup window's keys, in the order it writes them.
std::vector<SettingEntry> setupSaveEntries(std::int32_t serialPort,
                                           const keying::TimingParameters& timing, bool paddleMode,
                                           const keying::SpeedSettings& speeds, bool memoriaPunto);

// The training window's keys, in the order it writes them.
std::vector<SettingEntry> trainingSaveEntries(const TrainingChoices& choices);

// The main window's keys: Size, Palette, and Tono as the frequency truncated toward zero.
std::vector<SettingEntry> mainWindowSaveEntries(std::int32_t tableFontSize, bool paddleMode,
                                                double tono);

// Sets each key of the section "Settings" to its value in the file's text: every line that holds
// the key (in any letter case, in any "Settings" section) is rewritten as "Key=value"; a key that
// no line holds is added after the last key of the last "Settings" section, in the order given;
// a file without that section gets one at its end. Everything else is kept byte for byte.
std::string applyEntries(std::string_view text, std::span<const SettingEntry> entries);

// Called after the temporary file is complete and before it replaces the old one; returning
// false abandons the write (used to test an interrupted save).
using BeforeReplaceHook = std::function<bool()>;

// Writes `bytes` to a temporary file beside `file` (see temporaryFileFor), flushes it to the
// disk and renames it over `file`, which keeps its permissions. On any failure the temporary
// file is removed and `file` is left as it was.
std::optional<SaveError> writeFileAtomically(const std::filesystem::path& file,
                                             std::string_view bytes,
                                             const BeforeReplaceHook& beforeReplace = {});

// Makes the file's folder when it is missing, follows the file's links to the file they lead
// to, reads that afresh, applies the entries keeping the file's encoding, and writes it back.
// A missing file is created; a file that cannot be read (not a regular file, larger than
// 16 MB, unreadable) is never replaced, and the save fails.
std::optional<SaveError> saveEntries(const std::filesystem::path& file,
                                     std::span<const SettingEntry> entries,
                                     const BeforeReplaceHook& beforeReplace = {});

}  // namespace dittix::persistence
