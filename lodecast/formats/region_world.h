// Worlds saved in region files: <dimension>/region/r.<rx>.<rz>.mcr (flat
// chunks) or .mca (sectioned chunks), each holding up to 32 x 32 chunk
// documents as compressed records. Each region
// file is a unit: its chunks are the slots that hold a record, in slot
// order; region files are walked in order of rx, then rz.
#ifndef LODECAST_REGION_WORLD_H
#define LODECAST_REGION_WORLD_H

#include "lodecast/formats/chunk_document.h"
#include "lodecast/formats/region_file.h"
#include "lodecast/formats/world_format.h"

#include <string>
#include <vector>

class region_world_format : public world_format {
  public:
    // folder: the region folder; rel: how messages name it, relative to the
    // world ("region", "DIM-1/region"); only files of ext are walked, and a
    // sectioned chunk whose sections the tool does not understand is
    // refused when loaded.
    region_world_format(std::string folder, std::string rel, region::extension ext,
                        chunk_shape shape = chunk_shape::flat);

    // Lists the folder. false with errno set when it cannot be.
    bool open();
    step next(std::unique_ptr<world_unit> &out, walk_hooks &hooks) override;

  private:
    struct entry {
        int32_t rx;
        int32_t rz;
        std::string name;
    };
    std::string folder_;
    std::string rel_;
    region::extension ext_;
    chunk_shape shape_;
    std::vector<entry> files_;
    size_t at_ = 0;
};

#endif
