// The kphdb command program.
#include "kpprograms.h"

int main(int argc, char **argv) {
    return kphdb_main(argc, argv);
}
