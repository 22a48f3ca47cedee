# cmake --install into a scratch prefix, then the installed programs run as a
# user starts them: tarvo from another directory, finding tarvo.uir beside
# itself; tarvo-view drawing the run in the folder it starts in.
#   cmake -DBUILD_DIR=... -DWORK=... -P install_check.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/run")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${WORK}/prefix"
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${err}")
endif()

foreach(f bin/tarvo bin/tarvo.uir bin/tarvo-view bin/tarvo-export
          share/applications/tarvo.desktop share/applications/tarvo-view.desktop
          share/icons/hicolor/scalable/apps/tarvo.svg)
  if(NOT EXISTS "${WORK}/prefix/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

# The menu entries start the programs by their names (the viewer on a file,
# from a file manager), with the installed icon.
find_program(validate desktop-file-validate)
foreach(app "tarvo|Exec=tarvo" "tarvo-view|Exec=tarvo-view %f")
  string(REPLACE "|" ";" app "${app}")
  list(GET app 0 name)
  list(GET app 1 exec)
  set(desktop "${WORK}/prefix/share/applications/${name}.desktop")
  file(STRINGS "${desktop}" entry)
  foreach(line "[Desktop Entry]" "Type=Application" "${exec}" "Icon=tarvo")
    list(FIND entry "${line}" at)
    if(at LESS 0)
      message(FATAL_ERROR "${name}.desktop lacks '${line}'")
    endif()
  endforeach()
  if(validate)
    execute_process(COMMAND "${validate}" "${desktop}"
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "desktop-file-validate ${name}.desktop: ${out}")
    endif()
  endif()
endforeach()
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

# The installed viewer draws a run in the folder it starts in (the default
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
