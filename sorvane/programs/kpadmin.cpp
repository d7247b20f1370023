// The kpadmin command program.
#include "kpprograms.h"

int main(int argc, char **argv) {
    return kpadmin_main(argc, argv);
}
