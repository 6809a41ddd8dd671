# End-to-end tests of varnelo-cli: tests/cli_test.py drives the built binary on generated
# trees; each test class (a family of behaviours) is its own ctest entry.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
foreach(family UsageAndExitStatus ScanAndDupes SingleFileCommands Prune ScanProgress InterruptedScan HostileTree)
  add_test(NAME cli.${family}
           COMMAND ${Python3_EXECUTABLE} -m unittest -v cli_test.${family}
           WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  set_tests_properties(cli.${family} PROPERTIES
                       ENVIRONMENT "VARNELO_CLI=$<TARGET_FILE:varnelo-cli>;PYTHONDONTWRITEBYTECODE=1"
                       TIMEOUT 300)
endforeach()
