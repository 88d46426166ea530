# Shared build settings and small helpers for both the native and the Windows build.
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
    set(ZLV_WIN ON)
    enable_language(RC)
else()
    set(ZLV_WIN OFF)
endif()

add_compile_options(-Wall -Wextra)

if(ZLV_WIN)
    # Deliverables land straight in build/win/, tests in build/win/tests/.
    set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
    set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
    add_compile_definitions(WINVER=0x0501 _WIN32_WINNT=0x0501 _WIN32_IE=0x0600 WIN32_LEAN_AND_MEAN
                            NOMINMAX)
    add_link_options(-static -static-libgcc -static-libstdc++)
    if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
        add_compile_options(-Os -ffunction-sections -fdata-sections)
        add_link_options(-Wl,--gc-sections -s)
    endif()
elseif(ZLV_SANITIZE AND NOT ZLV_FUZZ)
    add_compile_options(-g -fsanitize=address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# The shipped binaries: small, no exceptions, no RTTI.
function(zlv_product target)
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
    if(ZLV_WIN)
        # msvcrt's own printf instead of mingw's C99 one (25 KB); the formats used are plain.
        target_compile_definitions(${target} PRIVATE __USE_MINGW_ANSI_STDIO=0)
    endif()
endfunction()

# A library of code that needs no Windows: built in both builds, linked into the native tests.
function(zlv_core_library name)
    add_library(${name} STATIC ${ARGN})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    zlv_product(${name})
    set_property(GLOBAL APPEND PROPERTY ZLV_CORE_LIBS ${name})
endfunction()

# A GoogleTest program run under Wine: zlv_win_test(name SOURCES ... LIBS ...)
function(zlv_win_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gtest_main)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
endfunction()

# A native GoogleTest program: zlv_native_test(name SOURCES ... LIBS ...)
function(zlv_native_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gtest_main)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
endfunction()
