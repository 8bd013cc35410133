# Installation: the library, its public headers under respmat/, the tool, a CMake
# package and a pkg-config file.
include(CMakePackageConfigHelpers)

set(respmat_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/respmat)
install(TARGETS respmat_lib EXPORT respmatTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS respmat RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY include/respmat DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT respmatTargets NAMESPACE respmat:: DESTINATION ${respmat_cmake_dir})
configure_package_config_file(cmake/respmatConfig.cmake.in
  ${PROJECT_BINARY_DIR}/respmatConfig.cmake
  INSTALL_DESTINATION ${respmat_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/respmatConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/respmatConfig.cmake ${PROJECT_BINARY_DIR}/respmatConfigVersion.cmake
  DESTINATION ${respmat_cmake_dir})

# The .pc file finds the prefix from its own place, so the package can be moved or
# installed with `cmake --install --prefix`.
set(respmat_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(RESPMAT_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH respmat_pc_up /prefix/${respmat_pc_dir} /prefix)
  string(REGEX REPLACE "/$" "" respmat_pc_up "${respmat_pc_up}")
  set(RESPMAT_PC_PREFIX "\${pcfiledir}/${respmat_pc_up}")
endif()
cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_LIBDIR BASE_DIRECTORY "\${prefix}" OUTPUT_VARIABLE RESPMAT_PC_LIBDIR)
cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_INCLUDEDIR BASE_DIRECTORY "\${prefix}"
  OUTPUT_VARIABLE RESPMAT_PC_INCLUDEDIR)
# What a program linked by the C compiler needs besides the library: the C++ runtime,
# the maths library and, where the C library lacks them, the threads. The static
# archive records none of it, so it goes in Libs and the plain
# `pkg-config --cflags --libs respmat` links; the shared library records its own, so
# there it goes in Libs.private and a consumer links the library alone.
list(TRANSFORM respmat_cxx_runtime PREPEND -l OUTPUT_VARIABLE respmat_pc_needs)
list(APPEND respmat_pc_needs -lm ${CMAKE_THREAD_LIBS_INIT})
list(REMOVE_DUPLICATES respmat_pc_needs)
list(JOIN respmat_pc_needs " " respmat_pc_needs)
if(BUILD_SHARED_LIBS)
  set(RESPMAT_PC_LIBS "-L\${libdir} -lrespmat")
  set(RESPMAT_PC_LIBS_PRIVATE "${respmat_pc_needs}")
else()
  set(RESPMAT_PC_LIBS "-L\${libdir} -lrespmat ${respmat_pc_needs}")
  set(RESPMAT_PC_LIBS_PRIVATE "")
endif()
configure_file(cmake/respmat.pc.in ${PROJECT_BINARY_DIR}/respmat.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/respmat.pc DESTINATION ${respmat_pc_dir})
