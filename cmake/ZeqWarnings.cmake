# Warnings are errors on both platforms.
add_compile_options(-Wall -Wextra -Werror)
if(WIN32)
  # The product is one static executable: wine then needs no DLL paths.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()
