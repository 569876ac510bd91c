#include "nbt/nbt_io.h"

#include <cstdlib>

extern "C" void nbt_buffer_free(nbt_buffer *b) {
    if (b == nullptr) {
        return;
    }
    std::free(b->data);
    *b = nbt_buffer{};
}
