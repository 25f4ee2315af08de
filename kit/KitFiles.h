#pragma once
// Opening a kit: the default one (the eight WAVs of Sounds), or a Hydrogen kit (a folder holding
// drumkit.xml, the drumkit.xml itself, or a .h2drumkit archive of such a folder), with the files its
// samples are read from. Nothing here decodes audio or touches a sound server.
//
// A kit is untrusted input: a file dropped on the window or found in a kits folder. Sample names that
// leave the kit (an absolute path, "..", a link pointing out of its folder) are refused, as is anything
// beyond the limits in Kit.h.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Kit.h"

namespace zorvik::kit {

enum class FileFault { kNone, kUnreadable, kNotRegularFile, kTooLarge };

struct FileBytes {
    std::vector<std::byte> bytes;
    FileFault fault = FileFault::kNone;
    std::string error;  // empty when the bytes were read
};

// Reads a regular file of at most `limit` bytes, without blocking on a FIFO or opening a device.
FileBytes ReadFileBytes(const std::string& path, std::size_t limit);

// Where a kit's samples come from. Read() may run on several threads at once.
class KitFiles {
  public:
    virtual ~KitFiles() = default;
    // The bytes of the sample named `name` in the kit's own drumkit.xml.
    virtual FileBytes Read(const std::string& name) const = 0;
};

inline constexpr std::size_t kMaxSampleFileBytes = std::size_t{256} << 20;
inline constexpr std::size_t kMaxArchiveBytes = std::size_t{1} << 30;  // unpacked
inline constexpr std::size_t kMaxKitXmlBytes = std::size_t{16} << 20;

struct OpenedKit {
    Kit kit;
    std::shared_ptr<const KitFiles> files;
    // Set for the kit of Sounds: a sample that cannot be played plays the built-in default sound.
    bool soundsKit = false;
    std::string error;                  // empty when the kit opened
    std::vector<std::string> warnings;  // what was left out, one line each
};

// Reads a Hydrogen drumkit.xml: its name, and its instruments in any of the three layouts kits use (the
// sample named in the instrument, <layer>s in it, or <layer>s in an <instrumentComponent>). Layers with
// the same velocity range become one layer whose samples play in turn. Notes are assigned.
OpenedKit ParseHydrogenKit(std::string_view xml);

// A Hydrogen kit at `path`: a folder with drumkit.xml in it, a drumkit.xml, or a .h2drumkit archive.
OpenedKit OpenHydrogenKit(const std::string& path);
// The same for an archive, whatever its file is named.
OpenedKit OpenHydrogenArchive(const std::string& path);

// The default kit: Sounds/<row name>.wav for each row, in `folder`.
OpenedKit OpenSoundsKit(const std::string& folder);

// Whether `path` looks like a Hydrogen kit (by name; it is opened to find out more).
bool LooksLikeHydrogenKit(const std::string& path);

// The kits a Program Change chooses among, in order: `soundsFolder` itself (its drumkit.xml if it holds
// one, otherwise its WAVs), then the kits in $XDG_DATA_HOME/zorvik/kits/, then those in
// hydrogen/data/drumkits/ of each of $XDG_DATA_DIRS; in each folder by name.
std::vector<std::string> FindKits(const std::string& soundsFolder);

// The kit at `path`: a Hydrogen kit, or the WAVs of a Sounds folder.
OpenedKit OpenKit(const std::string& path);

}  // namespace zorvik::kit
