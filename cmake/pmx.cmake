# Sources are picked up by folder: adding a file to a subsystem needs no CMake edit.
function(pmx_glob out dir)
  file(GLOB files CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h)
  set(${out} ${files} PARENT_SCOPE)
endfunction()

# pmx_add_library(NAME DIR folder [LIBS ...]): a static library of one folder's sources.
function(pmx_add_library name)
  cmake_parse_arguments(ARG "" "DIR" "LIBS;EXCLUDE" ${ARGN})
  pmx_glob(sources ${ARG_DIR})
  foreach(excluded ${ARG_EXCLUDE})
    list(FILTER sources EXCLUDE REGEX "/${excluded}$")
  endforeach()
  set(cpp ${sources})
  list(FILTER cpp INCLUDE REGEX "\\.cpp$")
  if(NOT cpp)
    # A subsystem not built yet: an empty library keeps its users linking.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_LIBS} Threads::Threads)
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS} Threads::Threads)
endfunction()

# pmx_add_test(NAME DIR folder LIBS ... [LABELS ...]): one GoogleTest binary of a
# test folder. Every test runs with Qt's offscreen platform.
include(GoogleTest)
find_package(GTest REQUIRED)
function(pmx_add_test name)
  cmake_parse_arguments(ARG "" "DIR" "LIBS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${ARG_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} pmx_test_support GTest::gtest GTest::gmock)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS "${ARG_LABELS}" TIMEOUT 300)
endfunction()
