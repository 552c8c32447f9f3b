# The binding to the maker's control library, TRELL32.dll, for Windows.
#
# The program links against the DLL at load time, through an import library
# made here from the operation list (scope/sem_operations.def), rather than
# looking the 98 entry points up with GetProcAddress at run time: a missing
# or misnamed entry point then stops the program before it starts, and the
# calls are plain calls, checked by the compiler against sem.h.
#
# The DLL exports its stdcall functions under their undecorated names
# ("sem_SetMagAbs"), while the compiler calls them by their decorated
# 32-bit names ("_sem_SetMagAbs@4", the @ count being the bytes of the
# arguments, 4 for each on 32-bit: every argument is an integer of at most
# 32 bits or a pointer). The generated TRELL32.def lists the decorated names,
# and dlltool's --kill-at makes the import library ask the DLL for the
# undecorated ones. On 64-bit Windows there is one calling convention and
# no decoration.
#
# Defines the interface library vesk_scope_trell32, and the variable
# VESK_TRELL32_DEF (the generated .def, which the tests' stand-in DLL uses
# too).

set(VESK_SEM_OPERATIONS ${CMAKE_SOURCE_DIR}/scope/sem_operations.def)
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VESK_SEM_OPERATIONS})

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VESK_STDCALL_DECORATION ON)
else()
  set(VESK_STDCALL_DECORATION OFF)
endif()

file(STRINGS ${VESK_SEM_OPERATIONS} VESK_SEM_LINES REGEX "^SEM_OPERATION\\(")
set(VESK_TRELL32_EXPORTS "")
set(VESK_TRELL32_COUNT 0)
foreach(line IN LISTS VESK_SEM_LINES)
  # SEM_OPERATION(result, Name, (parameters), (arguments))
  if(NOT line MATCHES "^SEM_OPERATION\\([^,]+, ([A-Za-z0-9_]+), \\(([^)]*)\\), \\(([^)]*)\\)\\)")
    message(FATAL_ERROR "sem_operations.def: cannot read '${line}'")
  endif()
  set(name ${CMAKE_MATCH_1})
  set(arguments "${CMAKE_MATCH_3}")
  if(arguments STREQUAL "")
    set(count 0)
  else()
    string(REGEX REPLACE "[^,]" "" commas "${arguments}")
    string(LENGTH "${commas}" count)
    math(EXPR count "${count} + 1")
  endif()
  math(EXPR bytes "${count} * 4")
  if(VESK_STDCALL_DECORATION)
    string(APPEND VESK_TRELL32_EXPORTS "  sem_${name}@${bytes}\n")
  else()
    string(APPEND VESK_TRELL32_EXPORTS "  sem_${name}\n")
  endif()
  math(EXPR VESK_TRELL32_COUNT "${VESK_TRELL32_COUNT} + 1")
endforeach()
if(NOT VESK_TRELL32_COUNT EQUAL 98)
  message(FATAL_ERROR "sem_operations.def: ${VESK_TRELL32_COUNT} operations, expected 98")
endif()

set(VESK_TRELL32_DIR ${CMAKE_BINARY_DIR}/trell32)
set(VESK_TRELL32_DEF ${VESK_TRELL32_DIR}/TRELL32.def)
file(CONFIGURE OUTPUT ${VESK_TRELL32_DEF} CONTENT
  "; Generated from scope/sem_operations.def by cmake/trell32.cmake.\nLIBRARY TRELL32.dll\nEXPORTS\n${VESK_TRELL32_EXPORTS}")

set(VESK_TRELL32_IMPORT_LIBRARY ${VESK_TRELL32_DIR}/libtrell32.a)
add_custom_command(OUTPUT ${VESK_TRELL32_IMPORT_LIBRARY}
  COMMAND ${VESK_DLLTOOL} --kill-at --input-def ${VESK_TRELL32_DEF} --dllname TRELL32.dll
          --output-lib ${VESK_TRELL32_IMPORT_LIBRARY}
  DEPENDS ${VESK_TRELL32_DEF}
  COMMENT "Import library for TRELL32.dll")
add_custom_target(vesk_trell32_import_library DEPENDS ${VESK_TRELL32_IMPORT_LIBRARY})

add_library(vesk_scope_trell32 INTERFACE)
add_dependencies(vesk_scope_trell32 vesk_trell32_import_library)
target_link_libraries(vesk_scope_trell32 INTERFACE vesk_scope ${VESK_TRELL32_IMPORT_LIBRARY})
