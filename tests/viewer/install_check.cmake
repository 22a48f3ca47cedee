# cmake --install into a scratch prefix: tarvo-view beside tarvo, its menu
# entry, and the installed program drawing a run as a user starts it.
#   cmake -DBUILD_DIR=... -DWORK=... -P install_check.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/run")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${WORK}/prefix"
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${err}")
endif()
foreach(f bin/tarvo-view share/applications/tarvo-view.desktop)
  if(NOT EXISTS "${WORK}/prefix/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

# The menu entry starts the viewer by its name (on a file, from a file
# manager), with the recorder's icon.
file(STRINGS "${WORK}/prefix/share/applications/tarvo-view.desktop" entry)
foreach(line "[Desktop Entry]" "Type=Application" "Exec=tarvo-view %f" "Icon=tarvo")
  list(FIND entry "${line}" at)
  if(at LESS 0)
    message(FATAL_ERROR "tarvo-view.desktop lacks '${line}'")
  endif()
endforeach()
find_program(validate desktop-file-validate)
if(validate)
  execute_process(COMMAND "${validate}" "${WORK}/prefix/share/applications/tarvo-view.desktop"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "desktop-file-validate: ${out}")
  endif()
endif()

# The installed program draws a run in the folder it starts in (the default
# PATH), without a display.
file(WRITE "${WORK}/run/data.txt" "100,200,1\n300,400,2\n500,600,3\n")
execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM
                        "${WORK}/prefix/bin/tarvo-view" --screenshot shot.png
                WORKING_DIRECTORY "${WORK}/run" RESULT_VARIABLE rc
                OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
if(NOT rc EQUAL 0 OR NOT EXISTS "${WORK}/run/shot.png")
  message(FATAL_ERROR "the installed tarvo-view ended with ${rc}: ${err}")
endif()
file(REMOVE_RECURSE "${WORK}")
