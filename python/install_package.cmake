# Installs the package respmat (RESPMAT_PACKAGE_FILES: the built module and the files
# beside it) when `cmake --install` runs, into a folder chosen then, since the prefix
# is mostly given only then (`cmake --install build --prefix ~/.local`):
#   1. RESPMAT_PACKAGE_DIR (the cache variable RESPMAT_PYTHON_INSTALL_DIR) when set:
#      absolute, or relative to the prefix;
#   2. when the prefix is the interpreter's user base (site.getuserbase(): ~/.local,
#      or PYTHONUSERBASE as set for the install), its user site-packages
#      (site.getusersitepackages(): lib/pythonX.Y/site-packages under it), which that
#      interpreter searches for that user;
#   3. when the interpreter's own package folder (RESPMAT_PYTHON_SITEARCH, found when
#      configuring) lies under the prefix, that folder: /usr/lib/python3/dist-packages
#      for Debian's interpreter and the prefix /usr, a virtual environment's
#      site-packages for its own folder as the prefix;
#   4. otherwise RESPMAT_PYTHON_FALLBACK_DIR, lib/pythonX.Y/dist-packages, under the
#      prefix: for Debian's interpreter and the prefix /usr/local, a folder it searches.
# Other variables: RESPMAT_PYTHON (the interpreter), RESPMAT_STRIP (the strip program).

cmake_path(SET prefix NORMALIZE "${CMAKE_INSTALL_PREFIX}")

# Whether two folders are the same, symbolic links resolved where they exist.
function(respmat_same_folder a b result)
  file(REAL_PATH "${a}" a)
  file(REAL_PATH "${b}" b)
  cmake_path(SET a NORMALIZE "${a}/")
  cmake_path(SET b NORMALIZE "${b}/")
  if(a STREQUAL b)
    set(${result} TRUE PARENT_SCOPE)
  else()
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

set(destination)
if(NOT RESPMAT_PACKAGE_DIR STREQUAL "")
  cmake_path(ABSOLUTE_PATH RESPMAT_PACKAGE_DIR BASE_DIRECTORY "${prefix}" OUTPUT_VARIABLE destination)
else()
  execute_process(
    COMMAND "${RESPMAT_PYTHON}" -c "import site; print(site.getuserbase()); print(site.getusersitepackages())"
    OUTPUT_VARIABLE user_folders RESULT_VARIABLE failed ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT failed)
    string(REPLACE "\n" ";" user_folders "${user_folders}")
    list(GET user_folders 0 user_base)
    list(GET user_folders 1 user_site)
    respmat_same_folder("${prefix}" "${user_base}" is_user_base)
    if(is_user_base)
      set(destination "${user_site}")
    endif()
  endif()
  if(NOT destination)
    cmake_path(IS_PREFIX prefix "${RESPMAT_PYTHON_SITEARCH}" NORMALIZE under_prefix)
    if(under_prefix)
      set(destination "${RESPMAT_PYTHON_SITEARCH}")
    else()
      set(destination "${prefix}/${RESPMAT_PYTHON_FALLBACK_DIR}")
    endif()
  endif()
endif()
cmake_path(NORMAL_PATH destination)

# file(INSTALL) puts DESTDIR in front and lists the files in the install manifest.
file(INSTALL ${RESPMAT_PACKAGE_FILES} DESTINATION "${destination}/respmat" USE_SOURCE_PERMISSIONS)
if(CMAKE_INSTALL_DO_STRIP AND RESPMAT_STRIP)
  list(GET RESPMAT_PACKAGE_FILES 0 module)
  cmake_path(GET module FILENAME module)
  execute_process(COMMAND "${RESPMAT_STRIP}" "$ENV{DESTDIR}${destination}/respmat/${module}")
endif()
