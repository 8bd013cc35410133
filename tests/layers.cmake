# Checks that includes point down the layers only: nothing in the core library or
# base/ includes job/, app/ or analysis/; analysis/ includes neither job/ nor app/;
# job/ never includes app/; the Python module never includes app/.
# Variable: SOURCE_DIR.
function(check_layer folders forbidden)
  foreach(folder IN LISTS folders)
    file(GLOB_RECURSE sources ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.hpp
         ${SOURCE_DIR}/${folder}/*.c ${SOURCE_DIR}/${folder}/*.cpp)
    foreach(source IN LISTS sources)
      file(STRINGS ${source} includes REGEX "^#include \"(${forbidden})/")
      if(includes)
        message(FATAL_ERROR "${source} includes a layer above it: ${includes}")
      endif()
    endforeach()
  endforeach()
endfunction()

check_layer("include;base;text;matrix;container" "job|app|analysis")
check_layer("job" "app")
check_layer("analysis" "app|job")
check_layer("python" "app")
