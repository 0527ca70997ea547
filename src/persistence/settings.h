// Every setting of the program, as loaded at start-up from settings.ini (section "Settings"),
// with the defaults used for a missing file, key or unreadable value.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "keying/decoder_state.h"
#include "keying/timing.h"

namespace dittix::persistence {

inline constexpr std::string_view kSettingsSection = "Settings";
inline constexpr std::string_view kSettingsFileName = "settings.ini";

// One training level: its characters, upper-cased at load (a-z only).
struct Tlivello {
    std::u16string text;
    std::int32_t length = 0;
};

inline constexpr std::int32_t kMaxLevels = 40;

struct TrainingLevels {
    std::array<Tlivello, 50> records;  // the first levelCount are filled
    std::int32_t levelCount = 0;
};

// The training window's last choices.
struct TrainingChoices {
    std::int32_t livEs = 1;    // level, 1-based
    std::int32_t velEs = 40;   // speed, characters per minute
    std::int32_t tempoEs = 1;  // duration, minutes
    std::int32_t interEs = 0;  // extra pause choice, list index
    bool mostraEs = false;     // show the characters
};

struct Settings {
    keying::SpeedSettings speeds;     // k (and dotBase), CPM, CPM palette, Lento
    keying::TimingParameters timing;  // the six tick counts, as stored
    keying::KeyingModes modes;        // Palette and memoriaPunto (paddleReverse is never stored)
    std::int32_t serialPort = 3;
    double tono = 800.0;
    std::int32_t ar = 1;
    std::int32_t fs = 0;
    std::int32_t tableFontSize = 38;  // "Size"
    bool tabellaCodiceVisibile = true;
    // Read only, like k: "Rampa" shapes the tones' edges (0: plain steps), and "Chiusura audio"
    // is how many seconds without keying close the sidetone's stream (0: it stays open).
    bool rampa = true;
    std::int32_t chiusuraAudio = 30;
    TrainingChoices training;
    TrainingLevels levels;
};

inline constexpr std::int32_t kMinTableFontSize = 25;
inline constexpr std::int32_t kMaxTableFontSize = 45;
inline constexpr std::int32_t kMaxChiusuraAudio = 3600;

// Reads the settings from the text of a settings file (already decoded to UTF-8): every key in
// its order, the clamps of k and Size at once, the level keys until the first empty one, then
// the clamps of LIV ES (against the levels offered, see course.h), VEL ES, CPM and TEMPO ES in
// that order.
Settings parseSettings(std::string_view utf8Text, char decimalSeparator);

// Why the file was not read: the defaults are used instead, and the operator is told.
enum class LoadProblemCode { NotRegularFile, TooLarge, Unreadable };

struct LoadProblem {
    LoadProblemCode code;
    std::string message;  // one Italian sentence naming the file
};

struct LoadedSettings {
    Settings settings;
    std::optional<LoadProblem> problem;  // none for a file that was read or is missing
};

// Reads the file afresh and parses it. A missing file gives the defaults without a problem;
// anything that is not a regular file of at most 16 MB that can be read gives the defaults and
// the problem. Never blocks on a pipe or a device.
LoadedSettings loadSettings(const std::filesystem::path& file, char decimalSeparator);

// The whole file as bytes; empty when it is missing, is not a regular file, is larger than
// 16 MB or cannot be read.
std::string readFileBytes(const std::filesystem::path& file);

}  // namespace dittix::persistence
