// The sentences that tell the operator, in Italian, why the settings file could not be read or
// saved. Each names the file and gives the reason in the operator's words.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include "persistence/file_access.h"

namespace dittix::persistence {

// The path as the operator reads it (UTF-8).
std::string displayPath(const std::filesystem::path& file);

// Why a system call failed, e.g. "il disco è pieno"; the system's own wording only for the
// causes that have no sentence of their own.
std::string systemReason(std::error_code error);

// Why a read of the file gave nothing, e.g. "è una cartella e non un file"; empty for a file
// that was read or is missing.
std::string readProblemReason(const FileRead& read);

// Why a save does not replace what stands at the path, which it could not read: the operator's
// content would be lost (e.g. "il file attuale è più grande di 16 MB e resta com'è").
std::string unreplaceableReason(const FileRead& read);

// "Il file delle impostazioni … <reason>: Dittix parte con le impostazioni predefinite."
std::string loadProblemSentence(const std::filesystem::path& file, const FileRead& read);

// "Impossibile salvare le impostazioni in …: <reason>."
std::string saveFailureSentence(const std::filesystem::path& file, const std::string& reason);

}  // namespace dittix::persistence
