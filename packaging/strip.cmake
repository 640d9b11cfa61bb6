# SPDX-License-Identifier: GPL-3.0-or-later
# Run by cpack before it packs: strips the programs it installed as Debian's
# dh_strip does, so no symbol table and no .comment or .note section ships.
find_program(STRIP strip REQUIRED)
file(GLOB_RECURSE programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/usr/bin/*")
foreach(program ${programs})
  execute_process(COMMAND ${STRIP} --remove-section=.comment --remove-section=.note --strip-unneeded ${program}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "could not strip ${program}")
  endif()
endforeach()
