// The ore census: counting by height, the walk's name rules, chunks that
// cannot be counted, and the text, CSV and SVG it writes.
#include "lodecast/census/census.h"
#include "lodecast/census/census_render.h"
#include "lodecast/census/chunk_map.h"
#include "nbt/nbt.h"
#include "support/child_run.h"
#include "support/files.h"
#include "support/run.h"
#include "support/temp_dir.h"
#include "tools/lodecast-census/census_args.h"
#include "tools/lodecast-census/census_walk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <expat.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <tuple>

namespace fs = std::filesystem;

namespace {

constexpr uint8_t stone = 1, coal = 16, gold = 14, diamond = 56, lapis = 21;

// A block array of stone with the given ids placed at (x, y, z); the index
// arithmetic is spelled out here on purpose, independent of the census.
struct placed {
    int x, y, z;
    uint8_t id;
};
Bytes blocks_with(std::initializer_list<placed> blocks) {
    Bytes b(chunk_block_count, stone);
    for (const placed &p : blocks) {
        b[static_cast<size_t>((p.x * 16 + p.z) * 128 + p.y)] = p.id;
    }
    return b;
}

// Write a chunk built with the NBT library: a root compound holding
// "Level", which holds xPos and, when blocks is given, a byte array named
// blocks_name.
void write_chunk(const std::string &path, const Bytes &blocks,
                 const std::string &blocks_name = "Blocks") {
    fs::create_directories(fs::path(path).parent_path());
    nbt_tag *root = nullptr, *level = nullptr, *xpos = nullptr, *arr = nullptr;
    ASSERT_EQ(nbt_new_compound(&root, ""), 0);
    ASSERT_EQ(nbt_new_compound(&level, "Level"), 0);
    ASSERT_EQ(nbt_new_int(&xpos, "xPos"), 0);
    ASSERT_EQ(nbt_set_int(xpos, 3), 0);
    ASSERT_NE(nbt_add_tag(xpos, level), nullptr);
    if (!blocks.empty()) {
        ASSERT_EQ(nbt_new_byte_array(&arr, blocks_name.c_str()), 0);
        ASSERT_EQ(nbt_set_byte_array(arr, blocks.data(), static_cast<int>(blocks.size())), 0);
        ASSERT_NE(nbt_add_tag(arr, level), nullptr);
    }
    ASSERT_NE(nbt_add_tag(level, root), nullptr);
    nbt_file *file = nullptr;
    ASSERT_EQ(nbt_init(&file), NBT_OK);
    file->root = root;
    EXPECT_GT(nbt_write(file, path.c_str()), 0) << path;
    nbt_free(file);
}

// The test world: two good chunks holding known ores, one chunk with
// nothing of interest, and chunks that cannot be counted.
struct test_world {
    TempDir dir;
    std::string path = dir.file("world");

    test_world() {
        write_chunk(path + "/0/0/c.0.0.dat",
                    blocks_with({{0, 0, 0, coal},     // index 0: the bottom
                                 {15, 127, 15, coal}, // index 32767: the top
                                 {3, 40, 7, coal},    // y 40, away from every edge
                                 {1, 5, 2, diamond},  // two diamonds side by side
                                 {2, 5, 3, diamond}}));
        write_chunk(path + "/1/z/c.1.z.dat",
                    blocks_with({{5, 40, 5, coal},
                                 {0, 20, 0, lapis},
                                 {9, 31, 9, gold},    // last level of band 24-31
                                 {9, 32, 9, gold}})); // first level of band 32-39
        write_chunk(path + "/1/z/c.2.z.dat", blocks_with({}));
        // A chunk cut short in the middle of its block array.
        write_chunk(path + "/0/0/c.5.5.dat", blocks_with({{0, 0, 0, coal}}));
        Bytes cut = gunzip_file(path + "/0/0/c.5.5.dat");
        cut.resize(cut.size() - 1000);
        write_gzip_file(path + "/0/0/c.5.5.dat", cut);
        write_chunk(path + "/0/0/c.6.6.dat", {}); // no Blocks at all
        write_chunk(path + "/0/0/c.7.7.dat", Bytes(16384, coal));
        write_chunk(path + "/0/0/c.8.8.dat", blocks_with({}), "Block");
    }
    std::string chunk(const std::string &rel) const { return path + "/" + rel; }
};

census count_world(const std::string &path, std::vector<int> ids = {16, 15, 14, 73, 56, 21}) {
    census c = make_census(ids);
    std::string error;
    EXPECT_TRUE(census_world(path, c, error)) << error;
    return c;
}

const ore_tally &tally(const census &c, int id) {
    for (const ore_tally &t : c.ores) {
        if (t.id == id) {
            return t;
        }
    }
    throw std::runtime_error("no tally for " + std::to_string(id));
}

// ---- counting -------------------------------------------------------------

TEST(CensusCount, CountsEachIdAtItsHeight) {
    census c = make_census({coal, diamond, 200});
    Bytes a = blocks_with({{0, 0, 0, coal},
                           {15, 127, 15, coal},
                           {3, 40, 7, coal},
                           {1, 5, 2, diamond},
                           {15, 5, 0, diamond},
                           {4, 9, 4, 200}});
    Bytes b = blocks_with({{0, 127, 0, coal}});
    count_blocks(a.data(), c);
    count_blocks(b.data(), c);
    count_blocks(blocks_with({}).data(), c);

    EXPECT_EQ(c.chunks_counted, 3u);
    const ore_tally &co = tally(c, coal);
    EXPECT_EQ(co.total, 4u);
    EXPECT_EQ(co.chunks, 2u);
    std::map<int, uint64_t> nonzero;
    for (int y = 0; y < chunk_height; ++y) {
        if (co.per_y[static_cast<size_t>(y)] != 0) {
            nonzero[y] = co.per_y[static_cast<size_t>(y)];
        }
    }
    EXPECT_EQ(nonzero, (std::map<int, uint64_t>{{0, 1}, {40, 1}, {127, 2}}));

    const ore_tally &di = tally(c, diamond);
    EXPECT_EQ(di.total, 2u);
    EXPECT_EQ(di.chunks, 1u);
    EXPECT_EQ(di.per_y[5], 2u);
    EXPECT_EQ(tally(c, 200).per_y[9], 1u);
    EXPECT_EQ(tally(c, 200).name, "200");
}

TEST(CensusCount, StoneIsCountedOnlyWhenAskedFor) {
    census c = make_census({stone});
    count_blocks(blocks_with({{0, 0, 0, coal}}).data(), c);
    EXPECT_EQ(c.ores[0].total, static_cast<uint64_t>(chunk_block_count - 1));
    EXPECT_EQ(c.ores[0].per_y[0], 255u);
    EXPECT_EQ(c.ores[0].per_y[1], 256u);
}

TEST(CensusCount, RepeatedIdsAreCountedOnceAndKnownOresAreNamed) {
    census c = make_census({coal, 42, coal, lapis});
    ASSERT_EQ(c.ores.size(), 3u);
    EXPECT_EQ(c.ores[0].name, "Coal");
    EXPECT_EQ(c.ores[1].name, "42");
    EXPECT_EQ(c.ores[2].name, "Lapis");
    count_blocks(blocks_with({{1, 1, 1, coal}}).data(), c);
    EXPECT_EQ(c.ores[0].total, 1u);
}

TEST(CensusArgs, OresByIdOrName) {
    const std::vector<std::pair<const char *, int>> cases = {
        {"16", 16},    {"0", 0},     {"255", 255},     {"coal", 16},
        {"IRON", 15},  {"Gold", 14}, {"redstone", 73}, {"diamond", 56},
        {"lapis", 21}, {"256", -1},  {"-1", -1},       {"12x", -1},
        {"", -1},      {" 5", -1},   {"emerald", -1},  {"99999999999999999999", -1}};
    for (const auto &[arg, id] : cases) {
        EXPECT_EQ(parse_ore(arg), id) << '"' << arg << '"';
    }
}

TEST(CensusArgs, CommandLines) {
    struct line {
        std::vector<const char *> argv;
        bool ok;
        std::string world, csv, svg, error;
        std::vector<int> ids;
    };
    const std::vector<int> six = {16, 15, 14, 73, 56, 21};
    const std::vector<line> lines = {
        {{"w"}, true, "w", "", "", "", six},
        {{"w", "56", "coal"}, true, "w", "", "", "", {56, 16}},
        {{"-csv", "a.csv", "w", "-svg", "b.svg", "21"}, true, "w", "a.csv", "b.svg", "", {21}},
        {{}, false, "", "", "", "no world directory given", {}},
        {{"-svg", "b.svg"}, false, "", "", "", "no world directory given", {}},
        {{"w", "-csv"}, false, "", "", "", "option -csv needs a file name", {}},
        {{"w", "300"},
         false,
         "",
         "",
         "",
         "not an ore: 300 (a block id 0..255 or an ore's name)",
         {}},
    };
    for (const line &l : lines) {
        std::vector<const char *> argv = {"lodecast-census"};
        argv.insert(argv.end(), l.argv.begin(), l.argv.end());
        census_args args;
        std::string error;
        bool ok = parse_census_args(static_cast<int>(argv.size()), argv.data(), args, error);
        SCOPED_TRACE(testing::PrintToString(l.argv));
        ASSERT_EQ(ok, l.ok);
        EXPECT_EQ(error, l.error);
        if (ok) {
            EXPECT_EQ(args.world, l.world);
            EXPECT_EQ(args.csv_path, l.csv);
            EXPECT_EQ(args.svg_path, l.svg);
            EXPECT_EQ(args.ids, l.ids);
        }
    }
    census_args args;
    std::string error;
    const char *help[] = {"lodecast-census", "w", "--help"};
    EXPECT_TRUE(parse_census_args(3, help, args, error));
    EXPECT_TRUE(args.help);
}

// ---- the walk -------------------------------------------------------------

TEST(CensusWalk, CountsTheWorldAndListsWhatItCouldNotCount) {
    test_world w;
    census c = count_world(w.path);
    EXPECT_EQ(c.chunks_counted, 3u);
    EXPECT_EQ(tally(c, coal).total, 4u);
    EXPECT_EQ(tally(c, coal).chunks, 2u);
    EXPECT_EQ(tally(c, coal).per_y[40], 2u);
    EXPECT_EQ(tally(c, diamond).total, 2u);
    EXPECT_EQ(tally(c, lapis).per_y[20], 1u);
    EXPECT_EQ(tally(c, gold).per_y[31], 1u);
    EXPECT_EQ(tally(c, gold).per_y[32], 1u);
    EXPECT_EQ(tally(c, 15).total, 0u);
    EXPECT_EQ(tally(c, 15).chunks, 0u);

    ASSERT_EQ(c.skipped.size(), 4u);
    const std::string not_nbt = "not a valid NBT file (damaged or truncated)";
    const std::string no_blocks = "no \"Blocks\" array of 32768 bytes";
    EXPECT_EQ(c.skipped[0].path, w.chunk("0/0/c.5.5.dat"));
    EXPECT_EQ(c.skipped[0].reason, not_nbt);
    EXPECT_EQ(c.skipped[1].path, w.chunk("0/0/c.6.6.dat"));
    EXPECT_EQ(c.skipped[1].reason, no_blocks);
    EXPECT_EQ(c.skipped[2].path, w.chunk("0/0/c.7.7.dat"));
    EXPECT_EQ(c.skipped[2].reason, no_blocks);
    EXPECT_EQ(c.skipped[3].path, w.chunk("0/0/c.8.8.dat"));
    EXPECT_EQ(c.skipped[3].reason, no_blocks);
    EXPECT_TRUE(c.skipped_dirs.empty());
}

TEST(CensusWalk, ChunksWithoutLevelAreListed) {
    TempDir dir;
    const std::string world = dir.file("w");
    fs::create_directories(world + "/0/0");
    // A compound root holding only an int.
    write_gzip_file(world + "/0/0/c.0.0.dat", {0x0a, 0x00, 0x00, // root compound, empty name
                                               0x03, 0x00, 0x01, 'x', 0, 0, 0, 1, // int "x" = 1
                                               0x00});                            // end of the root
    // A root that is not a compound at all.
    write_gzip_file(world + "/0/0/c.0.1.dat", {0x03, 0x00, 0x00, 0, 0, 0, 7});
    census c = count_world(world);
    EXPECT_EQ(c.chunks_counted, 0u);
    ASSERT_EQ(c.skipped.size(), 2u);
    EXPECT_EQ(c.skipped[0].reason, "no \"Level\" compound");
    EXPECT_EQ(c.skipped[1].reason, "no \"Level\" compound");
}

TEST(CensusWalk, NamesAndTypesDecideWhatIsAChunk) {
    TempDir dir;
    const std::string world = dir.file("w");
    const Bytes one_coal = blocks_with({{0, 64, 0, coal}});
    // Taken: proper names at every level; lower-case "tmp" is base 36, and
    // nothing after "dat" is examined.
    for (const char *rel : {"0/0/c.0.0.dat", "0/0/c.0.0.dat.bak", "tmp/x/c.-1.z.dat"}) {
        write_chunk(world + "/" + rel, one_coal);
    }
    // Skipped: upper case or other characters in a directory name, a chunk
    // name that fails, files at levels 1 and 2, a directory at level 3 and
    // anything below it.
    for (const char *rel :
         {"Tmp/0/c.0.0.dat", "0/0A/c.0.0.dat", "1_2/0/c.0.0.dat", "0/0/C.0.0.dat", "0/0/c.0.0",
          "0/0/c.0.0.0.dat", "0/0/c.2.2.dat/c.0.0.dat", "0/c.0.0.dat/x"}) {
        write_chunk(world + "/" + rel, one_coal);
    }
    for (const char *rel : {"c.0.0.dat", "7", "0/abc"}) {
        write_file(world + "/" + rel, read_file(world + "/0/0/c.0.0.dat"));
    }

    census c = count_world(world, {coal});
    EXPECT_EQ(c.chunks_counted, 3u);
    EXPECT_EQ(c.ores[0].per_y[64], 3u);
    EXPECT_TRUE(c.skipped.empty());
}

TEST(CensusWalk, EntriesThatCannotBeExaminedAreListedNotFatal) {
    TempDir dir;
    const std::string world = dir.file("w");
    write_chunk(world + "/0/0/c.0.0.dat", blocks_with({{0, 3, 0, coal}}));
    fs::create_symlink(world + "/nowhere", world + "/0/0/c.1.0.dat");
    fs::create_symlink(world + "/nowhere", world + "/zz");

    census c = count_world(world, {coal});
    EXPECT_EQ(c.chunks_counted, 1u);
    ASSERT_EQ(c.skipped.size(), 1u);
    EXPECT_EQ(c.skipped[0].path, world + "/0/0/c.1.0.dat");
    EXPECT_EQ(c.skipped[0].reason, std::strerror(ENOENT));
    ASSERT_EQ(c.skipped_dirs.size(), 1u);
    EXPECT_EQ(c.skipped_dirs[0], world + "/zz: " + std::strerror(ENOENT));
}

TEST(CensusWalk, AMissingWorldIsAnErrorAndAnEmptyOneIsNot) {
    TempDir dir;
    census c = make_census({coal});
    std::string error;
    EXPECT_FALSE(census_world(dir.file("missing"), c, error));
    EXPECT_EQ(error, std::strerror(ENOENT));

    error.clear();
    EXPECT_TRUE(census_world(dir.path().string(), c, error));
    EXPECT_EQ(error, "");
    EXPECT_EQ(c.chunks_counted, 0u);
}

TEST(CensusWalk, ProgressIsReportedForEveryChunkFile) {
    test_world w;
    census c = make_census({coal});
    std::vector<uint64_t> seen;
    std::string error;
    ASSERT_TRUE(census_world(w.path, c, error, [&](const census &now) {
        seen.push_back(now.chunks_counted + now.skipped.size());
    }));
    EXPECT_EQ(seen, (std::vector<uint64_t>{1, 2, 3, 4, 5, 6, 7}));
}

// ---- reports --------------------------------------------------------------

TEST(CensusReport, BandsTopFirstWithBarsScaledToTheFullestBand) {
    census c = make_census({diamond});
    count_blocks(blocks_with({{1, 5, 2, diamond}, {2, 7, 3, diamond}, {0, 47, 0, diamond}}).data(),
                 c);
    c.skipped.push_back({"x", "y"});
    const std::string full(40, '#'), half = std::string(20, '#') + std::string(20, ' '),
                                     none(40, ' ');
    std::string expected = "World w: 1 chunks counted, 1 skipped (unreadable or invalid)\n"
                           "\n"
                           "Diamond (56): 3 blocks in 1 chunks\n";
    for (int band = 15; band >= 0; --band) {
        char head[32];
        std::snprintf(head, sizeof head, "  y %3d-%-3d |", band * 8, band * 8 + 7);
        const std::string &bar = band == 0 ? full : band == 5 ? half : none;
        expected += head + bar + "| " + (band == 0 ? "2" : band == 5 ? "1" : "0") + "\n";
    }
    EXPECT_EQ(render_report(c, "w"), expected);
    // Spot-check the layout the loop above builds.
    EXPECT_NE(expected.find("  y   0-7   |" + full + "| 2\n"), std::string::npos);
    EXPECT_NE(expected.find("  y 120-127 |" + none + "| 0\n"), std::string::npos);
}

TEST(CensusReport, AnyBlockAtAllShowsAMark) {
    census c = make_census({coal});
    Bytes b(chunk_block_count, stone);
    for (int x = 0; x < 16; ++x) {
        for (int z = 0; z < 16; ++z) {
            b[static_cast<size_t>((x * 16 + z) * 128 + 10)] = coal; // 256 in band 8-15
        }
    }
    b[100] = coal; // one in band 96-103
    count_blocks(b.data(), c);
    const std::string report = render_report(c, "w");
    EXPECT_NE(report.find("  y  96-103 |#" + std::string(39, ' ') + "| 1\n"), std::string::npos)
        << report;
    EXPECT_NE(report.find("  y   8-15  |" + std::string(40, '#') + "| 256\n"), std::string::npos)
        << report;
}

TEST(CensusReport, CsvHoldsTheCountAtEveryHeight) {
    test_world w;
    census c = count_world(w.path, {coal, diamond, gold});
    std::string expected = "y,Coal,Diamond,Gold\n";
    const std::map<int, std::string> rows = {{0, "0,1,0,0"},   {5, "5,0,2,0"},
                                             {31, "31,0,0,1"}, {32, "32,0,0,1"},
                                             {40, "40,2,0,0"}, {127, "127,1,0,0"}};
    for (int y = 0; y < 128; ++y) {
        auto it = rows.find(y);
        expected += (it != rows.end() ? it->second : std::to_string(y) + ",0,0,0") + "\n";
    }
    EXPECT_EQ(render_csv(c), expected);
}

// ---- the chart, read back with a real XML parser ---------------------------

struct xml_element {
    std::string name;
    std::map<std::string, std::string> attrs;
    std::string text;             // character data directly inside, decoded
    std::vector<size_t> children; // indexes into the element list
};

struct xml_reader {
    std::vector<xml_element> elements; // in document order, root first
    std::vector<size_t> open;

    static void start(void *data, const XML_Char *name, const XML_Char **attrs) {
        auto *r = static_cast<xml_reader *>(data);
        if (!r->open.empty()) {
            r->elements[r->open.back()].children.push_back(r->elements.size());
        }
        r->open.push_back(r->elements.size());
        r->elements.push_back({name, {}, {}, {}});
        for (size_t i = 0; attrs[i] != nullptr; i += 2) {
            r->elements.back().attrs[attrs[i]] = attrs[i + 1];
        }
    }
    static void end(void *data, const XML_Char *) {
        static_cast<xml_reader *>(data)->open.pop_back();
    }
    static void text(void *data, const XML_Char *s, int len) {
        auto *r = static_cast<xml_reader *>(data);
        r->elements[r->open.back()].text.append(s, static_cast<size_t>(len));
    }
};

// The elements of doc; fails the test when doc is not well-formed XML.
std::vector<xml_element> parse_xml(const std::string &doc) {
    xml_reader reader;
    XML_Parser parser = XML_ParserCreate("UTF-8");
    XML_SetUserData(parser, &reader);
    XML_SetElementHandler(parser, xml_reader::start, xml_reader::end);
    XML_SetCharacterDataHandler(parser, xml_reader::text);
    bool ok = XML_Parse(parser, doc.data(), static_cast<int>(doc.size()), 1) == XML_STATUS_OK;
    EXPECT_TRUE(ok) << XML_ErrorString(XML_GetErrorCode(parser)) << " at line "
                    << XML_GetCurrentLineNumber(parser);
    XML_ParserFree(parser);
    return ok ? reader.elements : std::vector<xml_element>{};
}

std::vector<std::pair<double, double>> points_of(const xml_element &e) {
    std::vector<std::pair<double, double>> pts;
    std::istringstream in(e.attrs.at("points"));
    double x, y;
    char comma;
    while (in >> x >> comma >> y) {
        pts.emplace_back(x, y);
    }
    return pts;
}

TEST(CensusChart, OneLinePerOreWithHeightUpwardsAndALegend) {
    test_world w;
    census c = count_world(w.path, {coal, diamond, lapis, 200});
    const std::string world_name = "w<&>\"'";
    std::vector<xml_element> xml = parse_xml(render_svg(c, world_name));
    ASSERT_FALSE(xml.empty());
    EXPECT_EQ(xml[0].name, "svg");
    EXPECT_EQ(xml[0].attrs["xmlns"], "http://www.w3.org/2000/svg");

    std::vector<const xml_element *> lines;
    std::vector<std::string> texts;
    for (const xml_element &e : xml) {
        if (e.name == "polyline") {
            lines.push_back(&e);
        }
        if (e.name == "text") {
            texts.push_back(e.text);
        }
    }
    ASSERT_EQ(lines.size(), 4u);
    const char *names[] = {"Coal", "Diamond", "Lapis", "200"};
    for (size_t i = 0; i < lines.size(); ++i) {
        ASSERT_EQ(lines[i]->children.size(), 1u);
        EXPECT_EQ(xml[lines[i]->children[0]].text, names[i]);
    }
    // Coal: 1 block at y 0, 2 at y 40, 1 at y 127, none elsewhere.
    auto coal_pts = points_of(*lines[0]);
    ASSERT_EQ(coal_pts.size(), 128u);
    EXPECT_GT(coal_pts[0].second, coal_pts[40].second);   // y 0 lies below y 40
    EXPECT_GT(coal_pts[40].second, coal_pts[127].second); // and y 40 below y 127
    EXPECT_EQ(coal_pts[0].first, coal_pts[127].first);    // same count, same place
    EXPECT_GT(coal_pts[40].first, coal_pts[0].first);     // more blocks lie further right
    EXPECT_GT(coal_pts[0].first, coal_pts[1].first);
    // An id with no blocks runs straight up the vertical axis.
    auto none_pts = points_of(*lines[3]);
    ASSERT_EQ(none_pts.size(), 128u);
    for (const auto &p : none_pts) {
        EXPECT_EQ(p.first, none_pts[0].first);
    }
    EXPECT_EQ(none_pts[0].first, coal_pts[1].first);

    auto has_text = [&](const std::string &t) {
        return std::find(texts.begin(), texts.end(), t) != texts.end();
    };
    EXPECT_TRUE(has_text("Ore census of " + world_name));
    EXPECT_TRUE(has_text("height (y)"));
    EXPECT_TRUE(has_text("blocks at that height"));
    EXPECT_TRUE(has_text("Coal (16): 4"));
    EXPECT_TRUE(has_text("Diamond (56): 2"));
    EXPECT_TRUE(has_text("200 (200): 0"));
    EXPECT_TRUE(has_text("0"));
    EXPECT_TRUE(has_text("127"));
}

TEST(CensusChart, AnEmptyCensusIsStillAChart) {
    for (const std::vector<int> &ids : {std::vector<int>{}, std::vector<int>{coal}}) {
        census c = make_census(ids);
        std::vector<xml_element> xml = parse_xml(render_svg(c, ""));
        ASSERT_FALSE(xml.empty());
        size_t lines = static_cast<size_t>(std::count_if(
            xml.begin(), xml.end(), [](const xml_element &e) { return e.name == "polyline"; }));
        EXPECT_EQ(lines, ids.size());
    }
}

TEST(CensusChart, EscapesWhatXmlGivesMeaningTo) {
    EXPECT_EQ(xml_escape("a<b>&\"c'\x01\td"), "a&lt;b&gt;&amp;&quot;c&apos;?\td");
}

// ---- the program ----------------------------------------------------------

#ifdef LODECAST_CENSUS_EXE

TEST(CensusMap, OneCellPerChunkShadedByItsCountAndTheUnreadableMarked) {
    test_world w;
    const census c = count_world(w.path, {coal});
    std::map<std::string, std::string> cells; // title -> class
    std::set<std::string> fills;              // the cells' shades
    const std::vector<xml_element> doc = parse_xml(render_chunk_map(c.cells, "<w>", {"Coal"}));
    for (const xml_element &e : doc) {
        if (e.name == "rect" && e.attrs.count("class") != 0) {
            ASSERT_EQ(e.children.size(), 1u);
            cells[doc[e.children[0]].text] = e.attrs.at("class");
            fills.insert(e.attrs.at("fill"));
        }
    }
    const std::string bad = "chunk unreadable";
    EXPECT_EQ(cells, (std::map<std::string, std::string>{{"chunk 0, 0: 3", "chunk"},
                                                         {"chunk 1, 35: 1", "chunk"},
                                                         {"chunk 2, 35: 0", "chunk"},
                                                         {"chunk 5, 5: could not be read", bad},
                                                         {"chunk 6, 6: could not be read", bad},
                                                         {"chunk 7, 7: could not be read", bad},
                                                         {"chunk 8, 8: could not be read", bad}}));
    EXPECT_EQ(fills.size(), 4u); // three counts, and the hatching
    EXPECT_TRUE(std::any_of(doc.begin(), doc.end(), [](const xml_element &e) {
        return e.name == "text" && e.text == "<w>"; // the title, escaped and read back
    }));
}

// Long empty stretches are left out (a dashed line each) and a world still
// too wide is scaled; cells stay large enough to see either way.
TEST(CensusMap, CroppedToItsChunksScaledWhenStillTooWide) {
    std::vector<map_cell> strip; // 300 chunks in a row: 3 x 3 chunks to a cell
    for (int32_t x = 0; x < 300; ++x) {
        strip.push_back({x, 0, 1, false});
    }
    const struct {
        std::vector<map_cell> cells;
        size_t breaks;
        std::vector<std::string> texts;
    } cases[] = {
        {{{0, 0, 3, false}, {1, 1, 4, false}, {8000000, 0, 2, false}},
         1,
         {"(chunks; dashed lines: empty stretches left out)", "<title>chunk 0, 0: 3</title>",
          "<title>chunk 8000000, 0: 2</title>", ">8000000</text>"}},
        {strip,
         0,
         {"(chunks; scaled to fit: each cell is 3 x 3 chunks)",
          "<title>chunks from 0, 0: 3</title>", "<title>chunks from 297, 0: 3</title>"}},
    };
    for (const auto &c : cases) {
        const std::string svg = render_chunk_map(c.cells, "", {"Blocks per chunk of:", "Coal"});
        EXPECT_LT(svg.size(), 60000u);
        for (const std::string &text : c.texts) {
            EXPECT_NE(svg.find(text), std::string::npos) << text;
        }
        size_t breaks = 0;
        for (const xml_element &e : parse_xml(svg)) {
            breaks += e.name == "line" && e.attrs.at("class") == "break" ? 1 : 0;
            if (e.name == "rect" && e.attrs.count("class") != 0) {
                EXPECT_GE(std::stod(e.attrs.at("width")), 5.0) << svg;
            }
        }
        EXPECT_EQ(breaks, c.breaks);
    }
}

// Two maps drawn each on the other's scale share their area and shading:
// the same chunk with the same count has the same cell and colour in both.
TEST(CensusMap, TwoMapsOnOneScale) {
    const std::vector<map_cell> before = {{0, 0, 2, false}, {1, 0, 4, false}};
    const std::vector<map_cell> after = {{0, 0, 8, false}, {1, 0, 4, false}, {-90, -90, 1, false}};
    std::map<std::string, std::string> cells[2]; // title -> position and fill
    for (int i = 0; i < 2; ++i) {
        const std::string svg =
            render_chunk_map(i == 0 ? before : after, "", {"Coal"}, i == 0 ? after : before);
        for (const xml_element &e : parse_xml(svg)) {
            if (e.name == "rect" && e.attrs.count("class") != 0) {
                cells[i][parse_xml(svg)[e.children[0]].text] =
                    e.attrs.at("x") + "," + e.attrs.at("y") + " " + e.attrs.at("fill");
            }
        }
    }
    EXPECT_EQ(cells[0].at("chunk 1, 0: 4"), cells[1].at("chunk 1, 0: 4"));
    EXPECT_NE(cells[0].at("chunk 0, 0: 2"), cells[1].at("chunk 0, 0: 8"));
    EXPECT_EQ(cells[0].size(), 2u);
    EXPECT_EQ(cells[1].size(), 3u);
}

TEST(CensusProgram, ReportsFilesAndSkippedChunksWithoutTouchingTheWorld) {
    test_world w;
    std::map<std::string, std::pair<Bytes, fs::file_time_type>> before;
    for (const auto &e : fs::recursive_directory_iterator(w.path)) {
        if (e.is_regular_file()) {
            before[e.path().string()] = {read_file(e.path().string()), e.last_write_time()};
        }
    }
    const std::string csv = w.dir.file("out.csv"), svg = w.dir.file("out.svg");
    RunResult r = run_program(LODECAST_CENSUS_EXE, {w.path, "-csv", csv, "-svg", svg});
    EXPECT_EQ(r.status, 0) << r.err;

    census c = count_world(w.path);
    EXPECT_EQ(r.out, render_report(c, w.path));
    EXPECT_NE(r.out.find("\nCoal (16): 4 blocks in 2 chunks\n"), std::string::npos) << r.out;
    // No progress line: standard error is not a terminal here.
    EXPECT_EQ(r.err, "lodecast-census: skipped chunk " + w.chunk("0/0/c.5.5.dat") +
                         ": not a valid NBT file (damaged or truncated)\n"
                         "lodecast-census: skipped chunk " +
                         w.chunk("0/0/c.6.6.dat") +
                         ": no \"Blocks\" array of 32768 bytes\n"
                         "lodecast-census: skipped chunk " +
                         w.chunk("0/0/c.7.7.dat") +
                         ": no \"Blocks\" array of 32768 bytes\n"
                         "lodecast-census: skipped chunk " +
                         w.chunk("0/0/c.8.8.dat") + ": no \"Blocks\" array of 32768 bytes\n");
    Bytes csv_bytes = read_file(csv);
    EXPECT_EQ(std::string(csv_bytes.begin(), csv_bytes.end()), render_csv(c));
    Bytes svg_bytes = read_file(svg);
    EXPECT_EQ(std::string(svg_bytes.begin(), svg_bytes.end()), render_svg(c, w.path));

    for (const auto &[path, content] : before) {
        EXPECT_EQ(read_file(path), content.first) << path;
        EXPECT_EQ(fs::last_write_time(path), content.second) << path;
    }
}

TEST(CensusProgram, FailuresAndUsage) {
    TempDir dir;
    const std::string missing = dir.file("missing");
    RunResult r = run_program(LODECAST_CENSUS_EXE, {missing, "coal"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "lodecast-census: cannot open world directory " + missing + ": " +
                         std::strerror(ENOENT) + "\n");

    RunResult none = run_program(LODECAST_CENSUS_EXE, {});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err, std::string("lodecast-census: no world directory given\n") + census_usage);

    RunResult bad = run_program(LODECAST_CENSUS_EXE, {dir.path().string(), "mithril"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err.rfind("lodecast-census: not an ore: mithril", 0), 0u) << bad.err;

    RunResult help = run_program(LODECAST_CENSUS_EXE, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, census_usage);
    RunResult alone =
        run_program(LODECAST_CENSUS_EXE, {dir.path().string(), "-map-also", "w", "f"});
    EXPECT_EQ(alone.status, 2);
    EXPECT_EQ(alone.err.rfind("lodecast-census: option -map-also draws on -map's scale", 0), 0u);

    // The report is still printed when an output file cannot be written.
    const std::string nowhere = dir.file("no/such/dir/out.csv");
    RunResult unwritable = run_program(LODECAST_CENSUS_EXE, {dir.path().string(), "-csv", nowhere});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.out.find("0 chunks counted"), std::string::npos);
    EXPECT_EQ(unwritable.err,
              "lodecast-census: cannot write " + nowhere + ": " + std::strerror(ENOENT) + "\n");
}

TEST(CensusProgram, UnreadableChunksAndDirectoriesAreListed) {
    if (!can_run_as_nobody()) {
        GTEST_SKIP() << "cannot switch to an unprivileged user";
    }
    TempDir dir;
    const std::string world = dir.file("w");
    write_chunk(world + "/0/0/c.0.0.dat", blocks_with({{0, 3, 0, coal}}));
    write_chunk(world + "/0/0/c.1.0.dat", blocks_with({{0, 3, 0, coal}}));
    write_chunk(world + "/1/0/c.0.1.dat", blocks_with({{0, 3, 0, coal}}));
    for (const auto &e : fs::recursive_directory_iterator(dir.path())) {
        fs::permissions(e.path(), e.is_directory() ? fs::perms(0755) : fs::perms(0644));
    }
    fs::permissions(dir.path(), fs::perms(0755));
    fs::permissions(world + "/0/0/c.1.0.dat", fs::perms::none);
    fs::permissions(world + "/1", fs::perms(0700));

    ChildSetup setup;
    setup.as_nobody = true;
    RunResult r = run_with_setup(LODECAST_CENSUS_EXE, {world, "coal"}, setup);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("1 chunks counted, 1 skipped"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("1 directories could not be read"), std::string::npos) << r.out;
    const std::string denied = std::strerror(EACCES);
    EXPECT_EQ(r.err, "lodecast-census: skipped chunk " + world + "/0/0/c.1.0.dat: " + denied +
                         "\nlodecast-census: skipped directory " + world + "/1: " + denied + "\n");
}

TEST(CensusProgram, CountsARealChunk) {
    TempDir dir;
    const std::string world = dir.file("w");
    fs::create_directories(world + "/1b/3");
    fs::copy_file(std::string(LODECAST_TEST_DATA) + "/tools/c.-l.3.dat",
                  world + "/1b/3/c.-l.3.dat");
    RunResult r = run_program(LODECAST_CENSUS_EXE, {world, "1", "coal"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("1 chunks counted, 0 skipped"), std::string::npos) << r.out;
    // A natural chunk is mostly stone, and stone holds its one chunk.
    EXPECT_NE(r.out.find("\n1 (1): "), std::string::npos);
    EXPECT_NE(r.out.find(" blocks in 1 chunks\n"), std::string::npos);
}

#endif

// ---- sectioned worlds ------------------------------------------------------

TEST(CensusSectioned, CountsModOresByNameAtEveryHeight) {
    TempDir dir;
    const std::string w = dir.file("w");
    ASSERT_EQ(run_program(LODECAST_MKWORLD_EXE, {"--sectioned", w, "6"}).status, 0);
    census_args args;
    std::string error;
    const char *argv[] = {"lodecast-census", w.c_str(), "lodecast:tin_ore", "301", "coal"};
    ASSERT_TRUE(parse_census_args(5, argv, args, error)) << error;
    EXPECT_EQ(args.ids, (std::vector<int>{300, 301, 16}));
    const char *wrong[] = {"lodecast-census", w.c_str(), "lodecast:tin_or"};
    EXPECT_FALSE(parse_census_args(3, wrong, args, error));
    EXPECT_EQ(error, "not an ore: lodecast:tin_or (a block id 0..4095, a block name or an ore's "
                     "name); close matches: lodecast:tin_ore, lodecast:ruby_ore");
    ASSERT_TRUE(parse_census_args(5, argv, args, error));

    census c = make_census(args.ids, args.names);
    ASSERT_TRUE(census_world(w, c, error)) << error;
    EXPECT_EQ(c.height, 256);
    EXPECT_EQ(c.chunks_counted, 36u);
    for (const auto &[id, name] :
         std::map<int, std::string>{{300, "lodecast:tin_ore"}, {301, "lodecast:ruby_ore"}}) {
        const ore_tally &t = tally(c, id);
        EXPECT_EQ(t.name, name);
        const RunResult counted =
            run_program(LODECAST_MKWORLD_EXE, {"--count", w, std::to_string(id)});
        EXPECT_EQ(std::to_string(t.total) + "\n", counted.out);
        EXPECT_GT(t.total, 0u);
        uint64_t inside = 0; // the world maker puts them at heights 5..20 only
        for (int y = 5; y <= 20; ++y) {
            inside += t.per_y[static_cast<size_t>(y)];
        }
        EXPECT_EQ(inside, t.total);
    }
    EXPECT_EQ(tally(c, 16).name, "Coal");
    EXPECT_EQ(lines_of(render_csv(c)).size(), 257u);
    EXPECT_NE(render_report(c, w).find("lodecast:tin_ore (300): "), std::string::npos);
}

// Every name --names gives is one the census takes; a world's own ores come
// after the six, and unfinished chunks holding no ore do not end the search.
TEST(CensusProgram, NamesTheOresAWorldAccepts) {
    TempDir dir;
    const std::string modern = std::string(LODECAST_TEST_DATA) + "/modern/26.2-world";
    for (const auto &[flag, world, own] :
         {std::tuple{"", dir.file("flat"), ""},
          {"--sectioned", dir.file("s"), "lodecast:tin_ore"},
          {"--paletted", dir.file("p"), "minecraft:deepslate_diamond_ore"},
          {"", modern, "minecraft:deepslate_copper_ore"}}) {
        if (world != modern) {
            ASSERT_EQ(
                run_program(LODECAST_MKWORLD_EXE, {*flag ? flag : "--force", world, "6"}).status,
                0);
        }
        const std::vector<std::string> names =
            lines_of(run_program(LODECAST_CENSUS_EXE, {"--names", world}).out);
        ASSERT_GE(names.size(), 6u) << world;
        EXPECT_EQ(names[0] + names[5], "coallapis");
        EXPECT_EQ(names.size() > 6, *own != '\0') << world;
        EXPECT_TRUE(!*own || std::find(names.begin(), names.end(), own) != names.end()) << world;
        for (const std::string &name : names) {
            census_args args;
            std::string error;
            const char *argv[] = {"lodecast-census", world.c_str(), name.c_str()};
            EXPECT_TRUE(parse_census_args(3, argv, args, error)) << name << ": " << error;
        }
    }
}

} // namespace
