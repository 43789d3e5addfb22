# Windows programs for the end-to-end tests, built by the Windows cross build.
set(E2E_BIN "${CMAKE_BINARY_DIR}/e2e")
file(MAKE_DIRECTORY "${E2E_BIN}")

add_executable(launch "${ROOT}/tests/e2e/helpers/launch.c")
target_compile_options(launch PRIVATE -municode -O2)
target_link_options(launch PRIVATE -municode -static)
target_link_libraries(launch PRIVATE advapi32 shell32 user32)
set_target_properties(launch PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${E2E_BIN}")
