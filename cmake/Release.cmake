# Release builds: optimised, stripped and reproducible. Two builds of the same commit, in
# any directories, give the same bytes: no build paths (prefix maps), no link time stamp in
# the Windows PE header, no debug sections. Included before any target is defined.
option(MARVANE_RELEASE "Optimised, stripped, reproducible release build" OFF)

if(MARVANE_RELEASE)
  add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=
                      -ffile-prefix-map=${CMAKE_BINARY_DIR}/=
                      -ffunction-sections -fdata-sections)
  add_link_options(-s -Wl,--gc-sections)
  if(WIN32)
    add_link_options(-Wl,--no-insert-timestamp)
  else()
    # The hardening a distribution expects of a program that runs as root.
    add_compile_definitions(_FORTIFY_SOURCE=2)
    add_compile_options(-fstack-protector-strong -fstack-clash-protection -fcf-protection)
    add_link_options(-Wl,-z,relro -Wl,-z,now)
  endif()
endif()
