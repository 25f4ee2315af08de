#include "FileCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace zorvik::platform::gst {

// These checks come first because GStreamer would block on a pipe and report a folder or empty file
// vaguely. Opening without blocking does not wait for a pipe's writer; the descriptor then says what it is.
MusicFile MusicFile::Open(const std::string& fileName) {
    MusicFile file;
    const int fd = open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            file.problem_ = "the file does not exist";
        } else if (errno == EACCES) {
            file.problem_ = "the file cannot be read (permission denied)";
        } else {
            file.problem_ = std::string("the file cannot be read: ") + std::strerror(errno);
        }
        return file;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        file.problem_ = std::string("the file cannot be read: ") + std::strerror(errno);
    } else if (S_ISDIR(info.st_mode)) {
        file.problem_ = "this is a folder, not a music file";
    } else if (!S_ISREG(info.st_mode)) {
        file.problem_ = "this is not an ordinary file (it is a pipe, device or socket)";
    } else if (info.st_size == 0) {
        file.problem_ = "the file is empty";
    }
    if (!file.problem_.empty()) {
        close(fd);
        return file;
    }
    file.fd_ = fd;
    return file;
}

MusicFile::MusicFile(MusicFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), problem_(std::move(other.problem_)) {}

MusicFile& MusicFile::operator=(MusicFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
        problem_ = std::move(other.problem_);
    }
    return *this;
}

MusicFile::~MusicFile() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

std::string MusicFile::Location() const {
    return "/proc/self/fd/" + std::to_string(fd_);
}

}  // namespace zorvik::platform::gst
