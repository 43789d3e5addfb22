# Windows programs for the end-to-end tests, built by the Windows cross build.
set(E2E_BIN "${CMAKE_BINARY_DIR}/e2e")
file(MAKE_DIRECTORY "${E2E_BIN}")

add_executable(launch "${ROOT}/tests/e2e/helpers/launch.c")
target_compile_options(launch PRIVATE -municode -O2)
target_link_options(launch PRIVATE -municode -static)
target_link_libraries(launch PRIVATE advapi32 shell32 user32)
set_target_properties(launch PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${E2E_BIN}")

# The test setup engines: 32-bit with this toolchain, 64-bit with the x86_64 compiler.
set(ENGINE_SRC "${ROOT}/tests/engines/engine.c")
add_executable(engine32 WIN32 "${ENGINE_SRC}")
target_compile_options(engine32 PRIVATE -municode -Os)
target_link_options(engine32 PRIVATE -municode -static -s)
target_link_libraries(engine32 PRIVATE advapi32 shell32)
set_target_properties(engine32 PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${E2E_BIN}")
add_custom_command(OUTPUT "${E2E_BIN}/engine64.exe"
  COMMAND x86_64-w64-mingw32-gcc -municode -mwindows -Os -s -static -o "${E2E_BIN}/engine64.exe" "${ENGINE_SRC}"
          -ladvapi32 -lshell32
  DEPENDS "${ENGINE_SRC}")
add_custom_target(engine64 ALL DEPENDS "${E2E_BIN}/engine64.exe")
