# Shared by the two clang toolchains for Windows: clang and lld with the
# headers, C runtime and import libraries of mingw-w64 and the C++ runtime
# (libstdc++, libgcc, crtbegin.o/crtend.o) of the -posix GCC cross compiler
# (GoogleTest needs std::mutex). Clang does not find that GCC by itself (its
# version folder, 12-posix, is not a version number to it), so the folders
# are given: the C++ headers before clang's own, crtbegin.o/crtend.o by -B,
# the libraries by -L (-nostdinc++ does nothing when CMake links with the
# same flags, and says nothing then). Clang's default exception model for the target is
# the runtime's: DWARF unwind tables on i686, SEH on x86-64.
# Everything is linked statically so that the programs import only system
# DLLs, and Wine runs them for CTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${QUILLON_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${QUILLON_MINGW_TRIPLE})
set(CMAKE_SYSROOT /usr/${QUILLON_MINGW_TRIPLE})
# Bitcode objects (-flto) need archives with an index that lld can read.
set(CMAKE_AR llvm-ar CACHE FILEPATH "")
set(CMAKE_RANLIB llvm-ranlib CACHE FILEPATH "")
set(CMAKE_RC_COMPILER ${QUILLON_MINGW_TRIPLE}-windres)

file(GLOB QUILLON_MINGW_RUNTIME_DIR LIST_DIRECTORIES true /usr/lib/gcc/${QUILLON_MINGW_TRIPLE}/*-posix)
list(SORT QUILLON_MINGW_RUNTIME_DIR COMPARE NATURAL ORDER DESCENDING)
list(GET QUILLON_MINGW_RUNTIME_DIR 0 QUILLON_MINGW_RUNTIME_DIR)
set(QUILLON_MINGW_RUNTIME_DIR ${QUILLON_MINGW_RUNTIME_DIR} CACHE INTERNAL "GCC's C++ runtime for ${QUILLON_MINGW_TRIPLE}")
set(headers ${QUILLON_MINGW_RUNTIME_DIR}/include/c++)
set(CMAKE_CXX_FLAGS_INIT "--start-no-unused-arguments -nostdinc++ --end-no-unused-arguments -isystem ${headers} -isystem ${headers}/${QUILLON_MINGW_TRIPLE} -isystem ${headers}/backward")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -static -B${QUILLON_MINGW_RUNTIME_DIR}/")
# The runtime's folder comes after every target's own library folders, so
# that a target can link another build of the runtime (app/CMakeLists.txt);
# the POSIX threads library that this runtime calls (GCC links it into every
# program, clang only with -pthread; nothing of it is linked where nothing
# calls it); and the libraries that CMake links into every Windows program,
# whose platform file would otherwise set this list without the rest.
foreach(lang C CXX)
  set(CMAKE_${lang}_STANDARD_LIBRARIES "-L${QUILLON_MINGW_RUNTIME_DIR} -lpthread -lkernel32 -luser32 -lgdi32 -lwinspool -lshell32 -lole32 -loleaut32 -luuid -lcomdlg32 -ladvapi32"
    CACHE STRING "Libraries linked into every ${lang} program")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLON_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
