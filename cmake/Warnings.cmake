# Every target of the project compiles with warnings as errors.
add_compile_options(-Wall -Wextra -Werror)

# GCC 12 at -O3 reports -Wrestrict inside libstdc++'s inlined string
# concatenation ("x" + std::string) where no overlap is possible (GCC bug
# 105651, fixed in GCC 13); without this a Release build stops on it.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options(-Wno-restrict)
endif()
