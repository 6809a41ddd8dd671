# varnelo-cli under hostile conditions (tests/cli_reliability_test.py): crowded and
# unreadable trees scanned into a database holding entries, prune racing a link swapper.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME cli.Reliability
         COMMAND ${Python3_EXECUTABLE} -m unittest -v cli_reliability_test.Reliability
         WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
set_tests_properties(cli.Reliability PROPERTIES
                     ENVIRONMENT "VARNELO_CLI=$<TARGET_FILE:varnelo-cli>;PYTHONDONTWRITEBYTECODE=1"
                     TIMEOUT 900)
