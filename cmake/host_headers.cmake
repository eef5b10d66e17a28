# Header-only libraries of the host's Debian packages (nlohmann-json's nlohmann/, CLI11's
# CLI/) for the cross builds: only their own folders are copied into the build tree and put
# on the include path, never the host's /usr/include with its C library.
function(tools_host_headers target)
  foreach(dir IN LISTS ARGN)
    find_path(TOOLS_HOST_${dir}_ROOT ${dir} PATHS /usr/include NO_DEFAULT_PATH
              NO_CMAKE_FIND_ROOT_PATH REQUIRED)
    file(COPY ${TOOLS_HOST_${dir}_ROOT}/${dir} DESTINATION ${CMAKE_BINARY_DIR}/host-headers)
  endforeach()
  target_include_directories(${target} SYSTEM PRIVATE ${CMAKE_BINARY_DIR}/host-headers)
endfunction()
