// The kparchive command program.
#include "kpprograms.h"

int main(int argc, char **argv) {
    return kparchive_main(argc, argv);
}
