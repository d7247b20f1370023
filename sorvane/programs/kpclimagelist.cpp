// The kpclimagelist command program.
#include "kpprograms.h"

int main(int argc, char **argv) {
    return kpclimagelist_main(argc, argv);
}
