#include "support/world_check.h"

#include "support/nbt_tree_equal.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

NbtDoc parse_nbt_file(const std::string &path, int *status) {
    nbt_file *raw = nullptr;
    *status = nbt_init(&raw);
    NbtDoc doc(raw);
    if (*status != NBT_OK) {
        return nullptr;
    }
    *status = nbt_parse(doc.get(), path.c_str());
    if (*status != NBT_OK) {
        return nullptr;
    }
    return doc;
}

NbtDoc parse_nbt_bytes(const Bytes &bytes, int *status) {
    TempDir dir;
    const std::string path = dir.file("c.0.0.dat");
    write_file(path, bytes);
    return parse_nbt_file(path, status);
}

namespace {

nbt_tag *level_child(const nbt_file *doc, const char *name) {
    nbt_tag *level = nbt_find_tag_by_name("Level", doc->root);
    if (level == nullptr || level->type != TAG_COMPOUND) {
        return nullptr;
    }
    return nbt_find_tag_by_name(name, level);
}

nbt_byte_array *level_array(const nbt_file *doc, const char *name, int32_t length) {
    nbt_byte_array *arr = nbt_cast_byte_array(level_child(doc, name));
    return arr != nullptr && arr->length == length ? arr : nullptr;
}

} // namespace

std::string chunk_shape_problem(const nbt_file *doc) {
    if (doc == nullptr || doc->root == nullptr || doc->root->type != TAG_COMPOUND) {
        return "root is not a compound";
    }
    nbt_tag *level = nbt_find_tag_by_name("Level", doc->root);
    if (level == nullptr || level->type != TAG_COMPOUND) {
        return "no compound \"Level\"";
    }
    if (level_array(doc, "Blocks", 32768) == nullptr) {
        return "no byte array \"Blocks\" of 32768 bytes";
    }
    return "";
}

FileSnapshot snapshot_files(const std::string &dir) {
    FileSnapshot files;
    for (const auto &entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            files[fs::relative(entry.path(), dir).string()] = read_file(entry.path().string());
        }
    }
    return files;
}

std::vector<std::string> dot_entries(const std::string &dir) {
    std::vector<std::string> found;
    for (const auto &entry : fs::recursive_directory_iterator(dir)) {
        if (entry.path().filename().string().starts_with(".")) {
            found.push_back(fs::relative(entry.path(), dir).string());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

ChunkCheck check_chunk_file(const std::string &path, const Bytes &old_bytes, uint8_t ore,
                            const std::vector<uint8_t> &replaceable) {
    ChunkCheck check;
    Bytes now;
    try {
        now = read_file(path);
    } catch (const std::exception &) {
        check.detail = "the file is gone";
        return check;
    }
    if (now == old_bytes) {
        check.state = ChunkState::Unchanged;
        return check;
    }
    if (now.size() < 18 || now[0] != 0x1F || now[1] != 0x8B) {
        check.detail = "rewritten, but not as a gzip stream";
        return check;
    }
    int status = 0;
    NbtDoc fresh = parse_nbt_file(path, &status);
    if (fresh == nullptr) {
        check.detail = "rewritten, but cannot be read back (status " + std::to_string(status) + ")";
        return check;
    }
    if (std::string why = chunk_shape_problem(fresh.get()); !why.empty()) {
        check.detail = "rewritten, but not a complete chunk: " + why;
        return check;
    }
    NbtDoc old = parse_nbt_bytes(old_bytes, &status);
    if (old == nullptr || !chunk_shape_problem(old.get()).empty()) {
        check.detail = "rewritten, although the old file held no readable chunk";
        return check;
    }
    bool may_replace[256] = {};
    for (uint8_t id : replaceable) {
        may_replace[id] = id != ore;
    }
    nbt_byte_array *before = level_array(old.get(), "Blocks", 32768);
    nbt_byte_array *after = level_array(fresh.get(), "Blocks", 32768);
    int candidates = 0;
    for (int i = 0; i < 32768; ++i) {
        candidates += may_replace[before->content[i]];
        if (after->content[i] == before->content[i]) {
            continue;
        }
        if (!may_replace[before->content[i]] || after->content[i] != ore) {
            check.detail = "block " + std::to_string(i) + " went from " +
                           std::to_string(before->content[i]) + " to " +
                           std::to_string(after->content[i]);
            return check;
        }
        ++check.placed;
    }
    if (candidates >= 4096 && check.placed == 0) {
        check.detail = "rewritten without any vein";
        return check;
    }
    // With the veins put back the trees must be equal: nothing else changed.
    std::memcpy(after->content, before->content, 32768);
    if (std::string diff = nbt_tree_difference(old->root, fresh->root); !diff.empty()) {
        check.detail = "rewritten with other changes: " + diff;
        return check;
    }
    check.state = ChunkState::Updated;
    return check;
}

std::map<std::string, std::vector<std::string>> messages_by_chunk(const std::string &err) {
    static const std::string kHead = "Updating chunk ";
    static const std::string kTail = "...";
    std::map<std::string, std::vector<std::string>> by_chunk;
    std::vector<std::string> *current = nullptr;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(kHead) && line.ends_with(kTail)) {
            const std::string name =
                line.substr(kHead.size(), line.size() - kHead.size() - kTail.size());
            current = &by_chunk[name];
        } else if (line == "World updated" || line.starts_with("World partly updated")) {
            current = nullptr;
        } else if (current != nullptr) {
            current->push_back(line);
        }
    }
    return by_chunk;
}
