# Build settings shared by every target of both builds.

set(TOOLS_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wcast-qual -Wformat=2 -Wundef -Wnull-dereference)

# One set of warnings for everything we build, nothing tolerated.
# Program logic and the platform seam in the Windows builds also go without exceptions
# and RTTI: the unwinder and the C++ runtime's terminate handler would add about 90 KiB
# to every executable.
function(tools_target_settings target)
  target_compile_options(${target} PRIVATE ${TOOLS_WARNINGS} -Werror)
  if(WIN32 AND NOT TOOLS_PREVIEW_ONLY)
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  endif()
endfunction()

# Test code, the substitute machine and the test bed: the same warnings (GoogleTest comes
# in as a system directory, so its headers do not trip them), with exceptions and the
# standard library allowed.
function(tools_test_settings target)
  target_compile_options(${target} PRIVATE ${TOOLS_WARNINGS} -Werror)
endfunction()

if(WIN32)
  # Statically linked so an executable imports nothing but system DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0500 WINVER=0x0500)
  add_compile_options(-Os -ffunction-sections -fdata-sections)
  # Reproducible: no build folder in any text the compiler keeps (file names of
  # diagnostics and assertions name the source below the tree).
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=)
  # Shipped programs: small, stripped, no console, and no link time in the PE header, so
  # that two builds of one tree are the same bytes.
  function(tools_program target)
    tools_target_settings(${target})
    # Terminal-Server aware: on a terminal server in application mode the system then
    # reports its own Windows directory, not a per-user copy of it.
    target_link_options(${target} PRIVATE -s -mwindows -Wl,--gc-sections -Wl,--no-insert-timestamp
                        -Wl,--tsaware)
    # A change to the manifest a resource script names rebuilds the program.
    get_target_property(sources ${target} SOURCES)
    foreach(source IN LISTS sources)
      if(source MATCHES "\\.rc$")
        file(GLOB manifests ${CMAKE_CURRENT_SOURCE_DIR}/*.manifest)
        set_source_files_properties(${source} PROPERTIES OBJECT_DEPENDS "${manifests}")
      endif()
    endforeach()
    # The release package (scripts/release.sh) holds the shipped programs and nothing else
    # that is built: the 32-bit ones at its top, the 64-bit ones, of the same names, in x64/.
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(release_folder .)
    else()
      set(release_folder x64)
    endif()
    install(TARGETS ${target} RUNTIME DESTINATION ${release_folder} COMPONENT release)
  endfunction()
else()
  option(TOOLS_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" ON)
  if(TOOLS_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
  endif()
endif()
