# Checks that what the library's manual (docs/library.md) tells a library user to
# write is what the consumer tests build: its #include <respmat/…> lines and its
# CMake and pkg-config lines.
# Variables: MANUAL (the page to check), CONSUMERS.
file(STRINGS ${MANUAL} lines
  REGEX "^(#include <respmat/|find_package\\(|add_subdirectory\\(|target_link_libraries\\(|cc main\\.c )")
set(sources "")
foreach(file main.c cxx17/main.cpp c_package/CMakeLists.txt c_subdirectory/CMakeLists.txt run.cmake)
  file(READ ${CONSUMERS}/${file} text)
  string(APPEND sources "${text}")
endforeach()
list(LENGTH lines count)
if(count LESS 10)
  message(FATAL_ERROR "only ${count} lines of ${MANUAL} found to check")
endif()
foreach(line IN LISTS lines)
  string(FIND "${sources}" "${line}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "no consumer test uses the line of ${MANUAL}: ${line}")
  endif()
endforeach()
