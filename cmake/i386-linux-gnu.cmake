# Builds the 32-bit x86 program on an x86-64 Debian host from its i386
# multiarch packages (g++-multilib, zlib1g-dev:i386, libdeflate-dev:i386,
# libzstd-dev:i386, liblz4-dev:i386, libprotobuf-dev:i386, libgtest-dev:i386);
# the header-only protozero is the host's.
# SSE2 arithmetic makes doubles round as on x86-64, so both programs write
# the same bytes. protoc stays the host's; the test programs run through
# qemu-i386 (qemu-user), as ctest and gtest_discover_tests do for every
# target while cross-compiling.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-m32")
endforeach()

set(Protobuf_PROTOC_EXECUTABLE /usr/bin/protoc CACHE FILEPATH "The host's protoc")
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-i386 CACHE STRING "Runs the i386 programs")
