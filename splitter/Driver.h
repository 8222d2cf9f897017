// The program from its banner to its exit code.
#pragma once

namespace Splitter {

// Exit codes of a run.
enum EExitCode : int {
    kExitDone = 0,
    kExitUsage = 1,       // no arguments, or the options were rejected
    kExitBadInput = 2,    // the input is not a readable PBF file
    kExitNoAreas = 3,     // areas could not be loaded, or none resulted
    kExitPassFailed = 4,  // an output file could not be created, or bad areas
    kExitIoFailure = 5,   // a read, write or memory failure
};

// Runs the whole program on the arguments after the program name.
int RunSplitter(const char* const* arguments, int count);

}  // namespace Splitter
