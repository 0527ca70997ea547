// Line-preserving settings writer and atomic file replacement.
#include "persistence/settings_writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <system_error>

#include "persistence/file_access.h"
#include "persistence/ini_text.h"
#include "persistence/operator_messages.h"
#include "persistence/text_encoding.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dittix::persistence {

namespace {

// The C library's last error; a failure that set none counts as an input/output error.
std::error_code lastError() {
    return {errno != 0 ? errno : EIO, std::generic_category()};
}

std::string flagText(bool on) {
    return on ? "1" : "0";
}

std::string_view lineEnding(std::string_view text) {
    const auto newline = text.find_first_of("\r\n");
    if (newline != std::string_view::npos) {
        if (text.compare(newline, 2, "\r\n") == 0) {
            return "\r\n";
        }
        return text[newline] == '\r' ? "\r" : "\n";
    }
#if defined(_WIN32)
    return "\r\n";
#else
    return "\n";
#endif
}

}  // namespace

std::vector<SettingEntry> setupSaveEntries(std::int32_t serialPort,
                                           const keying::TimingParameters& timing, bool paddleMode,
                                           const keying::SpeedSettings& speeds, bool memoriaPunto) {
    return {{"Serial Port", std::to_string(serialPort)},
            {"Dot time", std::to_string(timing.dotTime)},
            {"Dot time P", std::to_string(timing.dotTimeP)},
            {"Decode time", std::to_string(timing.decodeTime)},
            {"Blank time", std::to_string(timing.blankTime)},
            {"Decode time P", std::to_string(timing.decodeTimeP)},
            {"Blank time P", std::to_string(timing.blankTimeP)},
            {"Palette", flagText(paddleMode)},
            {"Lento", flagText(speeds.lento)},
            {"CPM", std::to_string(speeds.cpm)},
            {"CPM palette", std::to_string(speeds.cpmPalette)},
            {"memoriaPunto", flagText(memoriaPunto)}};
}

std::vector<SettingEntry> trainingSaveEntries(const TrainingChoices& choices) {
    return {{"LIV ES", std::to_string(choices.livEs)},
            {"VEL ES", std::to_string(choices.velEs)},
            {"TEMPO ES", std::to_string(choices.tempoEs)},
            {"INTER ES", std::to_string(choices.interEs)},
            {"MOSTRA ES", flagText(choices.mostraEs)}};
}

std::vector<SettingEntry> mainWindowSaveEntries(std::int32_t tableFontSize, bool paddleMode,
                                                double tono) {
    // A frequency from a hand-edited file can be anything; keep the truncation defined.
    double truncated = std::isnan(tono) ? 0.0 : std::trunc(tono);
    truncated = std::clamp(truncated, double{std::numeric_limits<std::int32_t>::min()},
                           double{std::numeric_limits<std::int32_t>::max()});
    return {{"Size", std::to_string(tableFontSize)},
            {"Palette", flagText(paddleMode)},
            {"Tono", std::to_string(static_cast<std::int32_t>(truncated))}};
}

std::string applyEntries(std::string_view text, std::span<const SettingEntry> entries) {
    const std::vector<IniLine> lines = splitIniLines(text);
    const std::string_view newline = lineEnding(text);

    // Which entry each line holds, and the line after which the missing keys go: the last key
    // (or the header) of the last Settings section.
    std::vector<std::optional<std::size_t>> holds(lines.size());
    std::vector<bool> present(entries.size(), false);
    std::optional<std::size_t> insertAfter;
    bool inSettings = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ParsedIniLine parsed = parseIniLine(text.substr(lines[i].begin, lines[i].content));
        if (parsed.kind == IniLineKind::Section) {
            inSettings = equalsIgnoringAsciiCase(parsed.name, kSettingsSection);
            if (inSettings) {
                insertAfter = i;
            }
        } else if (parsed.kind == IniLineKind::BrokenSection) {
            inSettings = false;
        } else if (parsed.kind == IniLineKind::Key && inSettings) {
            insertAfter = i;
            for (std::size_t e = 0; e < entries.size(); ++e) {
                if (equalsIgnoringAsciiCase(parsed.name, entries[e].key)) {
                    holds[i] = e;
                    present[e] = true;
                }
            }
        }
    }

    std::string missing;
    for (std::size_t e = 0; e < entries.size(); ++e) {
        if (!present[e]) {
            missing.append(entries[e].key).append("=").append(entries[e].value).append(newline);
        }
    }

    std::string out;
    out.reserve(text.size() + missing.size() + 32);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const IniLine& line = lines[i];
        std::string_view ending =
            text.substr(line.begin + line.content, line.end - line.begin - line.content);
        if (holds[i]) {
            const SettingEntry& entry = entries[*holds[i]];
            out.append(entry.key).append("=").append(entry.value);
        } else {
            out.append(text.substr(line.begin, line.content));
        }
        if (insertAfter == i && !missing.empty()) {
            // A last line without a line ending gets one before the added keys, and the last
            // added key then goes without one, as the file did.
            std::string_view added = missing;
            if (ending.empty()) {
                added.remove_suffix(newline.size());
                ending = newline;
            }
            out.append(ending).append(added);
            continue;
        }
        out.append(ending);
    }
    if (!insertAfter) {
        if (!out.empty() && out.back() != '\n' && out.back() != '\r') {
            out.append(newline);
        }
        out.append("[").append(kSettingsSection).append("]").append(newline).append(missing);
    }
    return out;
}

std::optional<SaveError> writeFileAtomically(const std::filesystem::path& file,
                                             std::string_view bytes,
                                             const BeforeReplaceHook& beforeReplace) {
    namespace fs = std::filesystem;
    const auto failure = [&file](SaveErrorCode code, std::error_code cause) {
        return SaveError{code, saveFailureSentence(file, systemReason(cause)), cause};
    };
    std::random_device entropy;
    fs::path temporary;
    std::FILE* out = nullptr;
    // A name already taken (a leftover of a killed save) only means another number is drawn.
    for (int attempt = 0; attempt < 8 && out == nullptr; ++attempt) {
        temporary = temporaryFileFor(file, entropy());
        errno = 0;
#if defined(_WIN32)
        out = _wfopen(temporary.c_str(), L"wbx");
#else
        out = std::fopen(temporary.c_str(), "wbxe");
#endif
        if (out == nullptr && errno != EEXIST) {
            break;
        }
    }
    if (out == nullptr) {
        return failure(SaveErrorCode::CannotCreateTemporary, lastError());
    }
#if !defined(_WIN32)
    // The new file takes the old one's permissions (a private file stays private).
    struct stat old {};
    if (::stat(file.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        (void)::fchmod(fileno(out), old.st_mode & 07777);
    }
#endif
    // Every step runs, so that the file is closed; the first failure is the one reported.
    std::error_code cause;
    const auto step = [&cause](const auto& call) {
        errno = 0;
        if (!call() && !cause) {
            cause = lastError();
        }
    };
    step([&] { return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size(); });
    step([&] { return std::fflush(out) == 0; });
#if defined(_WIN32)
    step([&] { return _commit(_fileno(out)) == 0; });
#else
    step([&] { return ::fsync(fileno(out)) == 0; });
#endif
    step([&] { return std::fclose(out) == 0; });

    std::error_code ignored;
    if (cause) {
        fs::remove(temporary, ignored);
        return failure(SaveErrorCode::CannotWrite, cause);
    }
    if (beforeReplace && !beforeReplace()) {
        fs::remove(temporary, ignored);
        return SaveError{SaveErrorCode::Interrupted,
                         saveFailureSentence(file, "il salvataggio è stato interrotto"),
                         std::make_error_code(std::errc::operation_canceled)};
    }
    fs::rename(temporary, file, cause);
    if (cause) {
        fs::remove(temporary, ignored);
        return failure(SaveErrorCode::CannotReplace, cause);
    }
    return std::nullopt;
}

std::optional<SaveError> saveEntries(const std::filesystem::path& file,
                                     std::span<const SettingEntry> entries,
                                     const BeforeReplaceHook& beforeReplace) {
    namespace fs = std::filesystem;
    std::error_code error;
    // The per-user folder does not exist before the first save.
    const fs::path folder = file.parent_path();
    if (!folder.empty() && !fs::is_directory(folder, error)) {
        error.clear();
        fs::create_directories(folder, error);
        if (error) {
            const std::string reason =
                error == std::errc::file_exists || error == std::errc::not_a_directory
                    ? "al posto della cartella " + displayPath(folder) + " c'è un file"
                    : "la cartella " + displayPath(folder) + " non si può creare (" +
                          systemReason(error) + ")";
            return SaveError{SaveErrorCode::CannotCreateFolder, saveFailureSentence(file, reason),
                             error};
        }
    }
    // Through the links to the file they lead to, so that the links stay links.
    const fs::path target = finalLinkTarget(file, error);
    if (error) {
        return SaveError{SaveErrorCode::CannotFollowLink,
                         saveFailureSentence(file, systemReason(error)), error};
    }
    const FileRead current = readRegularFile(target);
    if (current.status != ReadStatus::Read && current.status != ReadStatus::Missing) {
        // Whatever stands there holds the operator's content, or is no file at all: replacing it
        // by a file with only these keys would lose it.
        return SaveError{SaveErrorCode::CannotReadCurrent,
                         saveFailureSentence(target, unreplaceableReason(current)), current.error};
    }
    const DecodedText decoded = decodeFileBytes(current.bytes);
    const std::string text = applyEntries(decoded.utf8, entries);
    return writeFileAtomically(
        target, encodeFileText(text, decoded.encoding, decoded.byteOrderMark), beforeReplace);
}

}  // namespace dittix::persistence
