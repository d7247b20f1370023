// The kprestore command program.
#include "kpprograms.h"

int main(int argc, char **argv) {
    return kprestore_main(argc, argv);
}
