#include "FileCheck.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zorvik::platform {

// Why a path cannot be handed to GStreamer at all, or nothing when it looks like a readable file. These
// checks come first because GStreamer would block on a pipe and report a folder or empty file vaguely.
std::optional<std::string> checkFile(const std::string& fileName) {
    struct stat info {};
    if (stat(fileName.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return "the file does not exist";
        if (errno == EACCES) return "the file cannot be read (permission denied)";
        return std::string("the file cannot be read: ") + std::strerror(errno);
    }
    if (S_ISDIR(info.st_mode)) return "this is a folder, not a music file";
    if (!S_ISREG(info.st_mode)) return "this is not an ordinary file (it is a pipe, device or socket)";
    if (info.st_size == 0) return "the file is empty";
    if (access(fileName.c_str(), R_OK) != 0) return "the file cannot be read (permission denied)";
    return std::nullopt;
}

}  // namespace zorvik::platform
