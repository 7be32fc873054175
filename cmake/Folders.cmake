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

# quarrin_tests(<folder> [DEPS <target>...] [NEEDS <target>...]): the
# folder's *_test.cc files as one runner, <folder>_tests, linked with DEPS;
# NEEDS names the programs its tests start.
function(quarrin_tests folder)
  cmake_parse_arguments(ARG "" "" "DEPS;NEEDS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cc)
  add_executable(${folder}_tests ${tests})
  quarrin_warnings(${folder}_tests)
  target_link_libraries(${folder}_tests PRIVATE
    ${ARG_DEPS} quarrin_testing GTest::gtest GTest::gtest_main GTest::gmock)
  if(ARG_NEEDS)
    add_dependencies(${folder}_tests ${ARG_NEEDS})
  endif()
  gtest_discover_tests(${folder}_tests TEST_PREFIX "${folder}." DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 300)
endfunction()

# quarrin_executable(<name> <main> [DEPS <target>...]): a program stamped
# with its version.
function(quarrin_executable name main)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_executable(${name} ${main})
  quarrin_stamp_version(${name} ${name})
  quarrin_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
endfunction()
