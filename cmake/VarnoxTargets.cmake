include(GoogleTest)

# Applies the project's warning set to a target.
function(varnox_warnings target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${VARNOX_WARNINGS}>)
endfunction()

# A GoogleTest program. Natively every case becomes a ctest test; under Wine one ctest
# test per program, because each Wine start costs far more than the cases themselves.
function(varnox_gtest target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(VARNOX_FUZZ)
    return()
  endif()
  add_executable(${target} ${ARG_SOURCES})
  varnox_warnings(${target})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES TIMEOUT 600)
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 300)
  endif()
endfunction()
