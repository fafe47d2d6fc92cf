#include "shell/Startup.h"

int main(int argc, char** argv) {
    return halvoric::Main(argc, argv);
}
