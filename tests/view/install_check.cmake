# cmake --install into a scratch prefix, then the installed program run as a
# user starts it: from another directory, finding tarvo.uir beside itself.
#   cmake -DBUILD_DIR=... -DWORK=... -P install_check.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/run")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${WORK}/prefix"
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${err}")
endif()

foreach(f bin/tarvo bin/tarvo.uir share/applications/tarvo.desktop
          share/icons/hicolor/scalable/apps/tarvo.svg)
  if(NOT EXISTS "${WORK}/prefix/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

# The menu entry starts the program by its name, with the installed icon.
file(STRINGS "${WORK}/prefix/share/applications/tarvo.desktop" entry)
foreach(line "[Desktop Entry]" "Type=Application" "Exec=tarvo" "Icon=tarvo")
  list(FIND entry "${line}" at)
  if(at LESS 0)
    message(FATAL_ERROR "tarvo.desktop lacks '${line}'")
  endif()
endforeach()
find_program(validate desktop-file-validate)
if(validate)
  execute_process(COMMAND "${validate}" "${WORK}/prefix/share/applications/tarvo.desktop"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "desktop-file-validate: ${out}")
  endif()
endif()
file(READ "${WORK}/prefix/share/icons/hicolor/scalable/apps/tarvo.svg" icon)
if(NOT icon MATCHES "<svg")
  message(FATAL_ERROR "tarvo.svg is no SVG image")
endif()

# The installed program loads its panel (a missing one ends it with 255).
file(WRITE "${WORK}/run/quit.txt" "press quit\n")
execute_process(COMMAND "${WORK}/prefix/bin/tarvo" -platform offscreen --script quit.txt
                WORKING_DIRECTORY "${WORK}/run" RESULT_VARIABLE rc
                OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 30)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the installed tarvo ended with ${rc}: ${err}")
endif()
execute_process(COMMAND "${WORK}/prefix/bin/tarvo" --help OUTPUT_VARIABLE help RESULT_VARIABLE rc TIMEOUT 30)
if(NOT rc EQUAL 0 OR NOT help MATCHES "--no-chart")
  message(FATAL_ERROR "tarvo --help: status ${rc}, no --no-chart in:\n${help}")
endif()
file(REMOVE_RECURSE "${WORK}")
