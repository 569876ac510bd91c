// Worlds saved one gzip file per chunk, under two levels of base-36
// folders: <world>/<a>/<b>/c.<x>.<z>.dat. Each chunk file is a unit.
#ifndef LODECAST_CHUNK_FILES_H
#define LODECAST_CHUNK_FILES_H

#include "lodecast/formats/world_format.h"

#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

class chunk_files_format : public world_format {
  public:
    // sorted: entries in name order (reports that must not depend on the
    // file system); otherwise in the order the folders list them.
    chunk_files_format(std::string root, bool sorted);
    ~chunk_files_format() override;
    chunk_files_format(const chunk_files_format &) = delete;
    chunk_files_format &operator=(const chunk_files_format &) = delete;

    // Opens the world folder. false with errno set when it cannot be.
    bool open();
    step next(std::unique_ptr<world_unit> &out, walk_hooks &hooks) override;

  private:
    // One folder being walked: a stream read as the walk goes, or (sorted,
    // and always for the folders holding chunks) the whole listing.
    struct folder {
        std::string path;
        std::string rel;
        struct stat st {};
        DIR *stream = nullptr;
        std::vector<std::string> names;
        size_t at = 0;
        bool listed = false;
        // The next entry name, or false at the end.
        bool next_name(std::string &name);
        void close();
    };
    bool enter(folder &f, const std::string &path, const std::string &rel, bool whole,
               walk_hooks &hooks, bool &stop);

    std::string root_;
    bool sorted_;
    folder levels_[3];
    int depth_ = 0; // folders open: 1 world, 2 level 1, 3 level 2
};

#endif
