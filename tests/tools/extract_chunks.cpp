// extract_chunks <from.mca> <to.mca> <slot>...: a region file holding only
// the given slots of another, each record's sectors and timestamp copied
// byte for byte. How the test data of real worlds was cut down to size.
#include "lodecast/formats/region_file.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: extract_chunks <from.mca> <to.mca> <slot>...\n");
        return 2;
    }
    const int in = open(argv[1], O_RDONLY);
    region::reader reader;
    if (in < 0 || reader.open(in) != region::open_result::ok) {
        std::fprintf(stderr, "%s: cannot read\n", argv[1]);
        return 1;
    }
    const int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    region::fd_sink sink(out);
    region::writer writer(sink);
    std::vector<unsigned char> raw;
    for (int i = 3; i < argc; ++i) {
        const int slot = std::atoi(argv[i]);
        if (reader.state(slot) != region::status::ok ||
            reader.read_raw(slot, raw) != region::status::ok ||
            writer.add_raw(slot, raw.data(), reader.location_of(slot).sectors,
                           reader.timestamp(slot)) != region::write_result::ok) {
            std::fprintf(stderr, "%s: slot %d not copied\n", argv[1], slot);
            return 1;
        }
    }
    if (out < 0 || writer.finish() != region::write_result::ok || close(out) != 0) {
        std::fprintf(stderr, "%s: cannot write\n", argv[2]);
        return 1;
    }
    return 0;
}
