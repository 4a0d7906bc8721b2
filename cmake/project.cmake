# Build settings shared by every target of the project.

if(WIN32)
  set(NVK_WINDOWS ON)
  set(NVK_PLATFORM_DIR win32)
else()
  set(NVK_WINDOWS OFF)
  set(NVK_PLATFORM_DIR posix)
endif()

# Warnings are errors in every build.
add_library(nvk_options INTERFACE)
target_compile_options(nvk_options INTERFACE
  -Wall -Wextra -Wpedantic -Werror -Wshadow -Wnon-virtual-dtor -Wcast-align
  -Wold-style-cast -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)
target_include_directories(nvk_options INTERFACE ${PROJECT_SOURCE_DIR})

if(NVK_WINDOWS)
  target_compile_definitions(nvk_options INTERFACE
    WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0600 WINVER=0x0600 _WIN32_IE=0x0700)
  # Everything static: the exe imports only system DLLs.
  target_link_options(nvk_options INTERFACE -static -static-libgcc -static-libstdc++)
  # Code and data nobody calls stay out of the shipped exe.
  target_compile_options(nvk_options INTERFACE -ffunction-sections -fdata-sections)
  target_link_options(nvk_options INTERFACE -Wl,--gc-sections)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(NVK_MINGW_ARCH i686)
  else()
    set(NVK_MINGW_ARCH x86_64)
  endif()
  set(NVK_LIBJPEG_PREFIX ${PROJECT_SOURCE_DIR}/.deps/libjpeg-${NVK_MINGW_ARCH})
endif()

if(NVK_SANITIZE)
  target_compile_options(nvk_options INTERFACE -fsanitize=${NVK_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(nvk_options INTERFACE -fsanitize=${NVK_SANITIZE})
endif()

# nvk_add_library(name SOURCES ... LIBS ...): a static library of the project.
function(nvk_add_library name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_link_libraries(${name} PUBLIC nvk_options ${A_LIBS})
endfunction()

# Every program lands in bin/, so that the stand-in installer sits beside the setup program.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
