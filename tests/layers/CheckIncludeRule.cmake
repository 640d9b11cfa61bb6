# SPDX-License-Identifier: GPL-3.0-or-later
# cmake -P: compiles tests/layers/Probe.cpp with a layer's include flags,
# once per header. Headers of the layer and those below must be found, so a
# failure on an upper layer's header means the rule, not broken flags.
# Inputs: CXX, PLATFORM_INCLUDES and CORE_INCLUDES ('|'-separated), PROBE_DIR.

function(probe layer includes header expect)
  string(REPLACE "|" ";" dirs "${includes}")
  set(flags "")
  foreach(dir IN LISTS dirs)
    list(APPEND flags "-I${dir}")
  endforeach()
  execute_process(
    COMMAND ${CXX} -std=c++20 -fsyntax-only ${flags} "-DVESK_PROBE_HEADER=\"${header}\"" ${PROBE_DIR}/Probe.cpp
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(expect STREQUAL "found" AND NOT rc EQUAL 0)
    message(SEND_ERROR "${layer} cannot include ${header}, which it may:\n${err}")
  elseif(expect STREQUAL "missing")
    if(rc EQUAL 0)
      message(SEND_ERROR "${layer} can include ${header}, from a layer above it")
    elseif(NOT err MATCHES "No such file|file not found")
      message(SEND_ERROR "${layer} including ${header} failed for another reason:\n${err}")
    endif()
  endif()
endfunction()

probe(platform "${PLATFORM_INCLUDES}" "platform/Dispatch.h" found)
probe(platform "${PLATFORM_INCLUDES}" "platform/macho/MachOReader.h" found)
probe(platform "${PLATFORM_INCLUDES}" "inspector/InfoKeys.h" missing)
probe(platform "${PLATFORM_INCLUDES}" "views/MyDragDropView.h" missing)
probe(platform "${PLATFORM_INCLUDES}" "app/AppDelegate.h" missing)
probe(core "${CORE_INCLUDES}" "inspector/InfoKeys.h" found)
probe(core "${CORE_INCLUDES}" "platform/Value.h" found)
probe(core "${CORE_INCLUDES}" "desktop/InfoBinder.h" missing)
