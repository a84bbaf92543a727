# What a user downloads, made with CPack from the install rules below:
#   Windows build: Velmo-Starter-<version>-win64.zip (or -win32) with
#                  Velmo-Starter.exe, velmo-umlaute.exe, LIESMICH.txt and the
#                  license as LIZENZ.txt, nothing else;
#   Linux build:   the Debian package of velmo-umlaute with its man page and
#                  the license in its copyright file.
# tools/release builds both and writes SHA256SUMS beside them.
#
# The packages are reproducible: the programs hold no build path, date or link
# time (see the top CMakeLists.txt), the files are installed with fixed modes,
# and CPack stamps every archive member with SOURCE_DATE_EPOCH (tools/release
# sets it to the commit's time).

# Installing never builds anything first: tools/release builds exactly the
# shipped programs, not every test and benchmark of the build folder.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Velmo-Starter")
# Whoever publishes the packages puts their name and address here
# (-DVELMO_PACKAGE_MAINTAINER="Name <address>").
set(VELMO_PACKAGE_MAINTAINER "Velmo-Starter <velmo-starter@example.org>" CACHE STRING
    "Maintainer named in the Debian package: Name <address>")
set(CPACK_PACKAGE_CONTACT "${VELMO_PACKAGE_MAINTAINER}")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# No source package: the sources are the git repository.
set(CPACK_SOURCE_GENERATOR "")

# Release builds ship without symbols: set here, once, for the shipped programs.
foreach(program IN ITEMS Velmo-Starter velmo-umlaute)
  if(TARGET ${program})
    target_link_options(${program} PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
  endif()
endforeach()

if(WIN32)
  # One flat folder: a user unpacks it anywhere and starts the program from there.
  install(TARGETS Velmo-Starter RUNTIME DESTINATION .)
  if(TARGET velmo-umlaute)
    install(TARGETS velmo-umlaute RUNTIME DESTINATION .)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/resources/LIESMICH.txt DESTINATION .)
  # The license beside the programs, with Windows line ends so Notepad shows it.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE velmo_license)
  string(REPLACE "\n" "\r\n" velmo_license "${velmo_license}")
  file(WRITE ${PROJECT_BINARY_DIR}/LIZENZ.txt "${velmo_license}")
  install(FILES ${PROJECT_BINARY_DIR}/LIZENZ.txt DESTINATION .)

  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(velmo_platform win32)
  else()
    set(velmo_platform win64)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME Velmo-Starter)
  set(CPACK_PACKAGE_FILE_NAME Velmo-Starter-${PROJECT_VERSION}-${velmo_platform})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  include(CPack)

  # The version records of the Windows programs must show the one version number.
  if(VELMO_TESTS)
    foreach(program IN ITEMS Velmo-Starter velmo-umlaute)
      if(TARGET ${program})
        add_test(NAME version_record_${program}
                 COMMAND python3 ${PROJECT_SOURCE_DIR}/tests/release/pe_version.py
                         $<TARGET_FILE:${program}> --expect ${PROJECT_VERSION})
      endif()
    endforeach()
  endif()
elseif(TARGET velmo-umlaute AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  include(GNUInstallDirs)
  install(TARGETS velmo-umlaute RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # The man page, written once in German; its header carries the version.
  # gzip -n keeps the name and time of the file out of the compressed page.
  set(velmo_man ${PROJECT_BINARY_DIR}/man/velmo-umlaute.1)
  include(${PROJECT_SOURCE_DIR}/cmake/ManOptions.cmake)
  velmo_man_options(${PROJECT_SOURCE_DIR}/cli/Flags.def VELMO_MAN_OPTIONS)
  configure_file(${PROJECT_SOURCE_DIR}/resources/velmo-umlaute.1.in ${velmo_man} @ONLY)
  add_custom_command(OUTPUT ${velmo_man}.gz
                     COMMAND gzip -9 -n -f -k ${velmo_man}
                     DEPENDS ${velmo_man}
                     COMMENT "Compressing the man page")
  add_custom_target(velmo_man_page ALL DEPENDS ${velmo_man}.gz)
  install(FILES ${velmo_man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  # Debian's documentation files: the machine-readable copyright, and the
  # changelog of this native package, dated by the release's commit
  # (SOURCE_DATE_EPOCH, which string(TIMESTAMP) follows), compressed without
  # name or time.
  string(TIMESTAMP VELMO_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  set(velmo_changelog ${PROJECT_BINARY_DIR}/debian/changelog)
  configure_file(${PROJECT_SOURCE_DIR}/resources/debian/changelog.in ${velmo_changelog} @ONLY)
  add_custom_command(OUTPUT ${velmo_changelog}.gz
                     COMMAND gzip -9 -n -f -k ${velmo_changelog}
                     DEPENDS ${velmo_changelog}
                     COMMENT "Compressing the changelog")
  add_custom_target(velmo_changelog ALL DEPENDS ${velmo_changelog}.gz)
  set(velmo_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/velmo-umlaute)
  install(FILES ${velmo_changelog}.gz ${PROJECT_SOURCE_DIR}/resources/debian/copyright
          DESTINATION ${velmo_doc})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME velmo-umlaute)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "Umlaute in Lua-Skripten für Velmoria umwandeln")
  # The summary above is the description's first line; this is the rest.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "velmo-umlaute wandelt die Umlaute ä ö ü ß Ä Ö Ü in Lua-Skripten und ganzen
Kartenordnern in die Form um, die Velmoria erwartet, oder zurück. Jede Datei
wird sicher ersetzt, auf Wunsch mit Sicherung; kompilierte Skripte und
UTF-16-Dateien bleiben unberührt. Auch als Prüfung in Git-Hooks und als
Git-Filter verwendbar.")
  include(CPack)
endif()
