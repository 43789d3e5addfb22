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

# A DLL to plant beside installers, and a program that imports mpr the unsafe way.
add_library(planted_mpr SHARED "${ROOT}/tests/e2e/helpers/planted_mpr.c")
set_target_properties(planted_mpr PROPERTIES PREFIX "" OUTPUT_NAME "mpr" RUNTIME_OUTPUT_DIRECTORY "${E2E_BIN}/planted")
target_link_options(planted_mpr PRIVATE -static -s -Wl,--kill-at)
add_executable(static_mpr_user WIN32 "${ROOT}/tests/e2e/helpers/static_mpr_user.c")
target_link_libraries(static_mpr_user PRIVATE mpr)
target_link_options(static_mpr_user PRIVATE -static -s)
set_target_properties(static_mpr_user PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${E2E_BIN}")
