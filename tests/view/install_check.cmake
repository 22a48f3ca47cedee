# cmake --install into a scratch prefix, then the installed programs run as a
# user starts them: tarvo from another directory, finding tarvo.uir in
# share/tarvo/ after the prefix has been moved, and naming the places it
# looked when the file is gone; tarvo-view drawing the run in the folder it
# starts in.
#   cmake -DBUILD_DIR=... -DWORK=... -P install_check.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/run")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${WORK}/prefix"
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${err}")
endif()

foreach(f bin/tarvo share/tarvo/tarvo.uir bin/tarvo-view bin/tarvo-export bin/tarvo-board
          share/applications/tarvo.desktop share/applications/tarvo-view.desktop
          share/icons/hicolor/scalable/apps/tarvo.svg)
  if(NOT EXISTS "${WORK}/prefix/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
if(EXISTS "${WORK}/prefix/bin/tarvo.uir")
  message(FATAL_ERROR "tarvo.uir is data: it belongs in share/tarvo/, not bin/")
endif()

# Each PNG size of the icon is that size: width and height from the IHDR chunk.
foreach(size 16 24 32 48 64 128 256)
  set(png "${WORK}/prefix/share/icons/hicolor/${size}x${size}/apps/tarvo.png")
  if(NOT EXISTS "${png}")
    message(FATAL_ERROR "not installed: the ${size} px icon")
  endif()
  file(READ "${png}" head LIMIT 24 HEX)
  string(SUBSTRING "${head}" 0 16 magic)
  string(SUBSTRING "${head}" 32 8 w)
  string(SUBSTRING "${head}" 40 8 h)
  math(EXPR w "0x${w}")
  math(EXPR h "0x${h}")
  if(NOT magic STREQUAL "89504e470d0a1a0a" OR NOT w EQUAL size OR NOT h EQUAL size)
    message(FATAL_ERROR "the ${size} px icon is ${w}x${h} (signature ${magic})")
  endif()
endforeach()

# The menu entries start the programs by their names in the folder ~/tarvo
# (made when missing), where the recorder writes its runs and the viewer
# opens them (or the file a file manager hands it), with the installed icon.
find_program(validate desktop-file-validate)
foreach(app "tarvo|Exec=sh -c \"mkdir -p ~/tarvo && cd ~/tarvo && exec tarvo\""
        "tarvo-view|Exec=sh -c \"mkdir -p ~/tarvo && cd ~/tarvo && exec tarvo-view \\\\\"\\\\$@\\\\\"\" tarvo-view %f")
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

# The installed program loads its panel from share/tarvo/, also once the
# whole prefix has moved (a missing one ends it with 255).
file(RENAME "${WORK}/prefix" "${WORK}/moved")
set(prefix "${WORK}/moved")
file(WRITE "${WORK}/run/quit.txt" "press quit\n")
execute_process(COMMAND "${prefix}/bin/tarvo" -platform offscreen --script quit.txt
                WORKING_DIRECTORY "${WORK}/run" RESULT_VARIABLE rc
                OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 30)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the installed tarvo ended with ${rc}: ${err}")
endif()
execute_process(COMMAND "${prefix}/bin/tarvo" --help OUTPUT_VARIABLE help RESULT_VARIABLE rc TIMEOUT 30)
if(NOT rc EQUAL 0 OR NOT help MATCHES "--no-chart")
  message(FATAL_ERROR "tarvo --help: status ${rc}, no --no-chart in:\n${help}")
endif()

# The installed viewer draws a run in the folder it starts in (the default
# PATH), without a display.
file(WRITE "${WORK}/run/data.txt" "100,200,1\n300,400,2\n500,600,3\n")
execute_process(COMMAND "${CMAKE_COMMAND}" -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM
                        "${prefix}/bin/tarvo-view" --screenshot shot.png
                WORKING_DIRECTORY "${WORK}/run" RESULT_VARIABLE rc
                OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
if(NOT rc EQUAL 0 OR NOT EXISTS "${WORK}/run/shot.png")
  message(FATAL_ERROR "the installed tarvo-view ended with ${rc}: ${err}")
endif()

# Without its panel file the program ends with 255 and says where it looked:
# beside itself, then share/tarvo/ of its own prefix.
file(REMOVE "${prefix}/share/tarvo/tarvo.uir")
execute_process(COMMAND "${prefix}/bin/tarvo" -platform offscreen --script quit.txt
                WORKING_DIRECTORY "${WORK}/run" RESULT_VARIABLE rc
                OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 30)
foreach(place "${prefix}/bin/tarvo.uir" "${prefix}/share/tarvo/tarvo.uir")
  string(FIND "${err}" "${place}" at)
  if(NOT rc EQUAL 255 OR at LESS 0)
    message(FATAL_ERROR "tarvo without its panel file: status ${rc}, '${place}' not named in:\n${err}")
  endif()
endforeach()
file(REMOVE_RECURSE "${WORK}")
