#include "splitter/Driver.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

int main(int argc, char** argv)
{
#if defined(M_ARENA_MAX)
    // Threads hand buffers to one another (a file's pending block is freed by
    // the thread that compresses it). One arena lets every thread reuse what
    // another freed, where an arena a thread keeps a high-water mark each.
    mallopt(M_ARENA_MAX, 1);
#endif
    return Splitter::RunSplitter(argv + 1, argc - 1);
}
