// ca410-sim's entry point; the program itself is ca410_sim_main.
#include "sim_main.h"

int main(int argc, char **argv) {
    return ca410_sim_main(argc, argv);
}
