/* A program outside the project using the installed lodecast-nbt library:
 * prints the size of the block array of the chunk file it is given.
 * CI builds it through pkg-config against the unpacked Debian package. */
#include <nbt/nbt.h>

#include <stdio.h>

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: use_library <chunk file>\n");
        return 2;
    }
    nbt_file *file = NULL;
    if (nbt_init(&file) != NBT_OK || nbt_parse(file, argv[1]) != NBT_OK) {
        fprintf(stderr, "use_library: cannot read %s\n", argv[1]);
        if (file != NULL) {
            nbt_free(file);
        }
        return 1;
    }
    nbt_tag *level = file->root ? nbt_find_tag_by_name("Level", file->root) : NULL;
    nbt_tag *blocks = level ? nbt_find_tag_by_name("Blocks", level) : NULL;
    nbt_byte_array *array = blocks ? nbt_cast_byte_array(blocks) : NULL;
    int status = 1;
    if (array != NULL) {
        printf("Blocks: %d\n", (int)array->length);
        status = 0;
    }
    nbt_free(file);
    return status;
}
