# Header-only libraries of the build machine for a cross build. Their Debian
# CMake configs add -isystem /usr/include, which would put the host's C
# library before the target's; here each is reached through a folder that
# holds links to its own headers and nothing else. tinyobjloader, a header
# with its implementation inside, is compiled into a library of our own.
set(V2BSP_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${V2BSP_HOST_HEADERS})
foreach(entry CLI nlohmann tiny_gltf.h tiny_obj_loader.h)
  if(NOT EXISTS /usr/include/${entry})
    message(FATAL_ERROR "/usr/include/${entry} is missing: run scripts/setup.sh")
  endif()
  file(CREATE_LINK /usr/include/${entry} ${V2BSP_HOST_HEADERS}/${entry} SYMBOLIC)
endforeach()

add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${V2BSP_HOST_HEADERS})
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${V2BSP_HOST_HEADERS})
set(TINYGLTF_INCLUDE_DIR ${V2BSP_HOST_HEADERS} CACHE PATH "tiny_gltf.h of the build machine")

set(tinyobj_source ${CMAKE_BINARY_DIR}/host-headers-tinyobjloader.cpp)
file(WRITE ${tinyobj_source} "#define TINYOBJLOADER_IMPLEMENTATION\n#include <tiny_obj_loader.h>\n")
add_library(v2bsp_tinyobjloader STATIC EXCLUDE_FROM_ALL ${tinyobj_source})
target_include_directories(v2bsp_tinyobjloader SYSTEM PUBLIC ${V2BSP_HOST_HEADERS})
add_library(tinyobjloader::tinyobjloader ALIAS v2bsp_tinyobjloader)
