# Installs into a scratch prefix and checks that a desktop finds everything.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}" RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
foreach(f bin/trailcrafter-gnis bin/gnis-convert share/applications/trailcrafter-gnis.desktop
          share/icons/hicolor/32x32/apps/trailcrafter-gnis.png share/icons/hicolor/256x256/apps/trailcrafter-gnis.png
          share/man/man1/gnis-convert.1 share/bash-completion/completions/gnis-convert
          share/metainfo/org.example.trailcrafter.gnis.metainfo.xml ${EXTRA})
  if(NOT EXISTS "${PREFIX}/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(READ "${PREFIX}/share/applications/trailcrafter-gnis.desktop" desktop)
if(NOT desktop MATCHES "Exec=trailcrafter-gnis" OR NOT desktop MATCHES "Icon=trailcrafter-gnis")
  message(FATAL_ERROR "the .desktop entry does not start the program with its icon")
endif()
message(STATUS "installed layout complete")
