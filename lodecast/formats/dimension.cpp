#include "lodecast/formats/dimension.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <sys/stat.h>

namespace {

struct dimension {
    bool numbered = false;
    int32_t number = 0;
    std::string space; // a name's namespace and path
    std::string path;
};

bool is_folder(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The game's resource names: lower case letters, digits and "_-." (and "/"
// between the path's parts), never a part that would climb out of the world.
bool valid_name_part(std::string_view s, bool path) {
    if (s.empty() || s.front() == '/' || s.back() == '/') {
        return false;
    }
    for (const char c : s) {
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
        if (!plain && !(path && c == '/')) {
            return false;
        }
    }
    for (size_t at = 0; at <= s.size();) {
        const size_t end = std::min(s.find('/', at), s.size());
        const std::string_view part = s.substr(at, end - at);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        at = end + 1;
    }
    return true;
}

bool parse(const char *text, dimension &d) {
    const std::string_view s(text);
    const char *end = text + s.size();
    auto [ptr, ec] = std::from_chars(text, end, d.number);
    if (ec == std::errc() && ptr == end && !s.empty() && s[0] != '+') {
        d.numbered = true;
        return true;
    }
    const size_t colon = s.find(':');
    d.space = colon == std::string_view::npos ? "minecraft" : std::string(s.substr(0, colon));
    d.path = std::string(colon == std::string_view::npos ? s : s.substr(colon + 1));
    return valid_name_part(d.space, false) && valid_name_part(d.path, true);
}

// The game's three dimensions by their old numbers, or -2 for any other.
int32_t vanilla_number(const dimension &d) {
    if (d.numbered) {
        return d.number >= -1 && d.number <= 1 ? d.number : -2;
    }
    if (d.space != "minecraft") {
        return -2;
    }
    return d.path == "overworld" ? 0 : d.path == "the_nether" ? -1 : d.path == "the_end" ? 1 : -2;
}

const char *const vanilla_names[] = {"the_nether", "overworld", "the_end"};

} // namespace

std::string dimension_folder(const std::string &world, const char *dim) {
    dimension d;
    if (dim != nullptr && !parse(dim, d)) {
        return {};
    }
    const std::string modern = world + "/dimensions/minecraft/overworld";
    const bool layout_26 = is_folder(modern);
    const int32_t vanilla = dim == nullptr ? 0 : vanilla_number(d);
    if (layout_26 && vanilla != -2) {
        return world + "/dimensions/minecraft/" + vanilla_names[vanilla + 1];
    }
    if (dim == nullptr || (!d.numbered && vanilla == 0)) {
        return world;
    }
    if (d.numbered || vanilla != -2) {
        return world + "/DIM" + std::to_string(d.numbered ? d.number : vanilla);
    }
    return world + "/dimensions/" + d.space + "/" + d.path;
}

std::string dimension_key(const char *dim) {
    dimension d;
    if (dim == nullptr) {
        return "main";
    }
    if (!parse(dim, d)) {
        return {};
    }
    if (d.numbered) {
        return "DIM" + std::to_string(d.number);
    }
    const int32_t vanilla = vanilla_number(d);
    return vanilla == 0    ? "main"
           : vanilla == -2 ? d.space + ":" + d.path
                           : "DIM" + std::to_string(vanilla);
}
