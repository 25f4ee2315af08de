#pragma once
// Clips ready for the mixer, by path. A pad is hit over and over with the same file, and reading,
// decoding and resampling it costs a millisecond or more (mostly page faults on fresh buffers), while
// a hit should cost the GUI thread microseconds. Every lookup stats the file, so a sample rewritten on
// disk (re-recorded, edited) is loaded again at its next hit. The files the keys will play can be
// preloaded on a thread of the cache's own, so that even their first hits only look them up.
//
// Get() and Preload() are called from one thread (the GUI's); the loader must also be safe to call from
// the preloading thread.

#include <sys/stat.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "VoiceMixer.h"

namespace zorvik::platform::samples {

class ClipCache {
  public:
    // Returns the clip for a path, or null when the file cannot be played.
    using Loader = std::function<ClipPtr(const std::string& path)>;

    // Holds at most `maxBytes` of audio (0 turns caching off) and kMaxEntries files.
    ClipCache(Loader loader, std::size_t maxBytes);
    // Waits for a preload to stop, which it does after the file it is loading.
    ~ClipCache();
    ClipCache(const ClipCache&) = delete;
    ClipCache& operator=(const ClipCache&) = delete;

    // The clip for `path`, loading it if it is new or changed on disk; null when it cannot be played.
    // Never waits for a preload: a file not preloaded yet is loaded here.
    ClipPtr Get(const std::string& path);
    // Loads `paths` in the background, in order, stopping a preload still running first.
    void Preload(std::vector<std::string> paths);

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
    static bool StampOf(const std::string& path, Stamp& stamp);
    void MakeRoom(std::size_t bytes);
    void Add(Entry entry);
    // Takes in what the preload has finished.
    void TakePreloaded();
    void StopPreload();

    Loader loader_;
    std::size_t maxBytes_;
    std::size_t bytes_ = 0;
    std::uint64_t clock_ = 0;
    std::vector<Entry> entries_;  // a kit has tens of sounds; a linear search beats hashing here

    std::thread preloader_;
    std::atomic<bool> stopPreload_{false};
    std::atomic<bool> preloaded_{false};  // preloadedEntries_ holds something
    std::mutex preloadedMutex_;           // held only to move an entry in or out
    std::vector<Entry> preloadedEntries_;
};

}  // namespace zorvik::platform::samples
