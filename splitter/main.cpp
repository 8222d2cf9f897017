#include "common/base/HelperThread.h"
#include "splitter/Driver.h"

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

int main(int argc, char** argv)
{
#if defined(M_ARENA_MAX)
    // Threads hand buffers to one another (a file's pending block is freed by
    // the thread that compresses it), and an arena a thread keeps a
    // high-water mark of its own: 10 MiB more at 256 tiles. Two arenas save
    // most of that, and spare the threads one lock for all.
    mallopt(M_ARENA_MAX, 2);
#endif
    // Before any other thread: the second thread of the clipping and of the
    // automatic split, with the arena the main thread does not use.
    CHelperThread helper;
    return Splitter::RunSplitter(argv + 1, argc - 1);
}
