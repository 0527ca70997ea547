// Loading the settings file.
#include "persistence/settings.h"

#include <algorithm>
#include <optional>

#include "persistence/course.h"
#include "persistence/file_access.h"
#include "persistence/ini_text.h"
#include "persistence/operator_messages.h"
#include "persistence/text_encoding.h"
#include "persistence/value_parsing.h"

namespace dittix::persistence {

namespace {

class Reader {
  public:
    Reader(std::string_view utf8Text, char decimalSeparator)
        : m_section(utf8Text, kSettingsSection), m_separator(decimalSeparator) {}

    std::string_view text(std::string_view key) const { return m_section.find(key).value_or(""); }

    std::int32_t integer(std::string_view key, std::int32_t fallback) const {
        return parseInteger(text(key)).value_or(fallback);
    }

    bool flag(std::string_view key, bool fallback) const {
        const std::optional<std::int32_t> value = parseInteger(text(key));
        return value ? *value > 0 : fallback;
    }

    double floating(std::string_view key, double fallback) const {
        return parseFloat(text(key), m_separator).value_or(fallback);
    }

  private:
    IniSection m_section;
    char m_separator;
};

void loadLevels(const Reader& reader, TrainingLevels& levels) {
    levels = TrainingLevels{};
    for (std::int32_t n = 1; n <= kMaxLevels; ++n) {
        const std::string_view value = reader.text("livello" + std::to_string(n));
        if (value.empty()) {
            break;
        }
        Tlivello& level = levels.records[static_cast<std::size_t>(n - 1)];
        level.text = upperCaseAsciiLetters(utf8ToUtf16(value));
        level.length = static_cast<std::int32_t>(level.text.size());
        levels.levelCount = n;
    }
}

}  // namespace

Settings parseSettings(std::string_view utf8Text, char decimalSeparator) {
    const Reader in(utf8Text, decimalSeparator);
    Settings s;

    s.speeds.speedFactor = keying::limitSpeedFactor(in.floating("k", 0.66));
    keying::computeDotBase(s.speeds);
    s.serialPort = in.integer("Serial Port", 3);
    s.modes.paddleMode = in.flag("Palette", false);
    s.speeds.lento = in.flag("Lento", false);
    s.speeds.cpm = in.integer("CPM", 40);
    s.speeds.cpmPalette = in.integer("CPM palette", 40);
    s.tono = in.floating("Tono", 800.0);
    s.timing.dotTime = in.integer("Dot time", 10);
    s.timing.decodeTime = in.integer("Decode time", 15);
    s.timing.blankTime = in.integer("Blank time", 40);
    s.timing.dotTimeP = in.integer("Dot time P", 10);
    s.timing.decodeTimeP = in.integer("Decode time P", 15);
    s.timing.blankTimeP = in.integer("Blank time P", 40);
    s.ar = in.integer("AR", 1);
    s.fs = in.integer("FS", 0);
    s.tableFontSize = std::clamp(in.integer("Size", 38), kMinTableFontSize, kMaxTableFontSize);
    loadLevels(in, s.levels);
    s.training.livEs = in.integer("LIV ES", 1);
    s.training.velEs = in.integer("VEL ES", 40);
    s.training.tempoEs = in.integer("TEMPO ES", 1);
    s.training.interEs = in.integer("INTER ES", 0);
    s.training.mostraEs = in.flag("MOSTRA ES", false);
    s.modes.memoriaPunto = in.flag("memoriaPunto", true);
    s.tabellaCodiceVisibile = in.flag("Tabella Codice Visibile", true);
    s.rampa = in.flag("Rampa", true);
    s.chiusuraAudio = std::clamp(in.integer("Chiusura audio", 30), 0, kMaxChiusuraAudio);

    // LIV ES: first the lower bound, then the number of levels offered: the file's own, or the
    // built-in course's forty when the file has none, so that the course level is remembered.
    s.training.livEs = std::max(s.training.livEs, 1);
    s.training.livEs = std::min(s.training.livEs, levelsToOffer(s.levels).levelCount);
    s.training.velEs = std::clamp(s.training.velEs, 30, 150);
    s.speeds.cpm = std::clamp(s.speeds.cpm, 30, 150);
    s.training.tempoEs = std::clamp(s.training.tempoEs, 1, 5);
    return s;
}

std::string readFileBytes(const std::filesystem::path& file) {
    FileRead read = readRegularFile(file);
    return read.status == ReadStatus::Read ? std::move(read.bytes) : std::string();
}

LoadedSettings loadSettings(const std::filesystem::path& file, char decimalSeparator) {
    const FileRead read = readRegularFile(file);
    LoadedSettings loaded;
    loaded.settings = parseSettings(decodeFileBytes(read.bytes).utf8, decimalSeparator);
    switch (read.status) {
        case ReadStatus::Read:
        case ReadStatus::Missing:
            break;
        case ReadStatus::NotRegular:
            loaded.problem =
                LoadProblem{LoadProblemCode::NotRegularFile, loadProblemSentence(file, read)};
            break;
        case ReadStatus::TooLarge:
            loaded.problem =
                LoadProblem{LoadProblemCode::TooLarge, loadProblemSentence(file, read)};
            break;
        case ReadStatus::Failed:
            loaded.problem =
                LoadProblem{LoadProblemCode::Unreadable, loadProblemSentence(file, read)};
            break;
    }
    return loaded;
}

}  // namespace dittix::persistence
