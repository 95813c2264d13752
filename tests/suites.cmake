# The tests/*/run scripts check built programs and packages as a user meets them, each building what it
# needs and ending "N passed, N failed". FERRYLINE_SUITES names those this build's ctest runs, by folder,
# or "all"; each is labelled by its folder, except that cli (the console build under Wine) is labelled wine.
set(FERRYLINE_SUITES "" CACHE STRING "tests/*/run suites for ctest: folder names, or all")
if(FERRYLINE_SUITES STREQUAL "all")
  file(GLOB suite_runners CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/*/run)
else()
  list(TRANSFORM FERRYLINE_SUITES PREPEND ${PROJECT_SOURCE_DIR}/tests/ OUTPUT_VARIABLE suite_runners)
  list(TRANSFORM suite_runners APPEND /run)
endif()
if(suite_runners)
  enable_testing()
endif()
foreach(runner IN LISTS suite_runners)
  get_filename_component(suite_dir ${runner} DIRECTORY)
  get_filename_component(suite ${suite_dir} NAME)
  set(label ${suite})
  set(arguments "")
  if(suite STREQUAL "cli")
    set(label wine)
  elseif(suite STREQUAL "package" OR suite STREQUAL "reliability")
    set(arguments ${CMAKE_BINARY_DIR})  # the packages or the converter of this build
  endif()
  add_test(NAME ${suite} COMMAND ${runner} ${arguments} WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
  # They share Wine prefixes, displays and both cores: one at a time.
  # The self-tests run the other suites (and build the fuzz targets once more): longer.
  if(suite STREQUAL "selftest")
    set(timeout 3600)
  else()
    set(timeout 1800)
  endif()
  set_tests_properties(${suite} PROPERTIES LABELS ${label} TIMEOUT ${timeout} RUN_SERIAL ON)
endforeach()
