# The fuzzers need libFuzzer, which comes with clang.
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER clang)
