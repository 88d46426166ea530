# Shared build settings and small helpers for both the native and the Windows build.
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
    set(ZLV_WIN ON)
else()
    set(ZLV_WIN OFF)
endif()

add_compile_options(-Wall -Wextra)

# Where the agent's deployment header lands; zlvtool reads it too.
set(ZLV_AGENT_CONFIG_DIR ${CMAKE_BINARY_DIR}/agent/config)

if(ZLV_WIN)
    if(NOT ZLV_HOST_DIR)
        message(FATAL_ERROR "the Windows build needs ZLV_HOST_DIR: the native build that draws "
                            "the pictures")
    endif()
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

    enable_language(RC)
    # windres names none of the files it reads: a wrapper writes them to the depfile ninja
    # reads, so that editing an included script, header or picture rebuilds the resources.
    find_program(ZLV_PYTHON NAMES python3 REQUIRED)
    set(CMAKE_RC_COMPILE_OBJECT "\"${ZLV_PYTHON}\" \"${CMAKE_SOURCE_DIR}/cmake/rc_deps.py\" \
<DEP_FILE> <OBJECT> <CMAKE_RC_COMPILER> -O coff <DEFINES> <INCLUDES> <FLAGS> <SOURCE> <OBJECT>")

    # Where the agent's drawn pictures land.
    set(ZLV_AGENT_ART_DIR ${CMAKE_BINARY_DIR}/agent/art)

    # The picture generators are native programs, brought up to date in one go (two builds at
    # once in the native folder would trip over each other).
    set(tools art_agent art_conduit art_logo)
    set(tool_files ${tools})
    list(TRANSFORM tool_files PREPEND ${ZLV_HOST_DIR}/)
    add_custom_target(zlv_picture_tools
                      COMMAND ${CMAKE_COMMAND} --build ${ZLV_HOST_DIR} --target ${tools}
                      BYPRODUCTS ${tool_files})
elseif(ZLV_SANITIZE AND NOT ZLV_FUZZ)
    add_compile_options(-g -fsanitize=address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# A module definition file for this build: __stdcall names carry their @N decoration only in
# 32-bit code, so the 64-bit build reads a copy without it (ordinals stay).
function(zlv_def_file out_var def)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        set(${out_var} ${def} PARENT_SCOPE)
        return()
    endif()
    file(READ ${def} text)
    string(REGEX REPLACE "([A-Za-z_][A-Za-z0-9_]*)@[0-9]+" "\\1" text "${text}")
    get_filename_component(name ${def} NAME)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${name})
    file(WRITE ${out} "${text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
    set(${out_var} ${out} PARENT_SCOPE)
endfunction()

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

# Pictures a native generator draws into dir, drawn again when the generator changed:
# zlv_host_pictures(target tool dir file...)
function(zlv_host_pictures target tool dir)
    set(outputs ${ARGN})
    list(TRANSFORM outputs PREPEND ${dir}/)
    add_custom_command(OUTPUT ${outputs}
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
                       COMMAND ${ZLV_HOST_DIR}/${tool} ${dir}
                       DEPENDS ${ZLV_HOST_DIR}/${tool}
                       COMMENT "Drawing ${target}")
    add_custom_target(${target} DEPENDS ${outputs})
    add_dependencies(${target} zlv_picture_tools)
endfunction()

# A GoogleTest program, run under Wine in the Windows build: zlv_test(name SOURCES ... LIBS ...)
function(zlv_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    foreach(source ${T_SOURCES})
        if(NOT source MATCHES "^${CMAKE_SOURCE_DIR}/tests/" AND IS_ABSOLUTE "${source}")
            set_source_files_properties(${source} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
        endif()
    endforeach()
    target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gtest_main)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
endfunction()
