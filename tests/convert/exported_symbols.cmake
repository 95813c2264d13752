# Every name the library's objects define for a program to link is a ferryline_ function (the C
# interface) or lives in the namespace ferryline, so that nothing in a program that links the library
# collides with it. Run by ctest: cmake -DNM=nm -DLIBRARY=libferryline_core.a -P exported_symbols.cmake
execute_process(COMMAND ${NM} --defined-only --extern-only --demangle ${LIBRARY}
                OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} ${LIBRARY} failed: ${errors}")
endif()
# Square brackets (arrays in parameter types) would hold list items together; semicolons part them.
string(REPLACE "[" "<" listing "${listing}")
string(REPLACE "]" ">" listing "${listing}")
string(REPLACE ";" "," listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(named 0)
set(strays "")
foreach(line IN LISTS lines)
  # "address type name"; the lines naming each object file end in ':'.
  if(NOT line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) (.+)$")
    continue()
  endif()
  set(type ${CMAKE_MATCH_1})
  set(name "${CMAKE_MATCH_2}")
  # Not the library's names: the type descriptors the sanitizers make for function types, and the weak
  # copies of the C++ library's templates and the compiler's helpers that an unoptimised object carries
  # and the linker merges with every other copy.
  if(name MATCHES "^typeinfo (name )?for " OR (type MATCHES "^[WV]$" AND name MATCHES "^(std::|__|DW\\.ref\\.__)"))
    continue()
  endif()
  math(EXPR named "${named} + 1")
  # A template's name starts with what it returns.
  if(NOT name MATCHES "^ferryline_[a-z0-9_]+$" AND NOT name MATCHES "^(guard variable for |[^(]* )?ferryline::")
    string(APPEND strays "\n  ${type} ${name}")
  endif()
endforeach()
if(named EQUAL 0)
  message(FATAL_ERROR "${NM} lists no names in ${LIBRARY}")
endif()
if(strays)
  message(FATAL_ERROR "${LIBRARY} exports names outside ferryline_ and namespace ferryline:${strays}")
endif()
message(STATUS "${named} names, each a ferryline_ function or in namespace ferryline")
