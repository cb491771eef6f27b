# What a Windows build needs beyond the common build.

set(ZO_PLATFORM Windows)

# CLI11 and nlohmann-json are header-only. Cross-compiled, their CMake configurations (Debian's,
# for the host) would add /usr/include, which lets the host's C library headers into the
# compile: their headers are copied into the build, and targets of the same names point at the
# copy alone. Built on Windows itself, their own configurations serve.
if(CMAKE_CROSSCOMPILING)
  set(ZO_HEADER_ONLY ${CMAKE_BINARY_DIR}/header-only)
  foreach(header CLI/CLI.hpp nlohmann/json.hpp)
    get_filename_component(folder ${header} DIRECTORY)
    find_path(ZO_${folder}_INCLUDE ${header} PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
              NO_DEFAULT_PATH)
    if(NOT ZO_${folder}_INCLUDE)
      message(FATAL_ERROR "${header} not found (Debian: libcli11-dev, nlohmann-json3-dev)")
    endif()
    file(COPY ${ZO_${folder}_INCLUDE}/${folder} DESTINATION ${ZO_HEADER_ONLY})
  endforeach()
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${ZO_HEADER_ONLY})
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${ZO_HEADER_ONLY})
else()
  find_package(CLI11 CONFIG REQUIRED)
  find_package(nlohmann_json 3.11 REQUIRED)
endif()

# The Windows headers without their rarely used parts, without the min and max macros, and at
# the level of Windows 7 (the overlapped serial calls, ReplaceFileW, CancelIoEx).
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 UNICODE _UNICODE)
