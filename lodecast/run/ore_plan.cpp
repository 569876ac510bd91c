#include "lodecast/run/ore_plan.h"

#include "lodecast/run/cli.h"

#include <fstream>
#include <sstream>

namespace {

// Options a profile line may give: the ones that shape an ore's veins.
constexpr uint32_t generation_bits = OPT_ROUNDS | OPT_MIN_DEPTH | OPT_MAX_DEPTH | OPT_SIZE |
                                     OPT_DATA | OPT_OVER_ORES | OPT_OVER_BLOCKS | OPT_OVER_ALL |
                                     OPT_SPREAD | OPT_TRIANGLE | OPT_AIR | OPT_EVERY | OPT_BIOME |
                                     OPT_SAVED_BEFORE;

// -biome's comma-separated names, namespaced as the game stores them.
std::vector<std::string> biome_list(const std::string &text) {
    std::vector<std::string> names;
    std::istringstream list(text);
    for (std::string name; std::getline(list, name, ',');) {
        if (!name.empty()) {
            names.push_back(name.find(':') == std::string::npos ? "minecraft:" + name : name);
        }
    }
    return names;
}

// The plan for ore word with base's options and, over them, those of args.
// alone: the whole ore argument, whose refusal keeps its own words.
bool make_plan(const std::string &word, const options &base, std::vector<std::string> args,
               const storage_kind &kind, bool alone, ore_plan &out, std::string &error) {
    std::string detail;
    if (!kind.read_ore(word, out.block, detail)) {
        if (!detail.empty()) {
            error = detail;
        } else {
            error = alone ? "Ore ID has to be a number" : "not an ore id or name: " + word;
        }
        return false;
    }
    options line{};
    std::vector<char *> argv;
    for (std::string &a : args) {
        argv.push_back(a.data());
    }
    parse_options(static_cast<int>(argv.size()), argv.data(), &line, kind.height_modulus());
    if ((line.set & ~generation_bits) != 0) {
        error = "only -r -mn -mx -s -d -oo -ob -oa -spread -tri -air -every -biome "
                "-saved-before may follow an ore: " +
                word;
        return false;
    }
    out.opt = base;
    out.opt.set |= line.set;
    const auto take = [&](uint32_t bit, int32_t options::*field) {
        if (line.set & bit) {
            out.opt.*field = line.*field;
        }
    };
    take(OPT_ROUNDS, &options::rounds);
    take(OPT_MIN_DEPTH, &options::min_depth);
    take(OPT_MAX_DEPTH, &options::max_depth);
    take(OPT_SIZE, &options::size);
    take(OPT_DATA, &options::data);
    take(OPT_EVERY, &options::every);
    take(OPT_SAVED_BEFORE, &options::saved_before);
    if (line.set & OPT_AIR) {
        out.opt.air_chance = line.air_chance;
    }
    // The line's own names are copied: its words do not outlive this call.
    const char *biomes = (line.set & OPT_BIOME) ? line.biome_names : base.biome_names;
    if ((out.opt.set & OPT_BIOME) && biomes != nullptr) {
        if (!kind.stores_biomes()) {
            error = "-biome needs a world that stores biomes by name or id (1.13 on)";
            return false;
        }
        out.biomes = biome_list(biomes);
    }
    if (line.set & OPT_BIOME) {
        out.opt.biome_names = nullptr; // the line's words are gone; out.biomes holds them
    }
    apply_ore_defaults(out.block.defaults_id, &out.opt);
    return true;
}

std::vector<std::string> words_of(const std::string &line) {
    std::vector<std::string> words;
    std::istringstream in(line.substr(0, line.find('#')));
    for (std::string w; in >> w;) {
        words.push_back(w);
    }
    return words;
}

bool read_profile(const std::string &file_name, const options &base, const storage_kind &kind,
                  std::vector<ore_plan> &out, std::string &error) {
    std::ifstream file(file_name);
    if (!file) {
        error = "cannot read the profile " + file_name;
        return false;
    }
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        std::vector<std::string> words = words_of(line);
        if (words.empty()) {
            continue;
        }
        out.emplace_back();
        const std::string ore = words.front();
        words.erase(words.begin());
        if (!make_plan(ore, base, words, kind, false, out.back(), error)) {
            error = file_name + " line " + std::to_string(number) + ": " + error;
            return false;
        }
    }
    return true;
}

} // namespace

bool read_ore_plan(const std::string &arg, const options &base, const storage_kind &kind,
                   std::vector<ore_plan> &out, std::string &error) {
    out.clear();
    if (!arg.empty() && arg[0] == '@') {
        if (!read_profile(arg.substr(1), base, kind, out, error)) {
            return false;
        }
    } else if (arg.find(',') == std::string::npos) {
        out.emplace_back();
        return make_plan(arg, base, {}, kind, true, out.back(), error);
    } else {
        std::istringstream list(arg);
        for (std::string word; std::getline(list, word, ',');) {
            out.emplace_back();
            if (!make_plan(word, base, {}, kind, false, out.back(), error)) {
                return false;
            }
        }
    }
    if (out.empty()) {
        error = "no ore in " + arg;
        return false;
    }
    return true;
}
