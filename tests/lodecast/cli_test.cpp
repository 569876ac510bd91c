#include "lodecast/run/cli.h"
#include "lodecast/run/number.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Parse a command line given as words; argv[0] is the program name.
options parse(const std::vector<std::string> &words) {
    std::vector<std::string> copy = words;
    std::vector<char *> argv;
    for (std::string &w : copy) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    options opt{};
    parse_options(static_cast<int>(words.size()), argv.data(), &opt);
    return opt;
}

options parse_args(const std::vector<std::string> &args) {
    std::vector<std::string> words = {"lodecast", "world", "16"};
    words.insert(words.end(), args.begin(), args.end());
    return parse(words);
}

TEST(ParseDecimal, ReadsLikePercentD) {
    struct Case {
        const char *text;
        bool ok;
        int32_t value;
    };
    const Case cases[] = {
        {"16", true, 16},
        {"16abc", true, 16},
        {"  \t-5", true, -5},
        {"+7", true, 7},
        {"0x10", true, 0},
        {"-0", true, 0},
        {"2147483647", true, INT32_MAX},
        {"-2147483648", true, INT32_MIN},
        // Beyond the range: saturated.
        {"2147483648", true, INT32_MAX},
        {"-2147483649", true, INT32_MIN},
        {"99999999999999999999999999", true, INT32_MAX},
        {"-99999999999999999999999999", true, INT32_MIN},
        {"", false, 0},
        {"   ", false, 0},
        {"abc", false, 0},
        {"-", false, 0},
        {"- 5", false, 0},
        {"+-5", false, 0},
        {"-v", false, 0},
    };
    for (const Case &c : cases) {
        int32_t v = 12345;
        EXPECT_EQ(parse_decimal(c.text, &v), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(v, c.ok ? c.value : 12345) << '"' << c.text << '"';
    }
}

TEST(ParseUnsignedDecimal, WrapsALeadingMinusAndSaturates) {
    struct Case {
        const char *text;
        bool ok;
        uint32_t value;
    };
    const Case cases[] = {
        {"1000", true, 1000},
        {"-1", true, 4294967295u},
        {"-1000", true, 4294966296u},
        {"4294967295", true, 4294967295u},
        {"4294967296", true, 4294967295u},
        {"-4294967296", true, 4294967295u},
        {"123456789012345678901234567890", true, 4294967295u},
        {" 12x", true, 12},
        {"x12", false, 0},
        {"", false, 0},
    };
    for (const Case &c : cases) {
        uint32_t v = 777;
        EXPECT_EQ(parse_unsigned_decimal(c.text, &v), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(v, c.ok ? c.value : 777u) << '"' << c.text << '"';
    }
}

TEST(ParseOptions, EachOptionSetsItsBitsAndReadsItsValue) {
    options o = parse_args({"-r", "5"});
    EXPECT_EQ(o.set, OPT_ROUNDS);
    EXPECT_EQ(o.rounds, 5);

    o = parse_args({"-mn", "3", "-mx", "40", "-s", "9"});
    EXPECT_EQ(o.set, OPT_MIN_DEPTH | OPT_MAX_DEPTH | OPT_SIZE);
    EXPECT_EQ(o.min_depth, 3);
    EXPECT_EQ(o.max_depth, 40);
    EXPECT_EQ(o.size, 9);

    o = parse_args({"-cb", "100"});
    EXPECT_EQ(o.set, OPT_CTIME);
    EXPECT_EQ(o.c_time, 100u);
    o = parse_args({"-ca", "101"});
    EXPECT_EQ(o.set, OPT_CTIME | OPT_CTIME_AFTER);
    EXPECT_EQ(o.c_time, 101u);
    o = parse_args({"-mb", "1000"});
    EXPECT_EQ(o.set, OPT_MTIME);
    EXPECT_EQ(o.m_time, 1000u);
    o = parse_args({"-ma", "1001"});
    EXPECT_EQ(o.set, OPT_MTIME | OPT_MTIME_AFTER);
    EXPECT_EQ(o.m_time, 1001u);

    EXPECT_EQ(parse_args({"-oo"}).set, OPT_OVER_ORES);
    EXPECT_EQ(parse_args({"-oa"}).set, OPT_OVER_ALL);
    EXPECT_EQ(parse_args({"-ob"}).set, OPT_OVER_BLOCKS);
    EXPECT_EQ(parse_args({"-v"}).set, OPT_VERBOSE);
    EXPECT_EQ(parse_args({"-vv"}).set, OPT_VERBOSE | OPT_VERY_VERBOSE);
    EXPECT_EQ(parse_args({"-v", "-vv"}).set, OPT_VERBOSE | OPT_VERY_VERBOSE);

    o = parse_args({"-d", "3"});
    EXPECT_EQ(o.set, OPT_DATA);
    EXPECT_EQ(o.data, 3);

    o = parse_args({"-bb", "1", "2", "3", "4"});
    EXPECT_EQ(o.set, OPT_BBOX);
    EXPECT_EQ(o.x1, 1);
    EXPECT_EQ(o.y1, 2);
    EXPECT_EQ(o.x2, 3);
    EXPECT_EQ(o.y2, 4);
}

TEST(ParseOptions, UnknownWordsAndCaseVariantsAreIgnored) {
    options o = parse_args({"-V", "-R", "5", "--v", "v", "-r5", "-oo "});
    EXPECT_EQ(o.set, 0u);
    EXPECT_EQ(o.rounds, 0);
}

TEST(ParseOptions, ClearsTheFourVeinFieldsButNotSet) {
    std::string prog = "lodecast";
    char *argv[] = {prog.data(), nullptr};
    options opt{};
    opt.set = OPT_DATA;
    opt.rounds = 7;
    opt.min_depth = 7;
    opt.max_depth = 7;
    opt.size = 7;
    opt.data = 9;
    parse_options(1, argv, &opt);
    EXPECT_EQ(opt.set, OPT_DATA);
    EXPECT_EQ(opt.rounds, 0);
    EXPECT_EQ(opt.min_depth, 0);
    EXPECT_EQ(opt.max_depth, 0);
    EXPECT_EQ(opt.size, 0);
    EXPECT_EQ(opt.data, 9);
}

TEST(ParseOptions, RemaindersTruncateAndKeepTheSign) {
    options o = parse_args({"-mn", "130", "-mx", "200"});
    EXPECT_EQ(o.min_depth, 2);
    EXPECT_EQ(o.max_depth, 72);
    EXPECT_EQ(parse_args({"-mn", "-130"}).min_depth, -2);
    EXPECT_EQ(parse_args({"-mn", "-5"}).min_depth, -5);
    EXPECT_EQ(parse_args({"-s", "100"}).size, 36);
    EXPECT_EQ(parse_args({"-d", "20"}).data, 4);
    EXPECT_EQ(parse_args({"-d", "-3"}).data, -3);
    EXPECT_EQ(parse_args({"-r", "100000"}).rounds, 100000); // -r is not reduced

    o = parse_args({"-s", "40", "-d", "3"});
    EXPECT_EQ(o.size, 40);
    EXPECT_EQ(o.data, 3);
}

TEST(ParseOptions, OutOfRangeValuesSaturateBeforeTheRemainder) {
    EXPECT_EQ(parse_args({"-mn", "99999999999"}).min_depth, INT32_MAX % 128);
    EXPECT_EQ(parse_args({"-mn", "-99999999999"}).min_depth, INT32_MIN % 128);
    EXPECT_EQ(parse_args({"-s", "2147483648"}).size, INT32_MAX % 64);
    EXPECT_EQ(parse_args({"-d", "-2147483649"}).data, INT32_MIN % 16);
    EXPECT_EQ(parse_args({"-r", "5000000000"}).rounds, INT32_MAX);
    EXPECT_EQ(parse_args({"-mb", "-1"}).m_time, 4294967295u);
    EXPECT_EQ(parse_args({"-ma", "99999999999"}).m_time, 4294967295u);
}

TEST(ParseOptions, UnreadableValueSetsTheBitAndKeepsTheField) {
    // The entry after -r is read as its value and then examined as an
    // option in its own right.
    options o = parse_args({"-r", "-v"});
    EXPECT_EQ(o.set, OPT_ROUNDS | OPT_VERBOSE);
    EXPECT_EQ(o.rounds, 0);

    o = parse_args({"-r", "4", "-r", "abc"});
    EXPECT_EQ(o.rounds, 4);

    o = parse_args({"-mb", "77", "-ma", "x"});
    EXPECT_EQ(o.set, OPT_MTIME | OPT_MTIME_AFTER);
    EXPECT_EQ(o.m_time, 77u);

    o = parse_args({"-bb", "1", "x", "3", "4"});
    EXPECT_EQ(o.x1, 1);
    EXPECT_EQ(o.y1, 0);
    EXPECT_EQ(o.x2, 3);
    EXPECT_EQ(o.y2, 4);
}

TEST(ParseOptions, OptionAtTheEndReadsNothingBeyondIt) {
    for (const char *name : {"-r", "-mn", "-mx", "-s", "-cb", "-ca", "-mb", "-ma", "-d"}) {
        options o = parse_args({"-r", "9", "-mn", "9", "-mx", "9", "-s", "9", "-d", "9", "-cb", "9",
                                "-mb", "9", name});
        EXPECT_EQ(o.rounds, 9) << name;
        EXPECT_EQ(o.min_depth, 9) << name;
        EXPECT_EQ(o.max_depth, 9) << name;
        EXPECT_EQ(o.size, 9) << name;
        EXPECT_EQ(o.data, 9) << name;
        EXPECT_EQ(o.c_time, 9u) << name;
        EXPECT_EQ(o.m_time, 9u) << name;
    }
    options o = parse_args({"-d"});
    EXPECT_EQ(o.set, OPT_DATA);
}

TEST(ParseOptions, BboxTooNearTheEndKeepsEarlierValues) {
    options o = parse_args({"-bb", "-5", "-6", "7", "8", "-bb", "1", "2"});
    EXPECT_EQ(o.set, OPT_BBOX);
    EXPECT_EQ(o.x1, -5);
    EXPECT_EQ(o.y1, -6);
    EXPECT_EQ(o.x2, 7);
    EXPECT_EQ(o.y2, 8);

    o = parse_args({"-bb", "1", "2", "3"});
    EXPECT_EQ(o.set, OPT_BBOX);
    EXPECT_EQ(o.x1, 0);
    EXPECT_EQ(o.x2, 0);
}

TEST(ParseOptions, BboxCornersAreOrdered) {
    options o = parse_args({"-bb", "5", "-3", "-5", "3"});
    EXPECT_EQ(o.x1, -5);
    EXPECT_EQ(o.x2, 5);
    EXPECT_EQ(o.y1, -3);
    EXPECT_EQ(o.y2, 3);

    o = parse_args({"-bb", "2", "9", "1", "-9"});
    EXPECT_EQ(o.x1, 1);
    EXPECT_EQ(o.x2, 2);
    EXPECT_EQ(o.y1, -9);
    EXPECT_EQ(o.y2, 9);
}

TEST(ParseOptions, RepeatedOptionsAddBitsAndTheLastValueWins) {
    options o = parse_args({"-mb", "100", "-ma", "200"});
    EXPECT_EQ(o.set, OPT_MTIME | OPT_MTIME_AFTER);
    EXPECT_EQ(o.m_time, 200u);
    o = parse_args({"-ma", "200", "-mb", "100"});
    EXPECT_EQ(o.set, OPT_MTIME | OPT_MTIME_AFTER);
    EXPECT_EQ(o.m_time, 100u);
}

TEST(ParseOptions, EveryEntryIsExaminedProgramNameAndWorldIncluded) {
    options o = parse({"-v", "-oo", "16"});
    EXPECT_EQ(o.set, OPT_VERBOSE | OPT_OVER_ORES);

    // The world path "-r" reads the ore id entry as its value.
    o = parse({"lodecast", "-r", "21"});
    EXPECT_EQ(o.set, OPT_ROUNDS);
    EXPECT_EQ(o.rounds, 21);
}

TEST(ParseOptions, ValueEntriesAreAlsoExaminedAsOptions) {
    // "-s -oo": -s reads "-oo" (no number), then "-oo" is an option too.
    options o = parse_args({"-s", "-oo", "-d", "-1"});
    EXPECT_EQ(o.set, OPT_SIZE | OPT_OVER_ORES | OPT_DATA);
    EXPECT_EQ(o.size, 0);
    EXPECT_EQ(o.data, -1);
}

} // namespace

namespace {

// The options beyond the usage text follow the same rules as the others.
TEST(ParseOptions, ThreadsAndSeed) {
    struct Case {
        std::vector<std::string> args;
        uint32_t bits;
        int32_t threads;
        uint32_t seed;
    };
    // Before parsing, threads is 3 and seed 99, as the caller presets them.
    const Case cases[] = {
        {{}, 0, 3, 99},
        {{"-j", "4"}, OPT_THREADS, 4, 99},
        {{"-j", "1"}, OPT_THREADS, 1, 99},
        {{"-j", "0"}, OPT_THREADS, 1, 99},
        {{"-j", "-5"}, OPT_THREADS, 1, 99},
        {{"-j", "1000"}, OPT_THREADS, max_threads, 99},
        {{"-j", "abc"}, OPT_THREADS, 3, 99},
        {{"-j"}, OPT_THREADS, 3, 99},
        {{"-seed", "12345"}, OPT_SEED, 3, 12345},
        {{"-seed", "-1"}, OPT_SEED, 3, 4294967295u},
        {{"-seed", "x"}, OPT_SEED, 3, 99},
        {{"-seed"}, OPT_SEED, 3, 99},
        // The value entry is examined as an option too.
        {{"-seed", "-j", "2"}, OPT_SEED | OPT_THREADS, 2, 99},
        {{"-j", "2", "-seed", "5", "-j", "6"}, OPT_SEED | OPT_THREADS, 6, 5},
    };
    for (const Case &c : cases) {
        std::vector<std::string> words = {"lodecast", "world", "16"};
        words.insert(words.end(), c.args.begin(), c.args.end());
        std::vector<char *> argv;
        for (std::string &w : words) {
            argv.push_back(w.data());
        }
        options opt{};
        opt.threads = 3;
        opt.seed = 99;
        parse_options(static_cast<int>(argv.size()), argv.data(), &opt);
        std::string line;
        for (const std::string &a : c.args) {
            line += a + " ";
        }
        EXPECT_EQ(opt.set, c.bits) << line;
        EXPECT_EQ(opt.threads, c.threads) << line;
        EXPECT_EQ(opt.seed, c.seed) << line;
    }
}

TEST(ParseOptions, Distributions) {
    struct Case {
        std::vector<std::string> args;
        uint32_t bits;
        double air;
        int32_t every, saved_before;
    };
    // Before parsing: air 0.25, every 3, saved_before 7.
    const Case cases[] = {
        {{"-spread", "-tri"}, OPT_SPREAD | OPT_TRIANGLE, 0.25, 3, 7},
        {{"-air", "0.5"}, OPT_AIR, 0.5, 3, 7},
        {{"-air", "1.5"}, OPT_AIR, 1, 3, 7},
        {{"-air", "-2"}, OPT_AIR, 0, 3, 7},
        {{"-air", "nan"}, OPT_AIR, 0.25, 3, 7},
        {{"-every", "9"}, OPT_EVERY, 0.25, 9, 7},
        {{"-every", "0"}, OPT_EVERY, 0.25, 1, 7},
        {{"-every", "99999"}, OPT_EVERY, 0.25, 32768, 7},
        {{"-saved-before", "2724"}, OPT_SAVED_BEFORE, 0.25, 3, 2724},
    };
    for (const Case &c : cases) {
        options opt{};
        opt.air_chance = 0.25;
        opt.every = 3;
        opt.saved_before = 7;
        std::vector<std::string> words = c.args;
        std::vector<char *> argv;
        for (std::string &w : words) {
            argv.push_back(w.data());
        }
        parse_options(static_cast<int>(argv.size()), argv.data(), &opt);
        EXPECT_EQ(opt.set, c.bits) << c.args[0];
        EXPECT_EQ(opt.air_chance, c.air) << c.args[0] << " " << c.args.back();
        EXPECT_EQ(opt.every, c.every) << c.args.back();
        EXPECT_EQ(opt.saved_before, c.saved_before);
    }
}

TEST(ParseOptions, NewBitsFollowTheOthers) {
    EXPECT_EQ(OPT_THREADS, OPT_VERY_VERBOSE << 1);
    EXPECT_EQ(OPT_SEED, OPT_THREADS << 1);
    const int32_t n = default_threads();
    EXPECT_GE(n, 1);
    EXPECT_LE(n, max_threads);
}

} // namespace
