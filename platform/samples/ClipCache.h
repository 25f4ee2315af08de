#pragma once
// Clips ready for the mixer, by path. A pad is hit over and over with the same file, and reading,
// decoding and resampling it costs a millisecond or more (mostly page faults on fresh buffers), while
// a hit should cost the GUI thread microseconds. Every lookup stats the file, so a sample rewritten on
// disk (re-recorded, edited) is loaded again at its next hit.
//
// GUI thread only.

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "VoiceMixer.h"

namespace zorvik::platform::samples {

class ClipCache {
  public:
    // Returns the clip for a path, or null when the file cannot be played.
    using Loader = std::function<ClipPtr(const std::string& path)>;

    // Holds at most `maxBytes` of audio (0 turns caching off) and kMaxEntries files.
    ClipCache(Loader loader, std::size_t maxBytes);

    // The clip for `path`, loading it if it is new or changed on disk; null when it cannot be played.
    ClipPtr Get(const std::string& path);

    static constexpr std::size_t kMaxEntries = 256;

  private:
    // What tells us the file is still the one we loaded.
    struct Stamp {
        dev_t dev;
        ino_t ino;
        off_t size;
        timespec mtime;
        timespec ctime;

        bool operator==(const Stamp& o) const;
    };
    struct Entry {
        std::string path;
        Stamp stamp;
        ClipPtr clip;  // null: the file is known not to play, so it is not decoded again
        std::uint64_t lastUse;
    };

    static std::size_t Bytes(const ClipPtr& clip);
    void MakeRoom(std::size_t bytes);

    Loader loader_;
    std::size_t maxBytes_;
    std::size_t bytes_ = 0;
    std::uint64_t clock_ = 0;
    std::vector<Entry> entries_;  // a kit has tens of sounds; a linear search beats hashing here
};

}  // namespace zorvik::platform::samples
