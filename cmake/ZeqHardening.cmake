# Hardened programs on both platforms. Release builds (the packages) get
# buffer-overflow checks of the C library's string and memory calls and a
# stack protector for every function with a local array or address-taken
# local. Every Linux program is position independent with read-only
# relocations resolved at start; every Windows program asks for address
# space randomisation (64-bit), non-executable data and is relocatable.
#
# The sanitizer builds keep their own instrumentation: _FORTIFY_SOURCE needs
# optimisation and would hide the very accesses AddressSanitizer checks.
if(CMAKE_BUILD_TYPE STREQUAL "Release")
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
    set(zeq_fortify_level 3)
  else()
    set(zeq_fortify_level 2)
  endif()
  add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=${zeq_fortify_level}
                      -fstack-protector-strong)
  # mingw-w64 has the checking functions in GCC's libssp, linked statically
  # with the rest of the runtime.
  add_link_options(-fstack-protector-strong)
  if(WIN32)
    link_libraries(-Wl,-Bstatic ssp)
  endif()
endif()

if(WIN32)
  add_link_options(-Wl,--dynamicbase,--nxcompat,--high-entropy-va)
else()
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  include(CheckPIESupported)
  check_pie_supported()
  add_link_options(-Wl,-z,relro,-z,now)
endif()
