// Writing keys back into settings.ini. Each save reads the file afresh, changes only its own
// keys and writes the file back through a temporary file, so every other line stays as it was
// and a failed write leaves the old file intact.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "persistence/settings.h"

namespace dittix::persistence {

struct SettingEntry {
    std::string_view key;  // spelled exactly as the program writes it
    std::string value;

    friend bool operator==(const SettingEntry&, const SettingEntry&) = default;
};

enum class SaveErrorCode { CannotCreateTemporary, CannotWrite, CannotReplace, Interrupted };

struct SaveError {
    SaveErrorCode code;
    std::string message;
};

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

// Writes `bytes` to a temporary file beside `file`, flushes it to the disk and renames it over
// `file`. On any failure the temporary file is removed and `file` is left as it was.
std::optional<SaveError> writeFileAtomically(const std::filesystem::path& file,
                                             std::string_view bytes,
                                             const BeforeReplaceHook& beforeReplace = {});

// Reads the file afresh, applies the entries keeping the file's encoding, and writes it back.
std::optional<SaveError> saveEntries(const std::filesystem::path& file,
                                     std::span<const SettingEntry> entries,
                                     const BeforeReplaceHook& beforeReplace = {});

}  // namespace dittix::persistence
