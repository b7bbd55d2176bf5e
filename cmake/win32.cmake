# Windows tree: the product, its in-process tests and the end-to-end tools, all 32-bit and static.

# A tree keeps the compiler of its first configuration. Asking an existing tree for another thread
# model would otherwise be ignored without a word, and the shipped exe measured with the wrong one.
if(TARVELO_THREAD_MODEL AND NOT CMAKE_CXX_COMPILER MATCHES "-${TARVELO_THREAD_MODEL}$")
  message(FATAL_ERROR "${CMAKE_BINARY_DIR} was configured with ${CMAKE_CXX_COMPILER}, not the "
                      "${TARVELO_THREAD_MODEL} thread model asked for: delete that folder and configure again.")
endif()
add_compile_definitions(UNICODE _UNICODE WINVER=0x0601 _WIN32_WINNT=0x0601 NOMINMAX)
# System functions are called through their import thunks rather than through the import
# address table directly: the shipped exe binds most system DLLs on first call (see
# DELAY_LOADED_DLLS), and GNU ld keeps a delay-import thunk, whose stub the table first points
# at, only when the thunk itself is referenced.
add_compile_definitions(DECLSPEC_IMPORT=)
add_compile_options(-Os -ffunction-sections -fdata-sections
  "$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include \"${CMAKE_SOURCE_DIR}/cmake/compact_strings.h\">")
add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--gc-sections)

# Test executables run under Wine in the tree's own prefix.
set(WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(WINE_LOADER /usr/lib/wine/wine64)
else()
  set(WINE_LOADER wine)
endif()
configure_file(${CMAKE_SOURCE_DIR}/tools/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
  @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(PE_FORMAT pei-x86-64)
else()
  set(PE_FORMAT pei-i386)
endif()
set(SYSTEM_LIBS winhttp cabinet wintrust crypt32 comctl32 oleacc oleaut32 ole32 shlwapi shell32 advapi32 gdi32 user32 kernel32)

add_library(tarvelo_portable STATIC ${PORTABLE_SOURCES})
target_include_directories(tarvelo_portable PUBLIC ${CMAKE_SOURCE_DIR})

add_library(tarvelo_win32 STATIC ${WINDOWS_SOURCES} ${CMAKE_SOURCE_DIR}/cmake/anchor.cpp)
target_link_libraries(tarvelo_win32 PUBLIC tarvelo_portable ${SYSTEM_LIBS})

# Dialog templates, icon and manifest; test programs get the same templates as the product.
add_library(tarvelo_resources OBJECT ${CMAKE_SOURCE_DIR}/resources/TarveloSetup.rc)
target_include_directories(tarvelo_resources PRIVATE ${CMAKE_SOURCE_DIR}/resources)

# The exe is started from the user's Downloads folder, where a web page can drop a DLL of any
# name. When the exe is loaded, only kernel32 and msvcrt are bound; the loader finds them among
# the known DLLs, never beside the exe. Every other system DLL (and, under Wine, the DLLs those
# import) is loaded on its first call, after wWinMain has restricted the search to the system
# folder.
set(DELAY_LOADED_DLLS user32 gdi32 advapi32 shell32 shlwapi comctl32 winhttp cabinet wintrust crypt32 oleacc oleaut32 ole32)
set(DELAY_IMPORT_LIBS "")
foreach(dll IN LISTS DELAY_LOADED_DLLS)
  find_library(IMPORT_LIB_${dll} NAMES ${dll} REQUIRED)
  set(out ${CMAKE_BINARY_DIR}/delay-import/lib${dll}_delay.a)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDLLTOOL=${CMAKE_DLLTOOL} -DIMPORT_LIB=${IMPORT_LIB_${dll}}
            -DDLL=${dll}.dll -DOUT=${out} -DLEADING_UNDERSCORE=$<STREQUAL:${CMAKE_SYSTEM_PROCESSOR},i686>
            -P ${CMAKE_SOURCE_DIR}/cmake/delay_import_lib.cmake
    DEPENDS ${IMPORT_LIB_${dll}} ${CMAKE_SOURCE_DIR}/cmake/delay_import_lib.cmake VERBATIM)
  list(APPEND DELAY_IMPORT_LIBS ${out})
endforeach()
add_custom_target(delay_import_libs DEPENDS ${DELAY_IMPORT_LIBS})

# The shipped program, linked the one way whether or not it carries its inputs.
function(tarvelo_program target)
  add_executable(${target} WIN32 ${ARGN} ${CMAKE_SOURCE_DIR}/app/main.cpp ${CMAKE_SOURCE_DIR}/app/lean_runtime.cpp
    $<TARGET_OBJECTS:tarvelo_resources>)
  add_dependencies(${target} delay_import_libs)
  # After the product's libraries and before the import libraries they pull in, so that each
  # call into those DLLs binds to its delay-import stub.
  target_link_libraries(${target} PRIVATE tarvelo_win32 ${DELAY_IMPORT_LIBS})
  # The link map lets the benchmarks say where the exe's bytes go.
  target_link_options(${target} PRIVATE -municode -s -Wl,-Map=$<TARGET_FILE_DIR:${target}>/${target}.map)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND sh -c "echo ${target}.exe: $(stat -c %s \"$1\") bytes" sh $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()
tarvelo_program(TarveloSetup)

# The release exe: the same program with its configuration, text tables and skin carried inside
# it as one resource. tools/release.sh writes the archive (carried/inputs.bin) and builds this
# target on demand.
set(CARRIED_DIR ${CMAKE_BINARY_DIR}/carried)
file(MAKE_DIRECTORY ${CARRIED_DIR})
file(WRITE ${CARRIED_DIR}/carried.rc "CARRIED_INPUTS RCDATA \"inputs.bin\"\n")
add_library(tarvelo_carried_resource OBJECT ${CARRIED_DIR}/carried.rc)
# windres finds the archive through the include path, so the checkout's folder name (which may
# hold any letters) never has to be written into a resource script.
target_include_directories(tarvelo_carried_resource PRIVATE ${CARRIED_DIR})
set_source_files_properties(${CARRIED_DIR}/carried.rc PROPERTIES OBJECT_DEPENDS ${CARRIED_DIR}/inputs.bin)
set_target_properties(tarvelo_carried_resource PROPERTIES EXCLUDE_FROM_ALL ON)
tarvelo_program(TarveloSetupRelease $<TARGET_OBJECTS:tarvelo_carried_resource>)
set_target_properties(TarveloSetupRelease PROPERTIES EXCLUDE_FROM_ALL ON)

# The run folder: the default configuration, text table and skin placed beside the exe.
add_custom_target(run_folder ALL
  COMMAND ${CMAKE_COMMAND} -DSRC=${CMAKE_SOURCE_DIR} -DDST=${CMAKE_BINARY_DIR}/run
          -P ${CMAKE_SOURCE_DIR}/cmake/run_folder.cmake
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:TarveloSetup> ${CMAKE_BINARY_DIR}/run/
  DEPENDS TarveloSetup)

add_test(NAME exe_imports_known_dlls_only
  COMMAND bash ${CMAKE_SOURCE_DIR}/tools/check-imports.sh $<TARGET_FILE:TarveloSetup> ${PE_FORMAT})

# GoogleTest, built from source with the same compilers.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Shared helpers of the in-process tests.
file(GLOB TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/support/*.cpp)
add_library(test_support STATIC ${TEST_SUPPORT})
target_link_libraries(test_support PUBLIC tarvelo_win32 gtest ole32)
target_include_directories(test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests/win32)

# The carried-inputs test program carries a small cabinet of its own, packed by the release
# command's own packer: the sample configuration, the English texts and one skin image.
set(TEST_CARRIED_DIR ${CMAKE_BINARY_DIR}/test-carried)
file(MAKE_DIRECTORY ${TEST_CARRIED_DIR})
file(WRITE ${TEST_CARRIED_DIR}/carried.rc "CARRIED_INPUTS RCDATA \"inputs.bin\"\n")
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_command(OUTPUT ${TEST_CARRIED_DIR}/inputs.bin
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/release.py pack ${TEST_CARRIED_DIR}/inputs.bin
          ConfigFile.txt=${CMAKE_SOURCE_DIR}/data/ConfigFile.txt
          Resource-en-GB.txt=${CMAKE_SOURCE_DIR}/data/Resource-en-GB.txt
          Images/Smallest.bmp=${CMAKE_BINARY_DIR}/run/Images/Smallest.bmp
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/release.py run_folder VERBATIM)
add_custom_target(test_carried_archive DEPENDS ${TEST_CARRIED_DIR}/inputs.bin)
add_library(test_carried_resource OBJECT ${TEST_CARRIED_DIR}/carried.rc)
target_include_directories(test_carried_resource PRIVATE ${TEST_CARRIED_DIR})
set_source_files_properties(${TEST_CARRIED_DIR}/carried.rc PROPERTIES OBJECT_DEPENDS ${TEST_CARRIED_DIR}/inputs.bin)
add_dependencies(test_carried_resource test_carried_archive)

# Each in-process test file is a program of its own, so that process-wide singletons start fresh.
file(GLOB WIN32_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*_test.cpp)
foreach(src IN LISTS WIN32_TESTS)
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src} $<TARGET_OBJECTS:tarvelo_resources>)
  target_link_libraries(${name} PRIVATE test_support gtest_main)
  if(name STREQUAL "carried_inputs_test")
    target_sources(${name} PRIVATE $<TARGET_OBJECTS:test_carried_resource>)
  endif()
  if(name STREQUAL "text_fit_test")
    continue()
  endif()
  add_test(NAME win32_${name} COMMAND ${name})
  set_tests_properties(win32_${name} PROPERTIES TIMEOUT 300
    ENVIRONMENT "TARVELO_SOURCE_DIR=${CMAKE_SOURCE_DIR};TARVELO_BUILD_DIR=${CMAKE_BINARY_DIR}")
endforeach()

# Real key input goes to the one foreground window of the Wine desktop, which the other tests'
# dialogs would take.
set_tests_properties(win32_keyboard_test PROPERTIES RUN_SERIAL TRUE)
# The background drag is real mouse input too: another test's dialog under the pointer takes the
# press, and the moving pointer reaches that dialog as its own mouse moves.
set_tests_properties(win32_bitmap_dialog_test PROPERTIES RUN_SERIAL TRUE)

# The text-fit test runs once per shipped language (the text table is fixed per process) and
# display scale (Wine's DPI is fixed per prefix: tools/with-dpi.sh runs it in a copy of the
# tree's prefix at that DPI): 100, 125, 150 and 200 %.
set(TEST_DPIS 96 120 144 192)
file(GLOB SHIPPED_TEXT_TABLES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/data/Resource-*.txt)
foreach(table IN LISTS SHIPPED_TEXT_TABLES)
  string(REGEX REPLACE ".*/Resource-(.*)\\.txt$" "\\1" language ${table})
  foreach(dpi IN LISTS TEST_DPIS)
    math(EXPR percent "${dpi} * 100 / 96")
    add_test(NAME win32_text_fit_${language}_${percent}
      COMMAND bash ${CMAKE_SOURCE_DIR}/tools/with-dpi.sh ${dpi} ${CMAKE_BINARY_DIR}/wine-run.sh $<TARGET_FILE:text_fit_test>)
    set_tests_properties(win32_text_fit_${language}_${percent} PROPERTIES TIMEOUT 300
      ENVIRONMENT "TARVELO_SOURCE_DIR=${CMAKE_SOURCE_DIR};TARVELO_BUILD_DIR=${CMAKE_BINARY_DIR};TARVELO_TEXT_LANGUAGE=${language};WINE_PREFIX=${WINE_PREFIX}")
  endforeach()
endforeach()
# The display-scale test starts at the reference DPI and at 150 %, and moves between scales.
add_test(NAME win32_display_scale_test_150
  COMMAND bash ${CMAKE_SOURCE_DIR}/tools/with-dpi.sh 144 ${CMAKE_BINARY_DIR}/wine-run.sh $<TARGET_FILE:display_scale_test>)
set_tests_properties(win32_display_scale_test_150 PROPERTIES TIMEOUT 300
  ENVIRONMENT "TARVELO_SOURCE_DIR=${CMAKE_SOURCE_DIR};TARVELO_BUILD_DIR=${CMAKE_BINARY_DIR};WINE_PREFIX=${WINE_PREFIX}")

# Every installer dialog shown in turn for tools/dialog-screenshots.sh (a tool, built on demand).
add_executable(dialog_gallery EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tests/win32/gallery/dialog_gallery.cpp
  $<TARGET_OBJECTS:tarvelo_resources>)
target_link_libraries(dialog_gallery PRIVATE test_support)
target_link_options(dialog_gallery PRIVATE -municode)

# Helper programs of the end-to-end tests (robot, stubs): one program per file. The signature
# probe runs the product's own signature check, so it links the product's library.
file(GLOB TOOL_PROGRAMS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/tools/*.cpp)
foreach(src IN LISTS TOOL_PROGRAMS)
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  if(name STREQUAL "signature_probe")
    target_link_libraries(${name} PRIVATE tarvelo_win32)
  else()
    target_link_libraries(${name} PRIVATE tarvelo_portable ${SYSTEM_LIBS})
  endif()
  target_link_options(${name} PRIVATE -municode)
endforeach()

# The DLL planted beside the exe by the end-to-end tests: it records every process that loads it.
add_library(planted_recorder SHARED ${CMAKE_SOURCE_DIR}/tests/tools/planted/recording_dll.cpp)
set_target_properties(planted_recorder PROPERTIES PREFIX "")

# End-to-end tests: one Python file each, run serially because they drive the real program.
file(GLOB E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/test_*.py)
foreach(src IN LISTS E2E_TESTS)
  get_filename_component(name ${src} NAME_WE)
  add_test(NAME e2e_${name} COMMAND ${Python3_EXECUTABLE} ${src})
  # Each file runs on an X display of its own, with its own Wine prefixes, servers on free ports
  # and scratch folders, so the files run side by side.
  set_tests_properties(e2e_${name} PROPERTIES TIMEOUT 900
    ENVIRONMENT "TARVELO_SOURCE_DIR=${CMAKE_SOURCE_DIR};TARVELO_BUILD_DIR=${CMAKE_BINARY_DIR};WINE_PREFIX=${WINE_PREFIX};TARVELO_E2E_OWN_DISPLAY=1")
endforeach()

# In-process tests that need the local servers: the wrapper starts nginx, the fault server and
# squid on free loopback ports and hands the ports over in the environment.
file(GLOB NET_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*_nettest.cpp)
# The worker test also checks signed prerequisites: it runs in a prefix of its own that trusts
# the test code-signing root.
foreach(src IN LISTS NET_TESTS)
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src} $<TARGET_OBJECTS:tarvelo_resources>)
  target_link_libraries(${name} PRIVATE test_support gtest_main)
  set(wrapper_options "")
  if(name STREQUAL "worker_nettest")
    set(wrapper_options --code-signing)
  endif()
  add_test(NAME win32_${name}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/servers/run_nettest.py ${wrapper_options}
            ${CMAKE_BINARY_DIR}/wine-run.sh $<TARGET_FILE:${name}>)
  set_tests_properties(win32_${name} PROPERTIES TIMEOUT 600 RUN_SERIAL TRUE
    ENVIRONMENT "TARVELO_SOURCE_DIR=${CMAKE_SOURCE_DIR};TARVELO_BUILD_DIR=${CMAKE_BINARY_DIR}")
endforeach()

# Benchmark programs (bench/run.sh drives them): the bare references link only the system;
# engine_* programs link the installer's own engine and dialog templates.
file(GLOB BENCH_PROGRAMS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
foreach(src IN LISTS BENCH_PROGRAMS)
  get_filename_component(name ${src} NAME_WE)
  if(name MATCHES "^engine_")
    add_executable(bench_${name} ${src} $<TARGET_OBJECTS:tarvelo_resources>)
    target_link_libraries(bench_${name} PRIVATE tarvelo_win32)
    # Carrying inputs makes the engine keep an unfinished download for the next run.
    if(name STREQUAL "engine_continue")
      target_sources(bench_${name} PRIVATE $<TARGET_OBJECTS:test_carried_resource>)
    endif()
  else()
    add_executable(bench_${name} ${src})
    target_link_libraries(bench_${name} PRIVATE ${SYSTEM_LIBS})
  endif()
  if(name STREQUAL "bare_dialog")
    set_target_properties(bench_${name} PROPERTIES WIN32_EXECUTABLE ON)
  endif()
  target_link_options(bench_${name} PRIVATE -municode -s)
endforeach()
