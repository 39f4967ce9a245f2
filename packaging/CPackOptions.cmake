# Read by cpack for each generator.
if(CPACK_GENERATOR STREQUAL "DEB")
  # The install code puts the configuration under /etc, outside the prefix.
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # Without these cpack still writes a package, whose Depends lacks every
  # library: one that installs but cannot start.
  foreach(tool file dpkg-shlibdeps)
    find_program(torvex_${tool} ${tool})
    if(NOT torvex_${tool})
      message(FATAL_ERROR "${tool} is missing: apt-get install file dpkg-dev")
    endif()
  endforeach()
endif()
