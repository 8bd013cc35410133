# Installs the Python package the ways a user does and imports it from another folder.
#   ROUTE=pip    `pip install --no-build-isolation --no-index .` from the source folder
#                into a virtual environment that sees the system's packages (the
#                package builds its module anew), then `pip show` and `pip uninstall -y`
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

# The source folder's entries, with the build folders' own top level alone: those
# change under other builds, but a stray folder of a Python build there is caught.
function(source_entries result)
  file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
  list(FILTER entries EXCLUDE REGEX "^(\\.git/|build[^/]*/[^/]+/)")
  set(${result} "${entries}" PARENT_SCOPE)
endfunction()

if(ROUTE STREQUAL "pip")
  execute_process(COMMAND ${PYTHON} -c "import venv, ensurepip" RESULT_VARIABLE no_venv OUTPUT_QUIET ERROR_QUIET)
  if(no_venv)
    message("packaging test skipped: ${PYTHON} -m venv cannot make an environment with pip (Debian: python3-venv)")
    return()
  endif()
  set(venv ${WORK_DIR}/venv)
  run(${PYTHON} -m venv --system-site-packages ${venv})
  execute_process(COMMAND ${venv}/bin/pip --version RESULT_VARIABLE no_pip OUTPUT_QUIET ERROR_QUIET)
  if(no_pip)
    message("packaging test skipped: the virtual environment has no pip (Debian: python3-pip)")
    return()
  endif()

  # A user's own site-packages would come before the environment's.
  set(ENV{PYTHONNOUSERSITE} 1)
  set(ENV{PIP_CACHE_DIR} ${WORK_DIR}/pip-cache)
  set(ENV{PIP_DISABLE_PIP_VERSION_CHECK} 1)
  source_entries(before)
  execute_process(COMMAND ${venv}/bin/pip install --no-build-isolation --no-index .
    WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(failed)
    message(FATAL_ERROR "pip install failed:\n${out}")
  endif()
  source_entries(after)
  if(NOT before STREQUAL after)
    set(added ${after})
    list(REMOVE_ITEM added ${before})
    message(FATAL_ERROR "the build changed the source folder; new there: ${added}")
  endif()
  expect_import(${venv}/bin/python ${venv})

  execute_process(COMMAND ${venv}/bin/pip show -f respmat OUTPUT_VARIABLE shown RESULT_VARIABLE failed)
  foreach(expected "Name: respmat" "Version: ${VERSION}" "respmat/_respmat" "respmat/__init__.pyi" "respmat/py.typed")
    string(FIND "${shown}" "${expected}" at)
    if(failed OR at EQUAL -1)
      message(FATAL_ERROR "pip show -f respmat lacks \"${expected}\":\n${shown}")
    endif()
  endforeach()

  run(${venv}/bin/pip uninstall -y respmat)
  file(GLOB left LIST_DIRECTORIES true ${venv}/lib/python*/site-packages/respmat*)
  # A copy installed system-wide may still import; the environment's own must not.
  execute_process(COMMAND ${venv}/bin/python -c
      "import importlib.util, sys; s = importlib.util.find_spec('respmat'); print(s.origin if s and s.origin.startswith(sys.prefix) else '')"
    WORKING_DIRECTORY ${WORK_DIR}/elsewhere OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(left OR found)
    message(FATAL_ERROR "pip uninstall left respmat in the environment: ${left} ${found}")
  endif()
elseif(ROUTE STREQUAL "cmake")
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
