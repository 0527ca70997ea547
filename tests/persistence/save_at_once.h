// Window tests' settings saves: made at once on the thread that asks, so that the file can be
// read as soon as a window has closed.
#pragma once

#include <filesystem>
#include <span>
#include <utility>

#include "persistence/settings_writer.h"

namespace dittix::persistence::test {

inline SaveSettings saveAtOnce(std::filesystem::path file) {
    return [file = std::move(file)](std::span<const SettingEntry> entries, SaveFailed failed) {
        if (const auto error = saveEntries(file, entries); error && failed) {
            failed(*error);
        }
    };
}

}  // namespace dittix::persistence::test
