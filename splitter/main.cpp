#include "splitter/Driver.h"

int main(int argc, char** argv) { return Splitter::RunSplitter(argv + 1, argc - 1); }
