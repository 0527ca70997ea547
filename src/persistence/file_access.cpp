// Bounded reading of the settings file, link targets and stale temporary files.
#include "persistence/file_access.h"

#include <algorithm>
#include <cerrno>

#if defined(_WIN32)
#include <fstream>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dittix::persistence {

namespace fs = std::filesystem;

namespace {

constexpr int kMaxLinkHops = 40;
constexpr std::size_t kMaxTemporaryDigits = 20;

#if !defined(_WIN32)

std::error_code lastSystemError() {
    return {errno, std::generic_category()};
}

FileKind kindOf(mode_t mode) {
    if (S_ISREG(mode)) {
        return FileKind::Regular;
    }
    if (S_ISDIR(mode)) {
        return FileKind::Directory;
    }
    if (S_ISFIFO(mode)) {
        return FileKind::Fifo;
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return FileKind::Device;
    }
    if (S_ISSOCK(mode)) {
        return FileKind::Socket;
    }
    return FileKind::Other;
}

FileRead failed(std::error_code error) {
    FileRead result;
    result.status =
        error == std::errc::no_such_file_or_directory ? ReadStatus::Missing : ReadStatus::Failed;
    result.error = error;
    return result;
}

FileRead notRegular(FileKind kind) {
    FileRead result;
    result.status = ReadStatus::NotRegular;
    result.kind = kind;
    return result;
}

class Descriptor {
  public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

  private:
    int m_fd;
};

#endif

}  // namespace

FileRead readRegularFile(const fs::path& file, std::uintmax_t limit) {
#if defined(_WIN32)
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (status.type() == fs::file_type::not_found) {
        return {};
    }
    FileRead result;
    if (error) {
        result.status = ReadStatus::Failed;
        result.error = error;
        return result;
    }
    if (!fs::is_regular_file(status)) {
        result.status = ReadStatus::NotRegular;
        result.kind = fs::is_directory(status) ? FileKind::Directory
                      : fs::is_fifo(status)    ? FileKind::Fifo
                      : fs::is_character_file(status) || fs::is_block_file(status)
                          ? FileKind::Device
                          : FileKind::Other;
        return result;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        result.status = ReadStatus::Failed;
        result.error = std::make_error_code(std::errc::permission_denied);
        return result;
    }
    // At most limit + 1 bytes: one more than allowed tells a file that is too large.
    char chunk[65536];
    while (in && result.bytes.size() <= limit) {
        const std::uintmax_t room = limit + 1 - result.bytes.size();
        in.read(chunk, static_cast<std::streamsize>(std::min<std::uintmax_t>(sizeof chunk, room)));
        result.bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        result.status = ReadStatus::Failed;
        result.error = std::make_error_code(std::errc::io_error);
        result.bytes.clear();
    } else if (result.bytes.size() > limit) {
        result.status = ReadStatus::TooLarge;
        result.bytes.clear();
    } else {
        result.status = ReadStatus::Read;
    }
    return result;
#else
    // A look first, so that a device or a pipe is never opened at all; the check that counts is
    // made on the opened descriptor, since the path may be replaced in between. O_NONBLOCK keeps
    // the opening of a pipe without a writer (or of a device) from waiting.
    struct stat before {};
    if (::stat(file.c_str(), &before) != 0) {
        return failed(lastSystemError());
    }
    if (!S_ISREG(before.st_mode)) {
        return notRegular(kindOf(before.st_mode));
    }
    const Descriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        return failed(lastSystemError());
    }
    struct stat opened {};
    if (::fstat(fd.get(), &opened) != 0) {
        return failed(lastSystemError());
    }
    if (!S_ISREG(opened.st_mode)) {
        return notRegular(kindOf(opened.st_mode));
    }
    FileRead result;
    if (opened.st_size < 0 || static_cast<std::uintmax_t>(opened.st_size) > limit) {
        result.status = ReadStatus::TooLarge;
        return result;
    }
    // At most limit + 1 bytes: one more than allowed tells a file that grew meanwhile.
    const std::size_t most = static_cast<std::size_t>(limit) + 1;
    result.bytes.resize(std::min(most, static_cast<std::size_t>(opened.st_size) + 1));
    std::size_t got = 0;
    for (;;) {
        if (got == result.bytes.size()) {
            if (got == most) {
                break;
            }
            result.bytes.resize(std::min(most, got + std::max<std::size_t>(got, 4096)));
        }
        const ssize_t n = ::read(fd.get(), result.bytes.data() + got, result.bytes.size() - got);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failed(lastSystemError());
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    if (got > limit) {
        result.status = ReadStatus::TooLarge;
        result.bytes.clear();
        return result;
    }
    result.bytes.resize(got);
    result.status = ReadStatus::Read;
    return result;
#endif
}

fs::path finalLinkTarget(const fs::path& file, std::error_code& error) {
    error.clear();
    fs::path current = file;
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        const fs::file_status status = fs::symlink_status(current, error);
        if (error) {
            if (error == std::errc::no_such_file_or_directory) {
                error.clear();
                return current;
            }
            return {};
        }
        if (!fs::is_symlink(status)) {
            return current;
        }
        const fs::path next = fs::read_symlink(current, error);
        if (error) {
            return {};
        }
        // Not normalised: "folder/../x" must go through the system, which follows a linked
        // folder before it takes "..".
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    return {};
}

fs::path temporaryFileFor(const fs::path& file, std::uint32_t number) {
    fs::path temporary = file;
    temporary += ".tmp-" + std::to_string(number);
    return temporary;
}

bool isTemporaryNameOf(const fs::path& name, const fs::path& fileName) {
    using String = fs::path::string_type;
    const String& candidate = name.native();
    String prefix = fileName.native();
    prefix += fs::path(".tmp-").native();
    if (fileName.empty() || candidate.size() <= prefix.size() ||
        candidate.size() > prefix.size() + kMaxTemporaryDigits ||
        candidate.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    return std::all_of(candidate.begin() + static_cast<std::ptrdiff_t>(prefix.size()),
                       candidate.end(), [](auto c) { return c >= '0' && c <= '9'; });
}

std::vector<fs::path> removeStaleTemporaries(const fs::path& settingsFile) {
    std::vector<fs::path> removed;
    const auto sweep = [&removed](const fs::path& file) {
        const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
        const fs::path name = file.filename();
        std::error_code error;
        std::vector<fs::path> stale;
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            const fs::path& candidate = it->path();
            // A link or a folder with such a name was not made by a save: left alone.
            if (isTemporaryNameOf(candidate.filename(), name) &&
                fs::is_regular_file(fs::symlink_status(candidate, error)) && !error) {
                stale.push_back(candidate);
            }
            error.clear();
        }
        for (const fs::path& path : stale) {
            if (fs::remove(path, error) && !error) {
                removed.push_back(path);
            }
        }
    };
    sweep(settingsFile);
    std::error_code error;
    const fs::path target = finalLinkTarget(settingsFile, error);
    if (!error && !target.empty() && target != settingsFile) {
        sweep(target);
    }
    return removed;
}

}  // namespace dittix::persistence
