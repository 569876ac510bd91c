#include "lodecast/program.h"

int main(int argc, char **argv) {
    return run_lodecast(argc, argv);
}
