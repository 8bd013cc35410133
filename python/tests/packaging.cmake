# The Python package installed as a user installs it, then imported from another folder:
# ROUTE=pip with `pip install --no-build-isolation --no-index .` from the source folder into a
# virtual environment that sees the system's packages, then `pip show` and `pip uninstall -y`;
# ROUTE=cmake with `cmake --install` of this build into a user base. Also: PYTHON (the
# module's interpreter), SOURCE_DIR, BUILD_DIR, WORK_DIR, VERSION.
cmake_minimum_required(VERSION 3.25)
unset(ENV{PYTHONPATH}) # never the build's own module
set(ENV{PYTHONDONTWRITEBYTECODE} 1)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/elsewhere)

# Runs a command (no ";" in its arguments) elsewhere; stops the test unless it succeeds.
function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK_DIR}/elsewhere
    RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(failed)
    message(FATAL_ERROR "failed: ${ARGN}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

# Imports respmat, calls it, and checks its version and that it came from under `folder`.
function(expect_import python folder)
  run(${python} -c "import respmat\nassert respmat.model([0.0, 0.25]).shape == (2, 2)\nprint(respmat.__version__, respmat.__file__)")
  string(FIND "${out}" "${VERSION} ${folder}/" at)
  if(NOT at EQUAL 0)
    message(FATAL_ERROR "imported respmat ${out}expected ${VERSION} from ${folder}")
  endif()
endfunction()

if(ROUTE STREQUAL "pip")
  execute_process(COMMAND ${PYTHON} -c "import venv, ensurepip" RESULT_VARIABLE no_venv OUTPUT_QUIET ERROR_QUIET)
  set(venv ${WORK_DIR}/venv)
  if(NOT no_venv)
    run(${PYTHON} -m venv --system-site-packages ${venv})
  endif()
  if(no_venv OR NOT EXISTS ${venv}/bin/pip)
    message("packaging test skipped: ${PYTHON} -m venv makes no environment with pip (Debian: python3-venv)")
    return()
  endif()
  set(ENV{PYTHONNOUSERSITE} 1) # the user's site-packages would come before the environment's
  set(ENV{PIP_CACHE_DIR} ${WORK_DIR}/pip-cache)
  set(ENV{PIP_DISABLE_PIP_VERSION_CHECK} 1)
  # The build leaves nothing in the source folder (build folders: their top level).
  file(GLOB_RECURSE before LIST_DIRECTORIES true RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
  run(${CMAKE_COMMAND} -E chdir ${SOURCE_DIR} ${venv}/bin/pip install --no-build-isolation --no-index .)
  file(GLOB_RECURSE after LIST_DIRECTORIES true RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/*)
  list(FILTER after EXCLUDE REGEX "^(\\.git/|build[^/]*/[^/]+/)")
  list(REMOVE_ITEM after ${before})
  if(after)
    message(FATAL_ERROR "the build left in the source folder: ${after}")
  endif()
  expect_import(${venv}/bin/python ${venv})
  # The tool comes with it, as a command of the environment, from any folder.
  run(${venv}/bin/respmat --version)
  if(NOT out STREQUAL "respmat ${VERSION}\n")
    message(FATAL_ERROR "the installed respmat command says: ${out}")
  endif()

  run(${venv}/bin/pip show -f respmat)
  foreach(expected "Name: respmat" "Version: ${VERSION}" "respmat/_respmat" "respmat/__init__.pyi" "respmat/py.typed"
                  "respmat/bin/respmat")
    string(FIND "${out}" "${expected}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "pip show -f respmat lacks \"${expected}\":\n${out}")
    endif()
  endforeach()

  # Gone from the environment (a copy installed system-wide may still import).
  run(${venv}/bin/pip uninstall -y respmat)
  run(${venv}/bin/python -c "import importlib.util as u, sys\ns = u.find_spec('respmat')\nprint(s.origin if s and s.origin.startswith(sys.prefix) else '', end='')")
  if(out)
    message(FATAL_ERROR "pip uninstall left respmat in the environment: ${out}")
  endif()
elseif(ROUTE STREQUAL "cmake")
  # The interpreter's user base: its user site-packages, searched without being told.
  set(ENV{PYTHONUSERBASE} ${WORK_DIR}/userbase)
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --component python --prefix ${WORK_DIR}/userbase)
  expect_import(${PYTHON} ${WORK_DIR}/userbase)
endif()
