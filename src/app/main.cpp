#include "app/tarvelin.h"

int main(int argc, char** argv) { return TarvelinMain(argc, argv); }
