// The library's staged file as the region writer's sink: a region file is
// laid out straight into the temporary file that will replace the old one.
#ifndef LODECAST_STAGED_SINK_H
#define LODECAST_STAGED_SINK_H

#include "durable/durable.h"
#include "lodecast/formats/region_file.h"

class staged_sink : public region::sink {
  public:
    explicit staged_sink(durable_staged *s) : s_(s) {}
    bool append(const void *data, size_t n) override {
        return durable_stage_write(s_, data, n) == DURABLE_OK;
    }
    bool write_at(uint64_t offset, const void *data, size_t n) override {
        return durable_stage_pwrite(s_, data, n, offset) == DURABLE_OK;
    }

  private:
    durable_staged *s_;
};

#endif
