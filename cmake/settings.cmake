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
    # The release package (scripts/release.sh) holds the shipped programs and nothing else
    # that is built: the 32-bit ones at its top, the 64-bit ones, of the same names, in x64/.
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(release_folder .)
    else()
      set(release_folder x64)
    endif()
    install(TARGETS ${target} RUNTIME DESTINATION ${release_folder} COMPONENT release)
  endfunction()

  # tools_program_resources(<target> VERSION <a.b.c.d> LEVEL <execution level>
  #                         [NAME <name>] [ASSEMBLY <name>] [DESCRIPTION <text>]
  #                         [PRODUCT <text>] [COMMAS] [INCLUDE <resource script>])
  # A program's version resource and application manifest, each made from the one template
  # (cmake/program.rc.in, cmake/program.manifest.in), the version written once by the
  # caller. NAME (default: the target's name) is the InternalName and the manifest's
  # description; ASSEMBLY (default NAME) the manifest's assembly name, after
  # "AdapterTools."; DESCRIPTION and PRODUCT (default NAME) are FileDescription and
  # ProductName. The version's text reads "1.0.0.0", or "1, 0, 0, 0" with COMMAS.
  # INCLUDE names a resource script of the program's other resources, taken in whole.
  # OUTPUT_NAME, when the program has one, must be set before.
  function(tools_program_resources target)
    cmake_parse_arguments(ARG "COMMAS" "VERSION;LEVEL;NAME;ASSEMBLY;DESCRIPTION;PRODUCT;INCLUDE"
                          "" ${ARGN})
    if(NOT ARG_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+$" OR NOT ARG_LEVEL)
      message(FATAL_ERROR "tools_program_resources(${target}): VERSION a.b.c.d and LEVEL are required")
    endif()
    set(TOOLS_RES_NAME ${target})
    if(ARG_NAME)
      set(TOOLS_RES_NAME "${ARG_NAME}")
    endif()
    foreach(field ASSEMBLY DESCRIPTION PRODUCT)
      set(TOOLS_RES_${field} "${TOOLS_RES_NAME}")
      if(DEFINED ARG_${field})
        set(TOOLS_RES_${field} "${ARG_${field}}")
      endif()
    endforeach()
    get_target_property(file ${target} OUTPUT_NAME)
    if(NOT file)
      set(file ${target})
    endif()
    set(TOOLS_RES_FILE ${file}.exe)
    set(TOOLS_RES_LEVEL ${ARG_LEVEL})
    set(TOOLS_RES_VERSION ${ARG_VERSION})
    string(REPLACE "." "," TOOLS_RES_VERSION_COMMAS ${ARG_VERSION})
    set(TOOLS_RES_VERSION_TEXT ${ARG_VERSION})
    if(ARG_COMMAS)
      string(REPLACE "." ", " TOOLS_RES_VERSION_TEXT ${ARG_VERSION})
    endif()
    set(depends)
    set(TOOLS_RES_INCLUDE "")
    if(ARG_INCLUDE)
      set(include ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_INCLUDE})
      set(TOOLS_RES_INCLUDE "#include \"${include}\"\n")
      list(APPEND depends ${include})
    endif()
    set(TOOLS_RES_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/program.manifest.in ${TOOLS_RES_MANIFEST} @ONLY)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/program.rc.in ${script} @ONLY)
    list(APPEND depends ${TOOLS_RES_MANIFEST})
    # A change to the manifest or the included script rebuilds the program.
    set_source_files_properties(${script} PROPERTIES OBJECT_DEPENDS "${depends}")
    target_sources(${target} PRIVATE ${script})
    # The artifact checks read the version strings back from the script.
    set_target_properties(${target} PROPERTIES TOOLS_RESOURCE_SCRIPT ${script})
  endfunction()
else()
  option(TOOLS_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" ON)
  if(TOOLS_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
    # The test programs start once per test case, hundreds of times a run. With the
    # sanitizer runtimes linked in and the program at a fixed address, a start relocates
    # nothing, which took about a third of each start. Nothing built with sanitizers is
    # shipped. (clang links its sanitizer runtimes statically already.)
    add_link_options(-no-pie)
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      add_link_options(-static-libasan -static-libubsan)
    endif()
  endif()
endif()
