#include "KitFiles.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "NoteMap.h"

namespace zorvik::kit {
namespace {

namespace fs = std::filesystem;

bool EndsWith(const std::string& text, std::string_view end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// "a/./b" and "./a" name the same entry as "a/b" and "a".
std::string Normal(const std::string& name) {
    std::string out;
    std::size_t from = 0;
    while (from <= name.size()) {
        const std::size_t slash = std::min(name.find('/', from), name.size());
        const std::string part = name.substr(from, slash - from);
        if (!part.empty() && part != ".") {
            out += (out.empty() ? "" : "/") + part;
        }
        from = slash + 1;
    }
    return out;
}

class FolderFiles final : public KitFiles {
  public:
    explicit FolderFiles(std::string folder) : folder_(std::move(folder)) {}

    FileBytes Read(const std::string& name) const override {
        const std::string real = RealPath(folder_ + "/" + name);
        if (real.empty()) {
            return {{}, FileFault::kUnreadable, "\"" + name + "\" is missing"};
        }
        if (real.compare(0, folder_.size() + 1, folder_ + "/") != 0) {
            return {{}, FileFault::kUnreadable, "\"" + name + "\" leads outside the kit's folder"};
        }
        FileBytes bytes = ReadFileBytes(real, kMaxSampleFileBytes);
        if (!bytes.error.empty()) {
            bytes.error = "\"" + name + "\": " + bytes.error;
        }
        return bytes;
    }

  private:
    std::string folder_;  // resolved, no trailing slash
};

// libarchive's own words, which it may not have.
std::string ArchiveError(struct archive* a) {
    const char* text = archive_error_string(a);
    return text ? text : "no reason given";
}

// A .h2drumkit is a tar.gz of the kit's folder; its files are held unpacked, within kMaxArchiveBytes.
class ArchiveFiles final : public KitFiles {
  public:
    FileBytes Read(const std::string& name) const override {
        const auto it = entries_.find(Normal(base_ + name));
        if (it == entries_.end()) {
            return {{}, FileFault::kUnreadable, "\"" + name + "\" is not in the archive"};
        }
        return {it->second, FileFault::kNone, {}};
    }

    // Unpacks `path`; the error says why not.
    std::string Unpack(const std::string& path) {
        struct archive* a = archive_read_new();
        archive_read_support_filter_all(a);
        archive_read_support_format_tar(a);
        archive_read_support_format_zip(a);
        std::string error;
        if (archive_read_open_filename(a, path.c_str(), 1 << 16) != ARCHIVE_OK) {
            error = std::string("cannot be read as an archive: ") + ArchiveError(a);
        }
        std::size_t total = 0;
        struct archive_entry* entry = nullptr;
        while (error.empty()) {
            const int r = archive_read_next_header(a, &entry);
            if (r == ARCHIVE_EOF) {
                break;
            }
            if (r < ARCHIVE_WARN) {
                error = std::string("the archive is damaged: ") + ArchiveError(a);
                break;
            }
            const char* entryName = archive_entry_pathname(entry);
            // Links and folders are not files of the kit; a link could point anywhere.
            if (archive_entry_filetype(entry) != AE_IFREG || !entryName) {
                continue;
            }
            const la_int64_t size = archive_entry_size(entry);
            if (size < 0 || static_cast<std::uint64_t>(size) > kMaxSampleFileBytes ||
                total + static_cast<std::size_t>(size) > kMaxArchiveBytes) {
                error = "the archive unpacks to more than a kit may hold";
                break;
            }
            std::vector<std::byte> data(static_cast<std::size_t>(size));
            const la_ssize_t got = archive_read_data(a, data.data(), data.size());
            if (got < 0) {
                error = std::string("the archive is damaged: ") + ArchiveError(a);
                break;
            }
            data.resize(static_cast<std::size_t>(got));
            total += data.size();
            entries_[Normal(entryName)] = std::move(data);
        }
        archive_read_free(a);
        return error;
    }

    // Finds the kit's drumkit.xml, the one nearest the top; empty when there is none.
    const std::vector<std::byte>* FindKitXml() {
        const std::vector<std::byte>* found = nullptr;
        std::size_t depth = SIZE_MAX;
        for (const auto& [name, data] : entries_) {
            if (name != "drumkit.xml" && !EndsWith(name, "/drumkit.xml")) {
                continue;
            }
            const auto d = static_cast<std::size_t>(std::count(name.begin(), name.end(), '/'));
            if (d < depth) {
                depth = d;
                found = &data;
                base_ = name.substr(0, name.size() - std::string_view("drumkit.xml").size());
            }
        }
        return found;
    }

  private:
    std::map<std::string, std::vector<std::byte>> entries_;
    std::string base_;  // the folder of drumkit.xml in the archive, with its slash
};

OpenedKit Refused(std::string error) {
    OpenedKit kit;
    kit.error = std::move(error);
    return kit;
}

OpenedKit FromXml(const std::vector<std::byte>& xml, std::shared_ptr<const KitFiles> files) {
    OpenedKit kit = ParseHydrogenKit(std::string_view(reinterpret_cast<const char*>(xml.data()), xml.size()));
    if (kit.error.empty()) {
        kit.files = std::move(files);
    }
    return kit;
}

void AddKitsIn(const std::string& folder, std::vector<std::string>& kits) {
    std::error_code ec;
    std::vector<std::string> found;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string path = it->path().string();
        if (LooksLikeHydrogenKit(path) && !EndsWith(Lower(path), ".xml")) {
            found.push_back(path);
        }
    }
    std::sort(found.begin(), found.end());
    kits.insert(kits.end(), found.begin(), found.end());
}

}  // namespace

FileBytes ReadFileBytes(const std::string& path, std::size_t limit) {
    if (path.empty() || path.find('\0') != std::string::npos) {
        return {{}, FileFault::kUnreadable, "no such file"};
    }
    // stat() before open(): opening a FIFO would block and opening some devices has side effects. The
    // fstat() after open() closes the race with a file swapped in between.
    auto kind = [&](const struct stat& st) -> FileBytes {
        if (!S_ISREG(st.st_mode)) {
            return {{}, FileFault::kNotRegularFile, "not a file"};
        }
        if (static_cast<std::uint64_t>(st.st_size) > limit) {
            return {{}, FileFault::kTooLarge, "too large"};
        }
        return {};
    };
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return {{}, FileFault::kUnreadable, "cannot be read"};
    }
    if (FileBytes refused = kind(st); refused.fault != FileFault::kNone) {
        return refused;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return {{}, FileFault::kUnreadable, "cannot be read"};
    }
    FileBytes out;
    if (::fstat(fd, &st) != 0) {
        out = {{}, FileFault::kUnreadable, "cannot be read"};
    } else if (out = kind(st); out.fault == FileFault::kNone) {
        out.bytes.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        while (got < out.bytes.size()) {
            const ssize_t n = ::read(fd, out.bytes.data() + got, out.bytes.size() - got);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                out = {{}, FileFault::kUnreadable, "cannot be read"};
                break;
            }
            if (n == 0) {
                break;  // the file shrank since fstat; what is there is what there is
            }
            got += static_cast<std::size_t>(n);
        }
        out.bytes.resize(std::min(got, out.bytes.size()));
    }
    ::close(fd);
    return out;
}

bool LooksLikeHydrogenKit(const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        return fs::exists(path + "/drumkit.xml", ec);
    }
    const std::string lower = Lower(path);
    return EndsWith(lower, ".h2drumkit") || EndsWith(lower, "drumkit.xml");
}

OpenedKit OpenHydrogenArchive(const std::string& path) {
    auto files = std::make_shared<ArchiveFiles>();
    if (std::string error = files->Unpack(path); !error.empty()) {
        return Refused(error);
    }
    const std::vector<std::byte>* xml = files->FindKitXml();
    if (!xml) {
        return Refused("the archive holds no drumkit.xml");
    }
    return FromXml(*xml, std::move(files));
}

OpenedKit OpenHydrogenKit(const std::string& path) {
    std::error_code ec;
    if (EndsWith(Lower(path), ".h2drumkit")) {
        return OpenHydrogenArchive(path);
    }
    const std::string xmlPath = fs::is_directory(path, ec) ? path + "/drumkit.xml" : path;
    const FileBytes xml = ReadFileBytes(xmlPath, kMaxKitXmlBytes);
    if (!xml.error.empty()) {
        return Refused("its drumkit.xml " + xml.error);
    }
    const std::string folder = RealPath(fs::path(xmlPath).parent_path().string());
    if (folder.empty()) {
        return Refused("its folder cannot be read");
    }
    return FromXml(xml.bytes, std::make_shared<FolderFiles>(folder));
}

OpenedKit OpenSoundsKit(const std::string& folder) {
    OpenedKit out;
    out.soundsKit = true;  // no name: it is the program's own
    for (const char* name : kDrumNames) {
        Instrument instrument;
        instrument.name = name;
        const RoleOfName role = ReadRole(name);
        instrument.role = role.role;
        instrument.height = role.height;
        instrument.layers.push_back(Layer{0.0f, 1.0f, {SampleRef{std::string(name) + ".wav", 1.0f}}});
        out.kit.instruments.push_back(std::move(instrument));
    }
    AssignNotes(out.kit);
    const std::string real = RealPath(folder);
    out.files = std::make_shared<FolderFiles>(real.empty() ? folder : real);
    return out;
}

OpenedKit OpenKit(const std::string& path) {
    std::error_code ec;
    if (LooksLikeHydrogenKit(path)) {
        OpenedKit hydrogen = OpenHydrogenKit(path);
        const bool hasWavs = std::any_of(kDrumNames.begin(), kDrumNames.end(), [&](const char* name) {
            return fs::exists(path + "/" + name + ".wav", ec);
        });
        if (hydrogen.error.empty() || !fs::is_directory(path, ec) || !hasWavs) {
            return hydrogen;
        }
        // A Sounds folder with a broken drumkit.xml in it still has its eight WAVs.
        OpenedKit sounds = OpenSoundsKit(path);
        sounds.warnings.push_back("its drumkit.xml cannot be played (" + hydrogen.error +
                                  "); its WAVs play instead");
        return sounds;
    }
    if (fs::is_directory(path, ec)) {
        return OpenSoundsKit(path);
    }
    return Refused(
        "it is neither a Hydrogen kit (a folder with drumkit.xml, drumkit.xml itself, or a "
        ".h2drumkit) nor a folder of samples");
}

std::vector<std::string> FindKits(const std::string& soundsFolder) {
    std::vector<std::string> kits{soundsFolder};
    const char* home = std::getenv("HOME");
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && *dataHome) {
        AddKitsIn(std::string(dataHome) + "/zorvik/kits", kits);
    } else if (home && *home) {
        AddKitsIn(std::string(home) + "/.local/share/zorvik/kits", kits);
    }
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    const std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    std::size_t from = 0;
    while (from <= list.size()) {
        const std::size_t colon = std::min(list.find(':', from), list.size());
        if (colon > from) {
            AddKitsIn(list.substr(from, colon - from) + "/hydrogen/data/drumkits", kits);
        }
        from = colon + 1;
    }
    return kits;
}

}  // namespace zorvik::kit
