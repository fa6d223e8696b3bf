# Builds the official BLAKE3 C implementation that Debian ships inside
# librust-blake3-dev as a static library `blake3`. The sources stay where the
# package put them; nothing is copied into this tree.
file(GLOB _zzv_blake3_dirs LIST_DIRECTORIES true "/usr/share/cargo/registry/blake3-*/c")
list(SORT _zzv_blake3_dirs)
list(REVERSE _zzv_blake3_dirs)
set(BLAKE3_C_DIR "" CACHE PATH "Directory holding blake3.c (found automatically)")
if(NOT BLAKE3_C_DIR)
  foreach(_dir IN LISTS _zzv_blake3_dirs)
    if(EXISTS "${_dir}/blake3.c")
      set(BLAKE3_C_DIR "${_dir}" CACHE PATH "Directory holding blake3.c (found automatically)" FORCE)
      break()
    endif()
  endforeach()
endif()
if(NOT BLAKE3_C_DIR OR NOT EXISTS "${BLAKE3_C_DIR}/blake3.c")
  message(FATAL_ERROR "BLAKE3 C sources not found; install librust-blake3-dev (scripts/install-deps)")
endif()
message(STATUS "BLAKE3 C sources: ${BLAKE3_C_DIR}")

set(_zzv_blake3_sources
  "${BLAKE3_C_DIR}/blake3.c"
  "${BLAKE3_C_DIR}/blake3_dispatch.c"
  "${BLAKE3_C_DIR}/blake3_portable.c")
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64|amd64" AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  list(APPEND _zzv_blake3_sources
    "${BLAKE3_C_DIR}/blake3_sse2_x86-64_unix.S"
    "${BLAKE3_C_DIR}/blake3_sse41_x86-64_unix.S"
    "${BLAKE3_C_DIR}/blake3_avx2_x86-64_unix.S"
    "${BLAKE3_C_DIR}/blake3_avx512_x86-64_unix.S")
  set(_zzv_blake3_defs "")
else()
  set(_zzv_blake3_defs BLAKE3_NO_SSE2 BLAKE3_NO_SSE41 BLAKE3_NO_AVX2 BLAKE3_NO_AVX512)
endif()
add_library(blake3 STATIC ${_zzv_blake3_sources})
target_include_directories(blake3 SYSTEM PUBLIC "${BLAKE3_C_DIR}")
target_compile_definitions(blake3 PRIVATE ${_zzv_blake3_defs})
set_target_properties(blake3 PROPERTIES POSITION_INDEPENDENT_CODE ON C_STANDARD 99)
