// The kplist command program.
#include "kpprograms.h"

int main(int argc, char **argv) {
    return kplist_main(argc, argv);
}
