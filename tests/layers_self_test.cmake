
# The test of the layer check: a copy of the rule with one include that breaks it
# (the model including a command) must fail the check, and the same tree without it
# must pass. Variables: SOURCE_DIR (the real tree), WORK_DIR (a scratch folder).
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/docs)
file(COPY ${SOURCE_DIR}/docs/design.md DESTINATION ${WORK_DIR}/docs)
file(STRINGS ${SOURCE_DIR}/docs/design.md rows REGEX "^\\| `")
foreach(row IN LISTS rows)
  string(REGEX MATCHALL "`[a-z_/]+/`" named "${row}")
  foreach(folder IN LISTS named)
    string(REPLACE "`" "" folder ${folder})
    file(MAKE_DIRECTORY ${WORK_DIR}/${folder})
  endforeach()
endforeach()
file(WRITE ${WORK_DIR}/commands/run.h "#include \"model/row.h\"\n")
file(WRITE ${WORK_DIR}/model/row.h "#include \"base/failure.h\"\n")

function(check expect_pass)
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${WORK_DIR} -P ${SOURCE_DIR}/tests/layers.cmake
                  RESULT_VARIABLE status ERROR_VARIABLE said)
  if(expect_pass AND NOT status EQUAL 0)
    message(FATAL_ERROR "the layer check refuses a tree that keeps the rule: ${said}")
  elseif(NOT expect_pass AND status EQUAL 0)
    message(FATAL_ERROR "the layer check passes a tree that breaks the rule")
  endif()
endfunction()

check(TRUE)
file(WRITE ${WORK_DIR}/model/row.h "#include \"commands/run.h\"\n")
check(FALSE)
file(WRITE ${WORK_DIR}/model/row.h "#include \"base/failure.h\"\n")
file(MAKE_DIRECTORY ${WORK_DIR}/rooms_unlisted)
file(WRITE ${WORK_DIR}/rooms_unlisted/x.cpp "")
check(FALSE)
