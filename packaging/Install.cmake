# Installation and the Debian package, for the programs in TORVEX_PROGRAMS.
#
# Under the prefix:
#   lib/bootloadertorvexii/   the programs, and BootLoaderTorvexII.ini: a link to
#                             the configuration, since the programs read it
#                             beside their own real location
#   bin/                      relative links to the programs
#   etc/bootloadertorvexii/   the configuration file (/etc/bootloadertorvexii/
#                             for the prefix /usr); comN links made here are
#                             found too
#   share/                    manual pages, copyright, changelog, desktop
#                             entries and icons

set(TORVEX_APP_DIR lib/bootloadertorvexii)
set(TORVEX_PACKAGE bootloadertorvexii)
set(TORVEX_INI ${CMAKE_CURRENT_LIST_DIR}/BootLoaderTorvexII.ini)

install(TARGETS ${TORVEX_PROGRAMS} RUNTIME DESTINATION ${TORVEX_APP_DIR})
file(GLOB TORVEX_DESKTOP_ENTRIES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.desktop)
file(GLOB TORVEX_ICONS CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.svg)
install(FILES ${TORVEX_DESKTOP_ENTRIES} DESTINATION share/applications)
install(FILES ${TORVEX_ICONS} DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION share/doc/${TORVEX_PACKAGE})

if(WIN32)
  install(FILES ${TORVEX_INI} DESTINATION ${TORVEX_APP_DIR})
else()
  # Manual pages from each program's own --help (plus man/<program>.man when
  # present), so that they cannot drift from the programs.
  set(man_pages)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man)
  foreach(program IN LISTS TORVEX_PROGRAMS)
    set(others ${TORVEX_PROGRAMS})
    list(REMOVE_ITEM others ${program})
    set(extra ${CMAKE_CURRENT_LIST_DIR}/man/${program}.man)
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
    set(depends ${program} ${CMAKE_CURRENT_LIST_DIR}/manpage.sh)
    if(EXISTS ${extra})
      list(APPEND depends ${extra})
    endif()
    add_custom_command(OUTPUT ${page}
      COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/manpage.sh $<TARGET_FILE:${program}> ${program}
              ${PROJECT_VERSION} ${extra} ${page} ${others}
      DEPENDS ${depends}
      COMMENT "Manual page of ${program}" VERBATIM)
    list(APPEND man_pages ${page})
  endforeach()
  set(changelog ${CMAKE_BINARY_DIR}/man/changelog.gz)
  add_custom_command(OUTPUT ${changelog}
    COMMAND sh -c "gzip -9nc \"$0\" > \"$1\"" ${CMAKE_CURRENT_LIST_DIR}/changelog ${changelog}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog VERBATIM)
  add_custom_target(manpages ALL DEPENDS ${man_pages} ${changelog})
  install(FILES ${man_pages} DESTINATION share/man/man1)
  install(FILES ${changelog} DESTINATION share/doc/${TORVEX_PACKAGE})

  install(CODE "set(torvex_programs \"${TORVEX_PROGRAMS}\")
set(torvex_app_dir \"${TORVEX_APP_DIR}\")
set(torvex_ini \"${TORVEX_INI}\")")
  install(CODE [[
    set(root "$ENV{DESTDIR}")
    set(app "${root}${CMAKE_INSTALL_PREFIX}/${torvex_app_dir}")
    set(bin "${root}${CMAKE_INSTALL_PREFIX}/bin")
    if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
      # Debian's place; absolute, as /usr and /etc are separate trees.
      set(etc "/etc/bootloadertorvexii")
      set(ini_target "${etc}/BootLoaderTorvexII.ini")
    else()
      # Relative, so that an installed folder can be moved as a whole.
      set(etc "${CMAKE_INSTALL_PREFIX}/etc/bootloadertorvexii")
      set(ini_target "../../etc/bootloadertorvexii/BootLoaderTorvexII.ini")
    endif()
    if(root STREQUAL "" AND EXISTS "${etc}/BootLoaderTorvexII.ini")
      message(STATUS "Keeping: ${etc}/BootLoaderTorvexII.ini")
    else()
      file(INSTALL "${torvex_ini}" DESTINATION "${etc}")  # DESTDIR applies itself
    endif()
    message(STATUS "Installing: ${app}/BootLoaderTorvexII.ini -> ${ini_target}")
    file(REMOVE "${app}/BootLoaderTorvexII.ini")
    file(CREATE_LINK "${ini_target}" "${app}/BootLoaderTorvexII.ini" SYMBOLIC)
    file(MAKE_DIRECTORY "${bin}")
    foreach(program IN LISTS torvex_programs)
      message(STATUS "Installing: ${bin}/${program} -> ../${torvex_app_dir}/${program}")
      file(REMOVE "${bin}/${program}")
      file(CREATE_LINK "../${torvex_app_dir}/${program}" "${bin}/${program}" SYMBOLIC)
    endforeach()
  ]])
endif()

set(TORVEX_MAINTAINER "BootLoaderTorvexII maintainers <maintainers@bootloadertorvexii.org>"
    CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_NAME ${TORVEX_PACKAGE})
set(CPACK_PACKAGE_VENDOR "BootLoaderTorvexII")
set(CPACK_PACKAGE_CONTACT "${TORVEX_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for Torvex-II weighing indicators")
# Shown under the summary as the lines stand: keep them under 80 columns.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Writes firmware images into Torvex-II weighing indicators over a serial\n"
  "port. It includes a window (BootLoaderTorvexII), a command-line updater\n"
  "for one or many indicators at once (torvex-flash), a production station\n"
  "that updates many indicators side by side (torvex-station) and a\n"
  "simulated indicator for trying them without hardware (torvex-sim).")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR TGZ)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/CPackOptions.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# Depends: the libraries the programs link, computed by dpkg-shlibdeps, and
# the platform plugins the window loads at run time, which nothing links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# A port number edited on the machine survives upgrades.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/packaging/conffiles
  "/etc/bootloadertorvexii/BootLoaderTorvexII.ini\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_BINARY_DIR}/packaging/conffiles ${CMAKE_CURRENT_LIST_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
