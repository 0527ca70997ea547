// Italian sentences for failed reads and saves of the settings file.
#include "persistence/operator_messages.h"

#include <cerrno>

namespace dittix::persistence {

namespace {

bool is(std::error_code error, std::errc condition) {
    return error == condition;
}

}  // namespace

std::string displayPath(const std::filesystem::path& file) {
    const std::u8string text = file.u8string();
    return {text.begin(), text.end()};
}

std::string systemReason(std::error_code error) {
    if (is(error, std::errc::no_space_on_device)) {
        return "il disco è pieno";
    }
#if defined(EDQUOT)
    if (error.default_error_condition() == std::error_condition(EDQUOT, std::generic_category())) {
        return "il disco è pieno (spazio concesso esaurito)";
    }
#endif
    if (is(error, std::errc::read_only_file_system)) {
        return "il disco è in sola lettura";
    }
    if (is(error, std::errc::permission_denied) || is(error, std::errc::operation_not_permitted)) {
        return "permesso negato";
    }
    if (is(error, std::errc::no_such_file_or_directory)) {
        return "la cartella non esiste";
    }
    if (is(error, std::errc::is_a_directory)) {
        return "al suo posto c'è una cartella";
    }
    if (is(error, std::errc::not_a_directory)) {
        return "una parte del percorso non è una cartella";
    }
    if (is(error, std::errc::too_many_symbolic_link_levels)) {
        return "i collegamenti simbolici girano in tondo";
    }
    if (is(error, std::errc::filename_too_long)) {
        return "il percorso è troppo lungo";
    }
    if (is(error, std::errc::io_error)) {
        return "errore di lettura o scrittura sul disco";
    }
    if (is(error, std::errc::not_enough_memory)) {
        return "la memoria non basta";
    }
    if (is(error, std::errc::too_many_files_open) ||
        is(error, std::errc::too_many_files_open_in_system)) {
        return "troppi file aperti";
    }
    return "errore del sistema (" + error.message() + ")";
}

std::string readProblemReason(const FileRead& read) {
    switch (read.status) {
        case ReadStatus::Read:
        case ReadStatus::Missing:
            return {};
        case ReadStatus::TooLarge:
            return "è più grande di 16 MB";
        case ReadStatus::Failed:
            return "non si può leggere (" + systemReason(read.error) + ")";
        case ReadStatus::NotRegular:
            break;
    }
    switch (read.kind) {
        case FileKind::Directory:
            return "è una cartella e non un file";
        case FileKind::Fifo:
            return "è una pipe (FIFO) e non un file";
        case FileKind::Device:
            return "è un dispositivo e non un file";
        case FileKind::Socket:
            return "è un socket e non un file";
        case FileKind::Regular:
        case FileKind::Other:
            break;
    }
    return "non è un file normale";
}

std::string unreplaceableReason(const FileRead& read) {
    if (read.status == ReadStatus::NotRegular) {
        switch (read.kind) {
            case FileKind::Directory:
                return "al suo posto c'è una cartella";
            case FileKind::Fifo:
                return "al suo posto c'è una pipe (FIFO)";
            case FileKind::Device:
                return "al suo posto c'è un dispositivo";
            case FileKind::Socket:
                return "al suo posto c'è un socket";
            case FileKind::Regular:
            case FileKind::Other:
                break;
        }
        return "al suo posto c'è qualcosa che non è un file";
    }
    return "il file attuale " + readProblemReason(read) + " e resta com'è";
}

std::string loadProblemSentence(const std::filesystem::path& file, const FileRead& read) {
    return "Il file delle impostazioni " + displayPath(file) + " " + readProblemReason(read) +
           ": Dittix parte con le impostazioni predefinite.";
}

std::string saveFailureSentence(const std::filesystem::path& file, const std::string& reason) {
    return "Impossibile salvare le impostazioni in " + displayPath(file) + ": " + reason + ".";
}

}  // namespace dittix::persistence
