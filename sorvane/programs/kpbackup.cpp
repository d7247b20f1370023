// The kpbackup command program.
#include "kpprograms.h"

int main(int argc, char **argv) {
    return kpbackup_main(argc, argv);
}
