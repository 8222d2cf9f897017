#include "splitter/Driver.h"

int main(int argc, char** argv) { return RunSplitter(argv + 1, argc - 1); }
