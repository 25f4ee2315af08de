#pragma once
// A music file opened for GStreamer, after the checks it passes first.

#include <string>

namespace zorvik::platform::gst {

// The file, open for reading, or why it cannot be handed to GStreamer at all. The checks are made on
// the descriptor GStreamer then reads through (as /proc/self/fd/N), so a path swapped for a pipe or a
// device after the check still leads to the file that passed it, and nothing blocks in an open().
class MusicFile {
  public:
    static MusicFile Open(const std::string& fileName);
    MusicFile() = default;
    MusicFile(MusicFile&& other) noexcept;
    MusicFile& operator=(MusicFile&& other) noexcept;
    MusicFile(const MusicFile&) = delete;
    MusicFile& operator=(const MusicFile&) = delete;
    ~MusicFile();

    bool IsOpen() const { return fd_ >= 0; }
    // Empty when the file is open.
    const std::string& Problem() const { return problem_; }
    // The file through its descriptor, for as long as this object lives.
    std::string Location() const;

  private:
    int fd_ = -1;
    std::string problem_;
};

}  // namespace zorvik::platform::gst
