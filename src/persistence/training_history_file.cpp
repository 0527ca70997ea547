// The training history file on the disk: the append that never damages earlier rows, and the
// reading in pieces.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "persistence/history_parser.h"
#include "persistence/settings_location.h"
#include "persistence/training_history.h"

#if defined(_WIN32)
#include <io.h>
#include <cstdio>
#include <fstream>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dittix::persistence {

namespace {

// --- Errors ----------------------------------------------------------------------------------

enum class Operation { Append, Read };

std::string pathText(const std::filesystem::path& file) {
    const std::u8string utf8 = file.u8string();
    return std::string(utf8.begin(), utf8.end());
}

std::string reasonFor(HistoryErrorCode code, Operation operation, bool folder) {
    switch (code) {
        case HistoryErrorCode::NotRegularFile:
            return folder ? "è una cartella, non un file" : "non è un file normale";
        case HistoryErrorCode::FolderMissing:
            return "la cartella non esiste e non si può creare";
        case HistoryErrorCode::PermissionDenied:
            return "permesso negato";
        case HistoryErrorCode::ReadOnly:
            return "il disco è in sola lettura";
        case HistoryErrorCode::DiskFull:
            return "il disco è pieno";
        case HistoryErrorCode::QuotaExceeded:
            return "lo spazio su disco concesso all'utente è esaurito";
        case HistoryErrorCode::FileTooLarge:
            return operation == Operation::Append
                       ? "il file ha raggiunto la dimensione massima consentita"
                       : "il file è troppo grande per essere letto";
        case HistoryErrorCode::Busy:
            return "un altro programma lo tiene bloccato";
        case HistoryErrorCode::InvalidRow:
            return "i conteggi dell'esercizio non corrispondono ai suoi testi";
        case HistoryErrorCode::Io:
            break;
    }
    return operation == Operation::Append ? "errore di scrittura sul disco"
                                          : "errore di lettura dal disco";
}

HistoryError makeError(HistoryErrorCode code, int systemError, const std::filesystem::path& file,
                       Operation operation, bool folder = false) {
    const std::string lead = operation == Operation::Append
                                 ? "Impossibile salvare l'esercizio nello storico "
                                 : "Impossibile leggere lo storico ";
    return {code, systemError,
            lead + pathText(file) + ": " + reasonFor(code, operation, folder) + "."};
}

HistoryErrorCode codeForErrno(int error) {
    switch (error) {
        case ENOSPC:
            return HistoryErrorCode::DiskFull;
#if defined(EDQUOT)
        case EDQUOT:
            return HistoryErrorCode::QuotaExceeded;
#endif
        case EFBIG:
            return HistoryErrorCode::FileTooLarge;
        case EROFS:
            return HistoryErrorCode::ReadOnly;
        case EACCES:
        case EPERM:
            return HistoryErrorCode::PermissionDenied;
        case EISDIR:
        case ENXIO:
        case ENODEV:
            return HistoryErrorCode::NotRegularFile;
        case ENOENT:
        case ENOTDIR:
            return HistoryErrorCode::FolderMissing;
        default:
            return HistoryErrorCode::Io;
    }
}

HistoryError errnoError(int error, const std::filesystem::path& file, Operation operation) {
    return makeError(codeForErrno(error), error, file, operation, error == EISDIR);
}

// Reads up to `size` bytes through `readSome(buffer, count)` (the bytes read, 0 at the end,
// negative on an error with errno set) in pieces of `pieceBytes` or more, parsing each as it
// comes: only one piece and the row that runs across its end are held at a time.
template <class ReadSome>
bool parseInPieces(ReadSome&& readSome, std::uintmax_t size, std::size_t pieceBytes,
                   const HistoryPieceHook& afterPiece, ParsedHistory& parsed, int& error) {
    HistoryParser parser;
    std::vector<char> buffer(std::max<std::size_t>(pieceBytes, 4));
    std::size_t filled = 0;
    std::uintmax_t remaining = size;
    bool atEnd = false;
    bool first = true;
    for (;;) {
        while (!atEnd && filled < buffer.size()) {
            const auto want = static_cast<std::size_t>(
                std::min<std::uintmax_t>(buffer.size() - filled, remaining));
            const long long got = want == 0 ? 0 : readSome(buffer.data() + filled, want);
            if (got < 0) {
                error = errno;
                return false;
            }
            if (got == 0) {
                atEnd = true;  // the end, or a file that shrank meanwhile
                break;
            }
            filled += static_cast<std::size_t>(got);
            remaining -= static_cast<std::uintmax_t>(got);
        }
        const std::string_view window(buffer.data(), filled);
        std::size_t used = 0;
        if (first) {
            first = false;
            used = startsWithByteOrderMark(window) ? 3 : 0;
        }
        used += parser.feed(window.substr(used), atEnd);
        if (afterPiece) {
            afterPiece(parser.rows());
        }
        if (atEnd) {
            break;
        }
        if (used == 0 && filled == buffer.size()) {
            buffer.resize(buffer.size() * 2);  // one row longer than the buffer
        } else {
            std::memmove(buffer.data(), buffer.data() + used, filled - used);
            filled -= used;
        }
    }
    parsed = parser.takeParsed();
    return true;
}

}  // namespace

// --- The file --------------------------------------------------------------------------------

#if !defined(_WIN32)

namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

  private:
    int m_fd;
};

// Waits up to a second for another appender (a second copy of the program) to finish.
bool lockForAppend(int fd) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return true;  // no locks on this file system: append without one
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Writes all of `bytes`; false with errno set when the system refuses part of it.
bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

void syncFolder(const std::filesystem::path& file) {
    const std::filesystem::path folder =
        file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path();
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

std::optional<HistoryError> appendHistoryRow(const std::filesystem::path& file,
                                             const HistoryRow& row) {
    if (!isConsistentRow(row)) {
        return makeError(HistoryErrorCode::InvalidRow, 0, file, Operation::Append);
    }
    if (!ensureParentDirectory(file)) {
        return makeError(HistoryErrorCode::FolderMissing, 0, file, Operation::Append);
    }
    // Non-blocking, so that a pipe or a device in the file's place cannot hold the program.
    const FileDescriptor fd(
        ::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
        return errnoError(errno, file, Operation::Append);
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        return errnoError(errno, file, Operation::Append);
    }
    if (!S_ISREG(status.st_mode)) {
        return makeError(HistoryErrorCode::NotRegularFile, 0, file, Operation::Append,
                         S_ISDIR(status.st_mode));
    }
    if (!lockForAppend(fd.get())) {
        return makeError(HistoryErrorCode::Busy, EWOULDBLOCK, file, Operation::Append);
    }
    if (::fstat(fd.get(), &status) != 0) {
        return errnoError(errno, file, Operation::Append);
    }
    const off_t before = status.st_size;

    std::string bytes;
    if (before == 0) {
        bytes = kHistoryHeader;
    } else {
        char last = 0;
        if (::pread(fd.get(), &last, 1, before - 1) != 1) {
            return errnoError(errno, file, Operation::Append);
        }
        if (last != '\n') {
            bytes = "\r\n";  // the last row was torn: begin on a line of our own
        }
    }
    bytes += formatHistoryRecord(row);

    if (!writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0) {
        const int error = errno;
        // Cut any part of the row away, so that the file ends as it did.
        if (::ftruncate(fd.get(), before) == 0) {
            ::fsync(fd.get());
        }
        return errnoError(error, file, Operation::Append);
    }
    if (before == 0) {
        syncFolder(file);  // a new file: make its name durable too
    }
    return std::nullopt;
}

void appendHistoryRow(const AppendHistory& append, const std::filesystem::path& file,
                      const HistoryRow& row, HistoryAppended done) {
    if (append) {
        append(row, std::move(done));
    } else {
        done(appendHistoryRow(file, row));
    }
}

HistoryReadResult readHistory(const std::filesystem::path& file, std::uintmax_t maxBytes,
                              std::size_t pieceBytes, const HistoryPieceHook& afterPiece) {
    HistoryReadResult result;
    const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno != ENOENT) {
            result.error = errnoError(errno, file, Operation::Read);
        }
        return result;
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        result.error = errnoError(errno, file, Operation::Read);
        return result;
    }
    if (!S_ISREG(status.st_mode)) {
        result.error = makeError(HistoryErrorCode::NotRegularFile, 0, file, Operation::Read,
                                 S_ISDIR(status.st_mode));
        return result;
    }
    if (static_cast<std::uintmax_t>(status.st_size) > maxBytes) {
        result.error = makeError(HistoryErrorCode::FileTooLarge, 0, file, Operation::Read);
        return result;
    }
    ParsedHistory parsed;
    int error = 0;
    const auto readSome = [&](char* into, std::size_t count) -> long long {
        for (;;) {
            const ssize_t got = ::read(fd.get(), into, count);
            if (got >= 0 || errno != EINTR) {
                return got;
            }
        }
    };
    if (!parseInPieces(readSome, static_cast<std::uintmax_t>(status.st_size), pieceBytes,
                       afterPiece, parsed, error)) {
        result.error = errnoError(error, file, Operation::Read);
        return result;
    }
    result.rows = std::move(parsed.rows);
    result.skipped = parsed.skipped;
    return result;
}

#else  // Windows: the C runtime's files; the same checks, a simpler lock-free append.

std::optional<HistoryError> appendHistoryRow(const std::filesystem::path& file,
                                             const HistoryRow& row) {
    if (!isConsistentRow(row)) {
        return makeError(HistoryErrorCode::InvalidRow, 0, file, Operation::Append);
    }
    if (!ensureParentDirectory(file)) {
        return makeError(HistoryErrorCode::FolderMissing, 0, file, Operation::Append);
    }
    std::error_code ignored;
    const auto status = std::filesystem::status(file, ignored);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        return makeError(HistoryErrorCode::NotRegularFile, 0, file, Operation::Append,
                         std::filesystem::is_directory(status));
    }
    std::FILE* out = _wfopen(file.c_str(), L"a+b");
    if (out == nullptr) {
        return errnoError(errno, file, Operation::Append);
    }
    _fseeki64(out, 0, SEEK_END);
    const __int64 before = _ftelli64(out);
    std::string bytes;
    if (before <= 0) {
        bytes = kHistoryHeader;
    } else {
        _fseeki64(out, before - 1, SEEK_SET);
        if (std::fgetc(out) != '\n') {
            bytes = "\r\n";
        }
        _fseeki64(out, 0, SEEK_END);
    }
    bytes += formatHistoryRecord(row);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() &&
                         std::fflush(out) == 0 && _commit(_fileno(out)) == 0;
    const int error = errno;
    if (!written) {
        _chsize_s(_fileno(out), before < 0 ? 0 : before);
    }
    std::fclose(out);
    if (!written) {
        return errnoError(error, file, Operation::Append);
    }
    return std::nullopt;
}

HistoryReadResult readHistory(const std::filesystem::path& file, std::uintmax_t maxBytes,
                              std::size_t pieceBytes, const HistoryPieceHook& afterPiece) {
    HistoryReadResult result;
    std::error_code error;
    const auto status = std::filesystem::status(file, error);
    if (!std::filesystem::exists(status)) {
        return result;
    }
    if (!std::filesystem::is_regular_file(status)) {
        result.error = makeError(HistoryErrorCode::NotRegularFile, 0, file, Operation::Read,
                                 std::filesystem::is_directory(status));
        return result;
    }
    const auto size = std::filesystem::file_size(file, error);
    if (error || size > maxBytes) {
        result.error = makeError(error ? HistoryErrorCode::Io : HistoryErrorCode::FileTooLarge, 0,
                                 file, Operation::Read);
        return result;
    }
    std::ifstream in(file, std::ios::binary);
    const auto readSome = [&](char* into, std::size_t count) -> long long {
        in.read(into, static_cast<std::streamsize>(count));
        if (in.bad()) {
            errno = EIO;
            return -1;
        }
        return static_cast<long long>(in.gcount());
    };
    ParsedHistory parsed;
    int readError = 0;
    if (!in || !parseInPieces(readSome, size, pieceBytes, afterPiece, parsed, readError)) {
        result.error = makeError(HistoryErrorCode::Io, readError, file, Operation::Read);
        return result;
    }
    result.rows = std::move(parsed.rows);
    result.skipped = parsed.skipped;
    return result;
}

#endif

}  // namespace dittix::persistence
