# The hardening flags Debian's dpkg-buildflags gives packaged C and C++ code,
# applied to every optimised build (Release, RelWithDebInfo, MinSizeRel) so
# that what the tests run is what gets packaged. Sanitizer builds are left
# alone: their own instrumentation conflicts with fortified functions, and
# _FORTIFY_SOURCE needs optimisation to do anything at all.
include(CheckCCompilerFlag)
include(CheckCXXCompilerFlag)
include(CheckPIESupported)

option(ZZV_HARDEN "Build optimised configurations with the distribution's hardening flags" ON)

# Position-independent executables everywhere: Debian's compiler already
# defaults to them, and the flag keeps other toolchains in line.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
check_pie_supported(LANGUAGES C CXX)

# Nothing links against a shared library of this project, so no build or
# installed binary needs a run path.
set(CMAKE_SKIP_RPATH ON)

if(ZZV_HARDEN AND NOT ZZV_SANITIZE)
  set(_zzv_optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
  set(_zzv_hardening_compile
    -fstack-protector-strong
    # Undefine first: some compilers predefine another level.
    -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2
    -Wformat -Werror=format-security)
  check_cxx_compiler_flag(-fstack-clash-protection ZZV_HAVE_STACK_CLASH_PROTECTION)
  if(ZZV_HAVE_STACK_CLASH_PROTECTION)
    list(APPEND _zzv_hardening_compile -fstack-clash-protection)
  endif()
  check_cxx_compiler_flag(-fcf-protection ZZV_HAVE_CF_PROTECTION)
  if(ZZV_HAVE_CF_PROTECTION)
    list(APPEND _zzv_hardening_compile -fcf-protection)
    # BLAKE3's assembly marks its entry points for indirect-branch tracking
    # when __CET__ is defined, which -fcf-protection does.
    add_compile_options("$<$<AND:${_zzv_optimised},$<COMPILE_LANGUAGE:ASM>>:-fcf-protection>")
  endif()
  foreach(_flag IN LISTS _zzv_hardening_compile)
    add_compile_options("$<$<AND:${_zzv_optimised},$<COMPILE_LANGUAGE:C,CXX>>:${_flag}>")
  endforeach()
  add_link_options("$<${_zzv_optimised}:LINKER:-z,relro,-z,now>")
  list(JOIN _zzv_hardening_compile " " _zzv_shown)
  message(STATUS "Hardening flags for optimised builds: ${_zzv_shown} -Wl,-z,relro,-z,now")
endif()
