#include "lodecast/run/ore_plan.h"

#include "lodecast/run/cli.h"
#include "lodecast/run/number.h"
#include "lodecast/storage/block.h"
#include "lodecast/storage/section_blocks.h"

#include <fstream>
#include <sstream>
#include <strings.h>

namespace {

// Options a profile line may give: the ones that shape an ore's veins.
constexpr uint32_t generation_bits = OPT_ROUNDS | OPT_MIN_DEPTH | OPT_MAX_DEPTH | OPT_SIZE |
                                     OPT_DATA | OPT_OVER_ORES | OPT_OVER_BLOCKS | OPT_OVER_ALL;

bool read_ore(const std::string &word, bool sectioned, int16_t *id) {
    for (const ore_record &k : ore_list) {
        if (strcasecmp(word.c_str(), k.name) == 0) {
            *id = k.block_id;
            return true;
        }
    }
    int32_t v = 0;
    if (!parse_decimal(word.c_str(), &v)) {
        return false;
    }
    if (sectioned) {
        *id = static_cast<int16_t>(v);
        return v >= 0 && v <= 4095;
    }
    *id = static_cast<int16_t>(v % 256); // as the single ore argument is read
    return true;
}

// The pass for ore word with base's options and, over them, those of args.
bool make_pass(const std::string &word, const options &base, std::vector<std::string> args,
               bool sectioned, ore_pass &out, std::string &error) {
    if (!read_ore(word, sectioned, &out.ore_id)) {
        error = "not an ore id or name: " + word;
        return false;
    }
    options line{};
    std::vector<char *> argv;
    for (std::string &a : args) {
        argv.push_back(a.data());
    }
    parse_options(static_cast<int>(argv.size()), argv.data(), &line,
                  sectioned ? sectioned_height : chunk_height);
    if ((line.set & ~generation_bits) != 0) {
        error = "only -r -mn -mx -s -d -oo -ob -oa may follow an ore: " + word;
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
    apply_ore_defaults(out.ore_id, &out.opt);
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

} // namespace

bool is_ore_plan(const char *arg) {
    return arg[0] == '@' || std::string(arg).find(',') != std::string::npos;
}

bool read_ore_plan(const std::string &arg, const options &base, std::vector<ore_pass> &out,
                   std::string &error, bool sectioned) {
    out.clear();
    if (arg.empty() || arg[0] != '@') {
        std::istringstream list(arg);
        for (std::string word; std::getline(list, word, ',');) {
            out.emplace_back();
            if (!make_pass(word, base, {}, sectioned, out.back(), error)) {
                return false;
            }
        }
    } else {
        std::ifstream file(arg.substr(1));
        if (!file) {
            error = "cannot read the profile " + arg.substr(1);
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
            if (!make_pass(ore, base, words, sectioned, out.back(), error)) {
                error = arg.substr(1) + " line " + std::to_string(number) + ": " + error;
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
