/* Uses the installed lodecast-nbt library from outside the project (CI builds
 * it through pkg-config): prints the size of a chunk file's block array. */
#include <nbt/nbt.h>
#include <stdio.h>

int main(int argc, char **argv) {
    nbt_file *file = NULL;
    if (argc != 2 || nbt_init(&file) != NBT_OK || nbt_parse(file, argv[1]) != NBT_OK) {
        fprintf(stderr, "use_library: cannot read the chunk file\n");
        return 1;
    }
    nbt_tag *level = file->root ? nbt_find_tag_by_name("Level", file->root) : NULL;
    nbt_tag *blocks = level ? nbt_find_tag_by_name("Blocks", level) : NULL;
    nbt_byte_array *array = blocks ? nbt_cast_byte_array(blocks) : NULL;
    printf("Blocks: %d\n", array ? (int)array->length : -1);
    nbt_free(file);
    return 0;
}
