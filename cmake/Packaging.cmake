# Installation (GNU layout, so a distribution can package the programs its own way) and the
# Debian package. Included at the end of the top-level list file, once every target exists.
include(GNUInstallDirs)

# The Debian layout adds what the Debian policy asks of a package: the manual pages and the
# change log compressed, and the copyright file. Distributions packaging with their own
# tools leave it off and compress as they like.
option(MARVANE_DEBIAN_LAYOUT "Install compressed manual pages, change log and copyright file" OFF)

set(marvane_programs marvanecfgutil-sim)
if(TARGET marvanecfgutil)
  list(PREPEND marvane_programs marvanecfgutil)
endif()
install(TARGETS ${marvane_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(marvane_docs ${CMAKE_SOURCE_DIR}/docs)
install(FILES ${marvane_docs}/marvanecfgutil-guide.txt DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(NOT MARVANE_DEBIAN_LAYOUT)
  install(FILES ${marvane_docs}/marvanecfgutil.1 ${marvane_docs}/marvanecfgutil-sim.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${marvane_docs}/changelog DESTINATION ${CMAKE_INSTALL_DOCDIR})
  return()
endif()

# gzip -n: no name and no time stamp in the header, so the package stays reproducible.
find_program(MARVANE_GZIP gzip REQUIRED)
set(compressed_dir ${CMAKE_BINARY_DIR}/compressed)
set(compressed)
foreach(source marvanecfgutil.1 marvanecfgutil-sim.1 changelog)
  set(output ${compressed_dir}/${source}.gz)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E copy ${marvane_docs}/${source} ${compressed_dir}/${source}
    COMMAND ${MARVANE_GZIP} -9nf ${compressed_dir}/${source}
    DEPENDS ${marvane_docs}/${source}
    VERBATIM)
  list(APPEND compressed ${output})
endforeach()
add_custom_target(marvane_compressed_docs ALL DEPENDS ${compressed})
install(FILES ${compressed_dir}/marvanecfgutil.1.gz ${compressed_dir}/marvanecfgutil-sim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${compressed_dir}/changelog.gz ${marvane_docs}/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package: everything installed above, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME marvanecfgutil)
set(CPACK_PACKAGE_VENDOR Marvane)
set(CPACK_PACKAGE_CONTACT "Marvane support <support@marvane.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "settings utility for Marvane point-of-sale touch monitors")
# The extended description; CPack indents it and takes the synopsis from the summary.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "marvanecfgutil reads and writes the 17 hardware settings of Marvane
point-of-sale touch monitors attached over USB HID (volume, brightness,
remote power control, beep-on-touch, POS tones, icon brightness and the
OSD menu locks). Settings travel as INI files, so one file can be applied
to the monitors of many terminals from a script.

marvanecfgutil-sim is the same program working on simulated monitors, to
try every mode without hardware.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends computed from the programs' shared libraries by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
