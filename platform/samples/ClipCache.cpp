#include "ClipCache.h"

#include <algorithm>

namespace zorvik::platform::samples {

bool ClipCache::Stamp::operator==(const Stamp& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
           ctime.tv_nsec == o.ctime.tv_nsec;
}

ClipCache::ClipCache(Loader loader, std::size_t maxBytes) : loader_(std::move(loader)), maxBytes_(maxBytes) {}

ClipCache::~ClipCache() {
    StopPreload();
}

void ClipCache::StopPreload() {
    stopPreload_.store(true);
    if (preloader_.joinable()) {
        preloader_.join();
    }
    stopPreload_.store(false);
}

void ClipCache::Preload(std::vector<std::string> paths) {
    if (maxBytes_ == 0) {
        return;
    }
    StopPreload();
    preloader_ = std::thread([this, paths = std::move(paths)] {
        for (const std::string& path : paths) {
            if (stopPreload_.load()) {
                return;
            }
            // Stamped before loading, as in Get().
            Stamp stamp{};
            if (!StampOf(path, stamp)) {
                continue;
            }
            Entry entry{path, stamp, loader_(path), 0};
            const std::lock_guard lock(preloadedMutex_);
            preloadedEntries_.push_back(std::move(entry));
            preloaded_.store(true, std::memory_order_release);
        }
    });
}

void ClipCache::TakePreloaded() {
    if (!preloaded_.load(std::memory_order_acquire)) {
        return;
    }
    std::vector<Entry> taken;
    {
        const std::lock_guard lock(preloadedMutex_);
        taken.swap(preloadedEntries_);
        preloaded_.store(false, std::memory_order_relaxed);
    }
    for (Entry& entry : taken) {
        // A hit that came first loaded the file itself; what it found stays.
        const bool known = std::any_of(entries_.begin(), entries_.end(),
                                       [&](const Entry& e) { return e.path == entry.path; });
        if (!known) {
            Add(std::move(entry));
        }
    }
}

bool ClipCache::StampOf(const std::string& path, Stamp& stamp) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    stamp = Stamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    return true;
}

void ClipCache::Add(Entry entry) {
    const std::size_t bytes = Bytes(entry.clip);
    if (bytes > maxBytes_) {
        return;
    }
    MakeRoom(bytes);
    entry.lastUse = ++clock_;
    entries_.push_back(std::move(entry));
    bytes_ += bytes;
}

std::size_t ClipCache::Bytes(const ClipPtr& clip) {
    return clip ? clip->samples.size() * sizeof(float) : 0;
}

ClipPtr ClipCache::Get(const std::string& path) {
    if (maxBytes_ == 0) {
        return loader_(path);
    }
    TakePreloaded();
    Stamp stamp{};
    if (!StampOf(path, stamp)) {
        return nullptr;  // missing: nothing to remember, and no loader call can do better
    }

    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.path == path; });
    if (it != entries_.end()) {
        if (it->stamp == stamp) {
            it->lastUse = ++clock_;
            return it->clip;
        }
        bytes_ -= Bytes(it->clip);
        entries_.erase(it);
    }

    // Stamped before loading: a file rewritten during the load gets a new stamp and reloads next time.
    ClipPtr clip = loader_(path);
    Add(Entry{path, stamp, clip, 0});
    return clip;
}

void ClipCache::MakeRoom(std::size_t bytes) {
    while (!entries_.empty() && (bytes_ + bytes > maxBytes_ || entries_.size() >= kMaxEntries)) {
        auto oldest = std::min_element(entries_.begin(), entries_.end(),
                                       [](const Entry& a, const Entry& b) { return a.lastUse < b.lastUse; });
        bytes_ -= Bytes(oldest->clip);
        entries_.erase(oldest);
    }
}

}  // namespace zorvik::platform::samples
