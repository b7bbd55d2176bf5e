# Native tree: the portable code and its unit tests, under the address and UB sanitizers.
add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
add_link_options(-fsanitize=address,undefined)

add_library(tarvelo_portable STATIC ${PORTABLE_SOURCES})
target_include_directories(tarvelo_portable PUBLIC ${CMAKE_SOURCE_DIR})

find_package(GTest REQUIRED)
include(GoogleTest)
file(GLOB NATIVE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*.cpp)
add_executable(native_tests ${NATIVE_TESTS})
target_link_libraries(native_tests PRIVATE tarvelo_portable GTest::gtest_main)
target_compile_definitions(native_tests PRIVATE TARVELO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
gtest_discover_tests(native_tests DISCOVERY_TIMEOUT 60)
