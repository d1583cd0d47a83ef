# What `cmake --install` puts under the prefix: the shared library, every
# public header under include/vantelrfid/, the tool and the simulator with
# their manual pages, a pkg-config file and a CMake package configuration
# (find_package(VantelRfid) -> VantelRfid::vantelrfid).
include(CMakePackageConfigHelpers)

set(VR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VantelRfid)
set(VR_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Every header of include/ is public; a new one is installed without an
# edit here.
file(GLOB VR_PUBLIC_HEADERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/include/*.h)
install(FILES ${VR_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vantelrfid)

install(TARGETS vantelrfid EXPORT VantelRfidTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
# The tool finds the library beside it wherever the prefix lands, and the
# simulator in its own directory.
set_target_properties(vantel-rfid PROPERTIES
  INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
install(TARGETS vantel-rfid vantel-rfid-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(EXPORT VantelRfidTargets NAMESPACE VantelRfid:: DESTINATION ${VR_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/VantelRfidConfig.cmake.in
  ${CMAKE_BINARY_DIR}/cmake/VantelRfidConfig.cmake INSTALL_DESTINATION ${VR_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/VantelRfidConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/cmake/VantelRfidConfig.cmake
              ${CMAKE_BINARY_DIR}/cmake/VantelRfidConfigVersion.cmake
        DESTINATION ${VR_CMAKE_DIR})

# The pkg-config file finds the prefix from its own place, so a tree
# installed with `cmake --install --prefix DIR` works where it lands.
file(RELATIVE_PATH VR_PC_TO_PREFIX /${VR_PKGCONFIG_DIR} /)
string(REGEX REPLACE "/$" "" VR_PC_TO_PREFIX "${VR_PC_TO_PREFIX}")
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(VR_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(VR_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/cmake/vantelrfid.pc.in ${CMAKE_BINARY_DIR}/vantelrfid.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/vantelrfid.pc DESTINATION ${VR_PKGCONFIG_DIR})

# Manual pages, made from the programs' own help (cmake/man_page.sh).
set(VR_MAN_DIR ${CMAKE_BINARY_DIR}/man/man1)
set(VR_MAN_PAGES)
foreach(program vantel-rfid vantel-rfid-sim)
  if(program STREQUAL "vantel-rfid")
    set(summary "drive a 13.56 MHz contactless card reader")
  else()
    set(summary "a simulated 13.56 MHz card reader on a pseudo-terminal")
  endif()
  add_custom_command(OUTPUT ${VR_MAN_DIR}/${program}.1
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VR_MAN_DIR}
    COMMAND sh ${CMAKE_SOURCE_DIR}/cmake/man_page.sh $<TARGET_FILE:${program}> ${program}
            ${PROJECT_VERSION} ${summary} ${VR_MAN_DIR}/${program}.1
    DEPENDS ${program} ${CMAKE_SOURCE_DIR}/cmake/man_page.sh ${CMAKE_SOURCE_DIR}/cmake/man_page.awk
    VERBATIM)
  list(APPEND VR_MAN_PAGES ${VR_MAN_DIR}/${program}.1)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${VR_MAN_PAGES})
install(FILES ${VR_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The udev rule that lets users open the USB readers. It goes beside the
# other shared files, not into udev's own directory: enabling it is the
# administrator's step (`usb list` says how).
install(FILES ${VR_UDEV_RULE_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/vantel-rfid)
