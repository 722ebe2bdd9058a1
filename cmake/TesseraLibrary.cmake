# tessera_subsystem(NAME SOURCES... [DEPS libs...])
# One static, position-independent library per subsystem folder; headers sit next to sources
# and are included from the repository root ("device/iso15765.h").
function(tessera_subsystem name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} Threads::Threads PRIVATE tessera_warnings)
  set_property(GLOBAL APPEND PROPERTY TESSERA_SUBSYSTEM_LIBRARIES ${name})
endfunction()

# tessera_test(NAME SOURCES... DEPS libs...) — a GoogleTest executable registered with CTest.
function(tessera_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main tessera_warnings)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

# tessera_test_folder(DEPS libs... [EXTRA_SOURCES files...]) — every *_test.cpp in the calling
# folder becomes its own test executable, so one broken file never hides the others.
function(tessera_test_folder)
  cmake_parse_arguments(ARG "" "" "DEPS;EXTRA_SOURCES" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  foreach(test_source IN LISTS tests)
    get_filename_component(test_name ${test_source} NAME_WE)
    tessera_test(${folder}_${test_name} SOURCES ${test_source} ${ARG_EXTRA_SOURCES} DEPS ${ARG_DEPS})
  endforeach()
endfunction()
