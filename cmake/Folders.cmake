# Each folder of the source tree is one library. A folder's library links
# only the libraries of its own layer and the layers below, so an include
# that reaches upward fails to link; scripts/check-layers.py checks the
# include lines themselves.

# quarrin_library(<name> SOURCES <file>... [DEPS <target>...])
function(quarrin_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  # Position-independent, as the drawing module takes some of it.
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  target_compile_options(${name} PUBLIC -fno-semantic-interposition)
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  quarrin_warnings(${name})
endfunction()

# quarrin_tests(<folder> [WINE_SERVICES] [DEPS <target>...] [NEEDS <target>...]
#               [LINUX_ONLY <file>...] [PROPERTIES <name> <value>...]): the
# *_test.cc files of the folder and of its subfolders as one runner,
# <folder>_tests, linked with DEPS; NEEDS names the programs its tests start;
# PROPERTIES are set on each test. A test that one system alone runs says so
# by its name, *_linux_test.cc or *_windows_test.cc, or by its place, a
# windows/ subfolder; LINUX_ONLY names more that Windows leaves out. The
# Windows build needs only the programs it builds.
# WINE_SERVICES: on Windows its tests start services in Wine's service
# control manager, which hands a starting service's pipe to whichever
# process asks first; no two such tests run at once.
function(quarrin_tests folder)
  cmake_parse_arguments(ARG "WINE_SERVICES" "" "DEPS;NEEDS;LINUX_ONLY;PROPERTIES" ${ARGN})
  file(GLOB tests RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS *_test.cc */*_test.cc)
  set(needs ${ARG_NEEDS})
  if(WIN32)
    list(FILTER tests EXCLUDE REGEX "_linux_test\\.cc$")
    foreach(file ${ARG_LINUX_ONLY})
      list(REMOVE_ITEM tests ${file})
    endforeach()
    # Only the programs that the Windows build makes (QUARRIN_PROGRAMS).
    set(built ${needs})
    set(needs)
    foreach(program ${built})
      if(program IN_LIST QUARRIN_PROGRAMS)
        list(APPEND needs ${program})
      endif()
    endforeach()
  else()
    list(FILTER tests EXCLUDE REGEX "(^windows/|_windows_test\\.cc$)")
  endif()
  add_executable(${folder}_tests ${tests})
  quarrin_warnings(${folder}_tests)
  target_link_libraries(${folder}_tests PRIVATE
    ${ARG_DEPS} quarrin_testing GTest::gtest GTest::gtest_main GTest::gmock)
  if(needs)
    add_dependencies(${folder}_tests ${needs})
  endif()
  set(properties TIMEOUT 300 ${ARG_PROPERTIES})
  if(WIN32)
    list(APPEND properties FIXTURES_REQUIRED wine)  # the Wine session
    if(ARG_WINE_SERVICES)
      list(APPEND properties RESOURCE_LOCK wine_services)
    endif()
  endif()
  gtest_discover_tests(${folder}_tests TEST_PREFIX "${folder}." DISCOVERY_TIMEOUT 60
                       PROPERTIES ${properties})
endfunction()

# quarrin_executable(<name> <main> [DEPS <target>...]): a program stamped
# with its version; on Windows it also carries the event-log message table.
function(quarrin_executable name main)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_executable(${name} ${main})
  quarrin_stamp_version(${name} ${name})
  if(WIN32)
    quarrin_event_messages(${name})
  endif()
  quarrin_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
endfunction()

# quarrin_embed_image(<name> <target>): the object library <name>_image that
# carries the file of <target>, without its debugging sections, as read-only
# data between <name>_begin and <name>_end.
function(quarrin_embed_image name target)
  set(IMAGE "${CMAKE_CURRENT_BINARY_DIR}/${name}.image")
  add_custom_command(OUTPUT ${IMAGE}
    COMMAND ${CMAKE_OBJCOPY} --strip-debug $<TARGET_FILE:${target}> ${IMAGE}
    DEPENDS ${target})
  set(SYMBOL ${name})
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${name}_image.S)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/embedded_module.S.in ${source} @ONLY)
  set_source_files_properties(${source} PROPERTIES OBJECT_DEPENDS ${IMAGE})
  add_library(${name}_image OBJECT ${source} ${IMAGE})
endfunction()

# quarrin_embedded_module(<name> MAP <version script> SOURCES <file>...
#                         [DEPS <target>...]): the shared object <name>, which
# exports only what MAP names, and the object library <name>_image that
# carries it (see platform/process/embedded_module_linux.h).
function(quarrin_embedded_module name)
  cmake_parse_arguments(ARG "" "MAP" "SOURCES;DEPS" ${ARGN})
  add_library(${name} MODULE ${ARG_SOURCES})
  quarrin_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  set(map ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_MAP})
  target_link_options(${name} PRIVATE LINKER:--version-script=${map})
  # Every symbol resolved at link time, but in the fuzz build: clang puts the
  # sanitizers' runtime in the executable only, where the module finds it
  # when loaded.
  if(NOT QUARRIN_FUZZ)
    target_link_options(${name} PRIVATE LINKER:-z,defs)
  endif()
  set_target_properties(${name} PROPERTIES LINK_DEPENDS ${map})
  quarrin_embed_image(${name} ${name})
endfunction()

# quarrin_embedded_program(<name> SOURCES <file>... [DEPS <target>...]): the
# program <name> and the object library <name>_image that carries it, for a
# program that runs it from memory as a helper.
function(quarrin_embedded_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  quarrin_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  quarrin_embed_image(${name} ${name})
endfunction()
