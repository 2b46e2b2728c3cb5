# Warnings are errors on both platforms.
add_compile_options(-Wall -Wextra -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12 reports -Wrestrict for plain std::string concatenation at -O3
  # (a known false positive in its string inlining).
  add_compile_options(-Wno-restrict)
endif()
if(WIN32)
  # The product is one static executable: wine then needs no DLL paths.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()
