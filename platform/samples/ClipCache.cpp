#include "ClipCache.h"

#include <algorithm>

namespace zorvik::platform::samples {

bool ClipCache::Stamp::operator==(const Stamp& o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
           ctime.tv_nsec == o.ctime.tv_nsec;
}

ClipCache::ClipCache(Loader loader, std::size_t maxBytes) : loader_(std::move(loader)), maxBytes_(maxBytes) {}

std::size_t ClipCache::Bytes(const ClipPtr& clip) {
    return clip ? clip->samples.size() * sizeof(float) : 0;
}

ClipPtr ClipCache::Get(const std::string& path) {
    if (maxBytes_ == 0) {
        return loader_(path);
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return nullptr;  // missing: nothing to remember, and no loader call can do better
    }
    const Stamp stamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};

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
    const std::size_t bytes = Bytes(clip);
    if (bytes <= maxBytes_) {
        MakeRoom(bytes);
        entries_.push_back(Entry{path, stamp, clip, ++clock_});
        bytes_ += bytes;
    }
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
