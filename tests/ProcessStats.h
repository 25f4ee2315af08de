#pragma once
// What a long-running process holds: resident memory, open files and threads, read from /proc/self.

#include <dirent.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// AddressSanitizer keeps freed memory in quarantine, so resident size is no measure of growth under it.
#if defined(__SANITIZE_ADDRESS__)
#define ZORVIK_RSS_MEANINGFUL 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZORVIK_RSS_MEANINGFUL 0
#endif
#endif
#ifndef ZORVIK_RSS_MEANINGFUL
#define ZORVIK_RSS_MEANINGFUL 1
#endif

namespace zorvik::reliability {

struct ProcessStats {
    long rssKiB = 0;
    std::size_t files = 0;
    std::size_t threads = 0;
};

inline std::size_t CountEntries(const char* folder) {
    std::size_t count = 0;
    if (DIR* dir = opendir(folder)) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                ++count;
            }
        }
        closedir(dir);
    }
    return count;
}

inline ProcessStats ReadProcessStats() {
    ProcessStats stats;
    if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            if (std::strncmp(line, "VmRSS:", 6) == 0) {
                stats.rssKiB = std::atol(line + 6);
            }
        }
        std::fclose(status);
    }
    // The directory handle counts itself among the open files; take it off.
    stats.files = CountEntries("/proc/self/fd") - 1;
    stats.threads = CountEntries("/proc/self/task");
    return stats;
}

}  // namespace zorvik::reliability
