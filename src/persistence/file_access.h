// The settings file on the disk: a bounded read that accepts only a regular file, the final
// target of a chain of symbolic links, and the saves' temporary files left behind by a crash.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace dittix::persistence {

// Far above any real settings file; a bigger "file" is a mistake (or a device) and is not read.
inline constexpr std::uintmax_t kMaxSettingsFileBytes = 16u * 1024u * 1024u;

enum class ReadStatus { Read, Missing, NotRegular, TooLarge, Failed };

// What stands at the path when it is not a regular file.
enum class FileKind { Regular, Directory, Fifo, Device, Socket, Other };

struct FileRead {
    ReadStatus status = ReadStatus::Missing;
    std::string bytes;  // the whole file when status is Read
    FileKind kind = FileKind::Regular;
    std::error_code error;  // why, when status is Failed
};

// Reads the file at `file` (following symbolic links) when it is a regular file of at most
// `limit` bytes. Never blocks on a pipe or a device and never reads more than limit + 1 bytes.
// A path that does not exist, or a link that leads nowhere, is Missing.
FileRead readRegularFile(const std::filesystem::path& file,
                         std::uintmax_t limit = kMaxSettingsFileBytes);

// The file that a chain of symbolic links starting at `file` ends in (relative links are taken
// from the folder of the link); `file` itself when it is not a link. The end of the chain need
// not exist. Sets `error` (and returns an empty path) for a loop or a link that cannot be read.
std::filesystem::path finalLinkTarget(const std::filesystem::path& file, std::error_code& error);

// The name a save gives its temporary file beside `file`: the file's name, ".tmp-" and the
// decimal `number`.
std::filesystem::path temporaryFileFor(const std::filesystem::path& file, std::uint32_t number);

// True when `name` is a temporary file name that a save of a file named `fileName` makes.
bool isTemporaryNameOf(const std::filesystem::path& name, const std::filesystem::path& fileName);

// Removes the temporary files that saves of `settingsFile` left behind when they were killed,
// beside the file and beside the final target of its links; only regular files whose names
// follow the temporaries' pattern are touched. Returns what was removed. Call it only while no
// other program can be saving the same file.
std::vector<std::filesystem::path> removeStaleTemporaries(
    const std::filesystem::path& settingsFile);

}  // namespace dittix::persistence
