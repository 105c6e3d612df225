# The examples run under a probe (ExampleProbe.cpp, linked in with wrapped
# library calls): each runs a few frames on the harness's display with a
# scripted set of keys, its frames read back and checked, then ends on
# Escape. test_example_package installs the library into a scratch prefix
# and builds and runs the sprites example as a separate project over it.
set(RIDOV_EXAMPLE_PROBE_WRAPS
  -Wl,--wrap=_Z17PresentBackBufferv -Wl,--wrap=_Z9IsKeyDowni -Wl,--wrap=_Z15PlaySoundHandleiii
  -Wl,--wrap=_Z16DrawTextWithFontiiPKcjiji -Wl,--wrap=_Z15LibraryShutDownv)

# ridov_example_test(<example> <check> <software>)
function(ridov_example_test example check software)
  set(name example_${example}_probe)
  add_executable(${name} ${PROJECT_SOURCE_DIR}/examples/${example}.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/examples/ExampleProbe.cpp)
  target_link_libraries(${name} PRIVATE RiDov)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/Source/Library/Main
    ${PROJECT_SOURCE_DIR}/Source/Library/Main/Windows ${CMAKE_CURRENT_SOURCE_DIR}/draw)
  target_compile_definitions(${name} PRIVATE ${check} EXAMPLE_SOFTWARE=${software})
  target_compile_options(${name} PRIVATE ${RIDOV_WARNINGS})
  target_link_options(${name} PRIVATE ${RIDOV_EXAMPLE_PROBE_WRAPS})
  # The example writes its files into the folder it runs in.
  set(run ${CMAKE_CURRENT_BINARY_DIR}/example_runs/${example})
  file(MAKE_DIRECTORY ${run})
  add_test(NAME test_example_${example} COMMAND ${name} WORKING_DIRECTORY ${run})
  set_tests_properties(test_example_${example} PROPERTIES TIMEOUT 90 LABELS display RESOURCE_LOCK main_window
    PASS_REGULAR_EXPRESSION "(^|\n)PASS" FAIL_REGULAR_EXPRESSION "FAIL:")
endfunction()

ridov_example_test(sprites EXAMPLE_SPRITES 0)
ridov_example_test(software_mode EXAMPLE_SPRITES 1)
ridov_example_test(text_and_filter EXAMPLE_TEXT 0)

add_test(NAME test_example_package COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/examples/run_package.sh
  ${CMAKE_COMMAND} ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${RIDOV_DEPS_PREFIX})
set_tests_properties(test_example_package PROPERTIES TIMEOUT 240 LABELS display RESOURCE_LOCK main_window
  PASS_REGULAR_EXPRESSION "(^|\n)PASS" FAIL_REGULAR_EXPRESSION "FAIL:")
