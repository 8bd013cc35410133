# Installs the Python package the ways a user does and imports it from another folder.
#   ROUTE=cmake  `cmake --install` of this build's module into a plain prefix and into
#                the interpreter's user base
# Other variables: PYTHON (the interpreter the module is built for), SOURCE_DIR,
# BUILD_DIR, WORK_DIR, LIBDIR, VERSION.

cmake_minimum_required(VERSION 3.25)

# Only what is installed here may be imported: not the build's module through
# PYTHONPATH.
unset(ENV{PYTHONPATH})
set(ENV{PYTHONDONTWRITEBYTECODE} 1)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/elsewhere)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(failed)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}")
  endif()
endfunction()

# Imports respmat with `python` from a folder of its own, calls it, and checks the
# version and that the package came from under `folder`.
function(expect_import python folder)
  execute_process(COMMAND ${python} -c
      "import respmat; G = respmat.model([0.0, 0.25]); assert G.shape == (2, 2), G.shape; print(respmat.__version__); print(respmat.__file__)"
    WORKING_DIRECTORY ${WORK_DIR}/elsewhere
    RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(failed)
    message(FATAL_ERROR "import respmat failed:\n${out}${err}")
  endif()
  string(REPLACE "\n" ";" out "${out}")
  list(GET out 0 version)
  list(GET out 1 file)
  cmake_path(IS_PREFIX folder "${file}" NORMALIZE inside)
  if(NOT version STREQUAL VERSION OR NOT inside)
    message(FATAL_ERROR "imported respmat ${version} from ${file}, expected ${VERSION} from ${folder}")
  endif()
endfunction()

if(ROUTE STREQUAL "cmake")
  execute_process(COMMAND ${PYTHON} -c "import sys; print('%d.%d' % sys.version_info[:2])"
    OUTPUT_VARIABLE python_version OUTPUT_STRIP_TRAILING_WHITESPACE)
  # A prefix apart from the interpreter's folders: lib/pythonX.Y/dist-packages under it.
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --component python --prefix ${WORK_DIR}/prefix)
  set(ENV{PYTHONPATH} ${WORK_DIR}/prefix/${LIBDIR}/python${python_version}/dist-packages)
  expect_import(${PYTHON} ${WORK_DIR}/prefix)
  unset(ENV{PYTHONPATH})

  # The interpreter's user base (~/.local unless PYTHONUSERBASE says otherwise): its
  # user site-packages, which the interpreter searches without being told.
  set(ENV{PYTHONUSERBASE} ${WORK_DIR}/userbase)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --component python --prefix ${WORK_DIR}/userbase)
  expect_import(${PYTHON} ${WORK_DIR}/userbase)
else()
  message(FATAL_ERROR "unknown ROUTE ${ROUTE}")
endif()
