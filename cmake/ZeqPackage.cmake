# The packages, made by CPack with the build's "package" target. On Linux a
# Debian package: both programs in /usr/lib/fieldloader (an engineer copies
# them into each release folder, since the installer reads the release beside
# itself), the polkit action that lets pkexec start the helper from there,
# a manual page for each program, and the documents Debian asks for. On
# Windows a zip of both programs and a sample manifest, the start of a
# release folder.
set(CPACK_PACKAGE_NAME fieldloader)
set(CPACK_PACKAGE_VENDOR "Tarvo")
set(CPACK_PACKAGE_CONTACT "Tarvo Field Tools <fieldtools@tarvo.example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "installer that loads a release onto many Tarvo units at once")
set(CPACK_STRIP_FILES ON)
set(package_docs ${CMAKE_CURRENT_SOURCE_DIR}/doc/package)

if(WIN32)
  install(TARGETS fieldloader pathkeeper RUNTIME DESTINATION .)
  install(FILES ${package_docs}/ftpdwnld.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME fieldloader-${PROJECT_VERSION}-windows-x86_64)
else()
  # Debian wants manual pages and the changelog compressed, reproducibly.
  set(compressed)
  foreach(source doc/man/fieldloader.1 doc/man/pathkeeper.8 doc/package/changelog)
    get_filename_component(name ${source} NAME)
    set(output ${CMAKE_CURRENT_BINARY_DIR}/package/${name}.gz)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/package
      COMMAND sh -c "gzip -9n -c \"$0\" >\"$1\"" ${CMAKE_CURRENT_SOURCE_DIR}/${source} ${output}
      DEPENDS ${source} VERBATIM)
    list(APPEND compressed ${output})
  endforeach()
  add_custom_target(package_documents ALL DEPENDS ${compressed})

  set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
      GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  install(TARGETS fieldloader pathkeeper RUNTIME DESTINATION lib/fieldloader)
  # fieldloader on PATH: a relative link in /usr/bin to the program, which
  # stays beside its helper. Started through the link, the program still
  # finds itself in /usr/lib/fieldloader and works on the current folder.
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/package/bin)
  file(CREATE_LINK ../lib/fieldloader/fieldloader ${CMAKE_CURRENT_BINARY_DIR}/package/bin/fieldloader
       SYMBOLIC)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/package/bin/fieldloader DESTINATION bin)
  install(FILES routehelper/linux/org.tarvo.pathkeeper.policy DESTINATION share/polkit-1/actions)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/package/fieldloader.1.gz DESTINATION share/man/man1)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/package/pathkeeper.8.gz DESTINATION share/man/man8)
  install(FILES ${package_docs}/copyright ${CMAKE_CURRENT_BINARY_DIR}/package/changelog.gz
          DESTINATION share/doc/fieldloader)
  install(FILES ${package_docs}/ftpdwnld.txt DESTINATION share/doc/fieldloader/examples)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pkexec")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xdg-utils")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The extended description; CPack puts the summary line in front.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "fieldloader reads the release manifest (ftpdwnld.txt) of the current folder
(cd /path/to/release && fieldloader) or of --release DIR, finds the
Tarvo units on the local network, and installs every selected unit in
parallel over telnet and the units' file protocol, showing each unit's
progress and result in a text UI. pathkeeper, its route helper, adds host
routes to units on other subnets; it runs as root through pkexec.")
endif()
include(CPack)
