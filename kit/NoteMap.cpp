#include "NoteMap.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <initializer_list>
#include <span>
#include <string>

namespace zorvik::kit {
namespace {

// Lower case, with what is in brackets left out: kits put the maker and size of a drum there
// ("Ride (Custom, Zagrebin 22\")"), and "custom" must not read as a tom.
std::string Clean(std::string_view name) {
    std::string out;
    int depth = 0;
    for (const char c : name) {
        if (c == '(' || c == '[') {
            ++depth;
        } else if ((c == ')' || c == ']') && depth > 0) {
            --depth;
        } else if (depth == 0) {
            out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
        }
    }
    return out;
}

bool IsLetter(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

// Where `word` starts a word of `text`; a word of two letters or less must end there too, so "hi" is not
// found in "high" nor "lo" in "loose".
std::size_t FindWord(const std::string& text, std::string_view word) {
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        const bool starts = at == 0 || !IsLetter(text[at - 1]);
        const std::size_t end = at + word.size();
        const bool ends = word.size() > 2 || end == text.size() || !IsLetter(text[end]);
        if (starts && ends) {
            return at;
        }
    }
    return std::string::npos;
}

bool HasAny(const std::string& text, std::initializer_list<std::string_view> words) {
    return std::any_of(words.begin(), words.end(),
                       [&](std::string_view w) { return FindWord(text, w) != std::string::npos; });
}

Role HiHatKind(const std::string& text) {
    if (HasAny(text, {"semi", "half"})) {
        return Role::kHalfOpenHiHat;
    }
    if (HasAny(text, {"pedal", "pd", "foot"})) {
        return Role::kPedalHiHat;
    }
    if (HasAny(text, {"open", "opened", "op", "ohh"})) {
        return Role::kOpenHiHat;
    }
    return Role::kClosedHiHat;
}

int TomHeight(std::string text) {
    // "tomhi2": what follows "tom" says which one.
    for (std::size_t at = text.find("tom"); at != std::string::npos; at = text.find("tom", at + 1)) {
        text[at] = text[at + 1] = text[at + 2] = ' ';
    }
    if (HasAny(text, {"floor"})) {
        return 3;
    }
    if (HasAny(text, {"high", "hi"})) {
        return 0;
    }
    if (HasAny(text, {"mid", "middle", "med"})) {
        return 1;
    }
    if (HasAny(text, {"low", "lo"})) {
        return 2;
    }
    const auto digit = std::find_if(text.begin(), text.end(), [](char c) { return c >= '1' && c <= '9'; });
    return digit == text.end() ? 1 : std::min(digit[0] - '1', 5);
}

struct Keyword {
    std::string_view word;
    Role role;
};
constexpr Keyword kKeywords[] = {
    {"kick", Role::kKick},
    {"bassdrum", Role::kKick},
    {"bass drum", Role::kKick},
    {"bd", Role::kKick},
    {"side stick", Role::kSideStick},
    {"sidestick", Role::kSideStick},
    {"stick", Role::kSideStick},
    {"rim click", Role::kSideStick},
    {"cross stick", Role::kSideStick},
    {"snare", Role::kSnare},
    {"clap", Role::kClap},
    {"tom", Role::kTom},
    {"crash", Role::kCrash},
    {"china", Role::kChina},
    {"splash", Role::kSplash},
    {"ride", Role::kRide},
};

// The General MIDI percussion notes of a role; several instruments of one role take them in turn.
std::span<const std::uint8_t> GeneralMidiNotes(Role role) {
    static constexpr std::uint8_t kick[] = {36, 35}, sideStick[] = {37}, snare[] = {38, 40}, clap[] = {39},
                                  closed[] = {42}, pedal[] = {44}, open[] = {46}, crash[] = {49, 57},
                                  china[] = {52}, splash[] = {55}, ride[] = {51, 59}, rideBell[] = {53};
    switch (role) {
        case Role::kKick:
            return kick;
        case Role::kSideStick:
            return sideStick;
        case Role::kSnare:
            return snare;
        case Role::kClap:
            return clap;
        case Role::kClosedHiHat:
            return closed;
        case Role::kPedalHiHat:
            return pedal;
        case Role::kOpenHiHat:
            return open;
        case Role::kCrash:
            return crash;
        case Role::kChina:
            return china;
        case Role::kSplash:
            return splash;
        case Role::kRide:
            return ride;
        case Role::kRideBell:
            return rideBell;
        default:
            return {};
    }
}
// High to low: the high, hi-mid, low-mid, low, high floor and low floor toms.
constexpr std::uint8_t kTomNotes[] = {50, 48, 47, 45, 43, 41};

// Where a kit lacks a role, its notes go to the first of these it has.
std::span<const Role> NearRoles(Role role) {
    using R = Role;
    static constexpr R snare[] = {R::kSnare}, closed[] = {R::kClosedHiHat}, pedal[] = {R::kPedalHiHat},
                       open[] = {R::kHalfOpenHiHat, R::kClosedHiHat},
                       crash[] = {R::kRide, R::kChina, R::kSplash}, effect[] = {R::kCrash, R::kRide},
                       ride[] = {R::kCrash}, bell[] = {R::kRide, R::kCrash};
    switch (role) {
        case R::kSideStick:
        case R::kClap:
            return snare;
        case R::kPedalHiHat:
            return closed;
        case R::kOpenHiHat:
            return open;
        case R::kClosedHiHat:
            return pedal;
        case R::kCrash:
            return crash;
        case R::kChina:
        case R::kSplash:
            return effect;
        case R::kRide:
            return ride;
        case R::kRideBell:
            return bell;
        default:
            return {};
    }
}

constexpr Role kRolesWithNotes[] = {Role::kKick,        Role::kSideStick,  Role::kSnare,     Role::kClap,
                                    Role::kClosedHiHat, Role::kPedalHiHat, Role::kOpenHiHat, Role::kCrash,
                                    Role::kChina,       Role::kSplash,     Role::kRide,      Role::kRideBell};

bool Playable(const Instrument& instrument) {
    return !instrument.layers.empty() && !instrument.muted;
}

std::vector<int> OfRole(const Kit& kit, Role role) {
    std::vector<int> found;
    for (std::size_t i = 0; i < kit.instruments.size(); ++i) {
        if (kit.instruments[i].role == role && Playable(kit.instruments[i])) {
            found.push_back(static_cast<int>(i));
        }
    }
    if (role == Role::kTom) {
        std::stable_sort(found.begin(), found.end(), [&](int a, int b) {
            return kit.instruments[static_cast<std::size_t>(a)].height <
                   kit.instruments[static_cast<std::size_t>(b)].height;
        });
    }
    return found;
}

// The first instrument of the first of `roles` the kit has, -1 for none.
int FirstOf(const Kit& kit, std::initializer_list<Role> roles) {
    for (const Role role : roles) {
        if (const std::vector<int> found = OfRole(kit, role); !found.empty()) {
            return found.front();
        }
    }
    return -1;
}

}  // namespace

RoleOfName ReadRole(std::string_view name) {
    const std::string text = Clean(name);
    if (HasAny(text, {"hihat", "hi-hat", "hat", "hh", "ohh"})) {
        return {HiHatKind(text), 0};
    }
    RoleOfName best;
    std::size_t bestAt = std::string::npos;
    for (const Keyword& k : kKeywords) {
        const std::size_t at = FindWord(text, k.word);
        if (at < bestAt) {
            bestAt = at;
            best.role = k.role;
        }
    }
    if (best.role == Role::kRide && HasAny(text, {"bell", "cup"})) {
        best.role = Role::kRideBell;
    }
    if (best.role == Role::kTom) {
        best.height = TomHeight(text);
    }
    return best;
}

void AssignNotes(Kit& kit) {
    kit.byNote.fill(-1);
    kit.rows.fill(-1);
    for (Instrument& instrument : kit.instruments) {
        instrument.notes.clear();
    }
    auto give = [&](int note, int instrument) {
        if (note < 0 || note >= kNotes || instrument < 0 || kit.byNote[static_cast<std::size_t>(note)] >= 0) {
            return;
        }
        kit.byNote[static_cast<std::size_t>(note)] = instrument;
        kit.instruments[static_cast<std::size_t>(instrument)].notes.push_back(
            static_cast<std::uint8_t>(note));
    };

    for (std::size_t i = 0; i < kit.instruments.size(); ++i) {
        const Instrument& instrument = kit.instruments[i];
        if (Playable(instrument) && instrument.givenNote != 36 + static_cast<int>(i)) {
            give(instrument.givenNote, static_cast<int>(i));
        }
    }
    for (const Role role : kRolesWithNotes) {
        const std::vector<int> players = OfRole(kit, role);
        const auto notes = GeneralMidiNotes(role);
        for (std::size_t n = 0; n < notes.size() && !players.empty(); ++n) {
            give(notes[n], players[n < players.size() ? n : 0]);
        }
    }
    const std::vector<int> toms = OfRole(kit, Role::kTom);
    for (std::size_t n = 0; n < std::size(kTomNotes) && !toms.empty(); ++n) {
        // Fewer toms than notes share them out in order: three toms take two notes each.
        const std::size_t tom =
            toms.size() >= std::size(kTomNotes) ? n : n * toms.size() / std::size(kTomNotes);
        give(kTomNotes[n], toms[tom]);
    }
    int spare = 82;  // above the General MIDI percussion notes
    for (std::size_t i = 0; i < kit.instruments.size(); ++i) {
        if (!Playable(kit.instruments[i]) || !kit.instruments[i].notes.empty()) {
            continue;
        }
        if (const int positional = 36 + static_cast<int>(i);
            positional < kNotes && kit.byNote[positional] < 0) {
            give(positional, static_cast<int>(i));
            continue;
        }
        while (spare < kNotes && kit.byNote[static_cast<std::size_t>(spare)] >= 0) {
            ++spare;
        }
        give(spare, static_cast<int>(i));
    }
    for (const Role role : kRolesWithNotes) {
        if (!OfRole(kit, role).empty()) {
            continue;
        }
        for (const Role near : NearRoles(role)) {
            const std::vector<int> players = OfRole(kit, near);
            if (players.empty()) {
                continue;
            }
            for (const std::uint8_t note : GeneralMidiNotes(role)) {
                give(note, players.front());
            }
            break;
        }
    }

    auto first = [&](std::initializer_list<Role> roles) { return FirstOf(kit, roles); };
    kit.rows[0] = first({Role::kKick});
    kit.rows[1] = first({Role::kSnare});
    kit.rows[2] = first({Role::kClosedHiHat, Role::kPedalHiHat});
    kit.rows[3] = first({Role::kOpenHiHat, Role::kHalfOpenHiHat});
    if (toms.size() == 1) {
        kit.rows[5] = toms[0];
    } else if (!toms.empty()) {
        kit.rows[4] = toms.front();
        kit.rows[6] = toms.back();
        if (toms.size() >= 3) {
            kit.rows[5] = toms[(toms.size() - 1) / 2];
        }
    }
    kit.rows[7] = first({Role::kCrash});
}

int LayerFor(const Instrument& instrument, std::uint8_t velocity) {
    const float v = static_cast<float>(std::min<std::uint8_t>(velocity, 127)) / 127.0f;
    int nearest = -1;
    float distance = INFINITY;
    for (std::size_t i = 0; i < instrument.layers.size(); ++i) {
        const Layer& layer = instrument.layers[i];
        const float d = v < layer.min ? layer.min - v : (v > layer.max ? v - layer.max : 0.0f);
        if (d < distance) {
            distance = d;
            nearest = static_cast<int>(i);
        }
        if (d == 0.0f) {
            break;
        }
    }
    return nearest;
}

int HiHats::ForPedal(std::uint8_t position) const {
    if (position >= kPedalShut) {
        return closed;
    }
    if (position < 32) {
        return open;
    }
    if (halfOpen >= 0) {
        return halfOpen;
    }
    return position >= 64 ? closed : open;
}

HiHats FindHiHats(const Kit& kit) {
    return HiHats{FirstOf(kit, {Role::kClosedHiHat}), FirstOf(kit, {Role::kHalfOpenHiHat}),
                  FirstOf(kit, {Role::kOpenHiHat}), FirstOf(kit, {Role::kPedalHiHat})};
}

}  // namespace zorvik::kit
