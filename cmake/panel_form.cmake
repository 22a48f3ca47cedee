# Writes the header that compiles the panel in (cmake -P, at build time):
# the uic form's class under one name and the panel file's own bytes, which
# the program compares with the file beside it.
#
#   cmake -DPANEL=resources/tarvo.uir -DFORM=ui_tarvo.h -DOUTPUT=panel_form_compiled.h -P panel_form.cmake
foreach(var PANEL FORM OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "panel_form.cmake: ${var} is not set")
  endif()
endforeach()

file(STRINGS ${PANEL} class_line REGEX "<class>[A-Za-z_][A-Za-z0-9_]*</class>" LIMIT_COUNT 1)
if(NOT class_line MATCHES "<class>([A-Za-z_][A-Za-z0-9_]*)</class>")
  message(FATAL_ERROR "${PANEL}: no <class> element, so no form class to compile in")
endif()
set(form_class Ui_${CMAKE_MATCH_1})

file(READ ${PANEL} hex HEX)
file(SIZE ${PANEL} size)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Twenty bytes a line.
string(REGEX REPLACE "((0x..,){20})" "\\1\n    " bytes "${bytes}")

file(WRITE ${OUTPUT}.tmp "\
// Generated from ${PANEL} by cmake/panel_form.cmake: do not edit.
#pragma once

#include \"${FORM}\"

using CompiledPanelForm = ${form_class};

// The panel file the form was compiled from, ${size} bytes.
static const unsigned char kCompiledPanelFile[] = {
    ${bytes}
};
")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
