# What a WebAssembly build (emcmake or the wasm preset) needs before the library is defined.
# Exceptions stay on: without them running out of memory aborts the whole module, with them the
# call returns out_of_memory. Memory grows as needed up to a 2 GB cap.
add_compile_options(-fexceptions)
add_link_options(-fexceptions -sALLOW_MEMORY_GROWTH=1 -sMAXIMUM_MEMORY=2GB)

# Header-only libraries from the machine's /usr/include: given as a copy of their own folders,
# as /usr/include itself on the include path would put the host's C headers before emscripten's
foreach(dir nlohmann fast_float)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "rokconv: /usr/include/${dir} is missing (apt-get install nlohmann-json3-dev libfast-float-dev)")
  endif()
  file(COPY /usr/include/${dir} DESTINATION ${CMAKE_BINARY_DIR}/host-include)
endforeach()
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${CMAKE_BINARY_DIR}/host-include)
# fast_float reads doubles where the C++ library cannot (src/util/compat.hpp)
include_directories(SYSTEM ${CMAKE_BINARY_DIR}/host-include)
