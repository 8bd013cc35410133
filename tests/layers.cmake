# Checks the includes against the rooms of docs/design.md: its table names each
# folder and, in its last column, the folders that folder may include ("any" for no
# limit). Fails on an include of a project folder the table does not allow, on a
# source folder the table does not list, and on a folder it lists that is not there.
# Variable: SOURCE_DIR, the tree to check (its docs/design.md is the rule).

cmake_minimum_required(VERSION 3.25)

file(READ ${SOURCE_DIR}/docs/design.md design)
# Semicolons separate CMake's list items: none may stay in the text.
string(REPLACE ";" "," design "${design}")
string(REPLACE "\n" ";" lines "${design}")

set(folders)
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^\\| (`[^|]*)\\|[^|]*\\|([^|]*)\\|$")
    continue()
  endif()
  set(named_text "${CMAKE_MATCH_1}")
  set(allowed_text "${CMAKE_MATCH_2}")
  string(REGEX MATCHALL "`[a-z_/]+/`" named "${named_text}")
  string(REGEX MATCHALL "`[a-z_/]+/`" allowed "${allowed_text}")
  string(REPLACE "`" "" allowed "${allowed}")
  string(STRIP "${allowed_text}" allowed_text)
  foreach(folder IN LISTS named)
    string(REPLACE "`" "" folder ${folder})
    list(APPEND folders ${folder})
    if(allowed_text STREQUAL "any")
      set(rule_${folder} any)
    else()
      set(rule_${folder} ${allowed})
    endif()
  endforeach()
endforeach()
if(NOT folders)
  message(FATAL_ERROR "docs/design.md has no table of folders")
endif()

# Every listed folder exists, and every folder of sources is listed.
foreach(folder IN LISTS folders)
  if(NOT IS_DIRECTORY ${SOURCE_DIR}/${folder})
    message(FATAL_ERROR "docs/design.md lists ${folder}, which the tree does not have")
  endif()
endforeach()
file(GLOB top_entries RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
foreach(entry IN LISTS top_entries)
  if(NOT IS_DIRECTORY ${SOURCE_DIR}/${entry} OR entry MATCHES "^(\\.|build)")
    continue()
  endif()
  file(GLOB_RECURSE sources ${SOURCE_DIR}/${entry}/*.h ${SOURCE_DIR}/${entry}/*.hpp
       ${SOURCE_DIR}/${entry}/*.c ${SOURCE_DIR}/${entry}/*.cpp)
  set(listed FALSE)
  foreach(folder IN LISTS folders)
    if(folder MATCHES "^${entry}/")
      set(listed TRUE)
    endif()
  endforeach()
  if(sources AND NOT listed)
    message(FATAL_ERROR "${entry}/ holds sources, but docs/design.md does not list it")
  endif()
endforeach()

# The folder an include names: "respmat/x.h" is the public include/respmat/.
function(included_folder include out)
  string(REGEX REPLACE "^#include \"([a-z_]+)/.*" "\\1/" top "${include}")
  if(top STREQUAL "respmat/")
    set(top "include/respmat/")
  endif()
  set(${out} ${top} PARENT_SCOPE)
endfunction()

foreach(folder IN LISTS folders)
  if(rule_${folder} STREQUAL "any")
    continue()
  endif()
  file(GLOB_RECURSE sources ${SOURCE_DIR}/${folder}*.h ${SOURCE_DIR}/${folder}*.hpp
       ${SOURCE_DIR}/${folder}*.c ${SOURCE_DIR}/${folder}*.cpp)
  foreach(source IN LISTS sources)
    file(STRINGS ${source} includes REGEX "^#include \"[a-z_]+/")
    foreach(include IN LISTS includes)
      included_folder("${include}" target)
      # Only the project's folders are ruled; a folder of the room's own is its own.
      if(NOT target IN_LIST folders OR target STREQUAL folder OR target IN_LIST rule_${folder})
        continue()
      endif()
      message(FATAL_ERROR "${source}: ${include} points at ${target}, which docs/design.md does not let "
                          "${folder} include")
    endforeach()
  endforeach()
endforeach()
