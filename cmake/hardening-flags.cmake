# The hardening that Debian's dpkg-buildflags gives a package (hardening=+all),
# for the shipped programs in optimised builds: a stack protector, the C
# library's checked variants of string, memory and formatting calls, and
# relocations resolved at start and then made read-only. _FORTIFY_SOURCE
# needs the optimiser, and the sanitizer builds bring their own checks. The
# Debian package takes these flags from dpkg-buildflags and turns this off.
option(DORMIX_HARDENING "Stack protector, _FORTIFY_SOURCE, RELRO and bind-now in optimised builds"
       ON)
# On 32-bit ARM the stack guard lives in the dynamic loader, which the daemon
# would then need besides libc, and the checks push the read-only data across
# a page boundary: the daemon grows by a third, past its 12 KiB budget.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
  set(stack_protector_default OFF)
else()
  set(stack_protector_default ON)
endif()
option(DORMIX_STACK_PROTECTOR "With DORMIX_HARDENING: -fstack-protector-strong"
       ${stack_protector_default})

# dormix_harden(TARGET...): the flags above for these targets.
function(dormix_harden)
  if(NOT DORMIX_HARDENING OR DORMIX_SANITIZE)
    return()
  endif()
  set(optimised "$<CONFIG:Release,MinSizeRel>")
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE
      "$<${optimised}:-Wformat;-Werror=format-security>"
      "$<$<AND:${optimised},$<BOOL:${DORMIX_STACK_PROTECTOR}>>:-fstack-protector-strong>")
    target_compile_definitions(${target} PRIVATE "$<${optimised}:_FORTIFY_SOURCE=2>")
    # musl's static-pie start code never write-protects the RELRO range (see
    # cmake/toolchains/musl-static.cmake): there the flags would only pad.
    if(NOT DORMIX_STATIC_MUSL)
      target_link_options(${target} PRIVATE "$<${optimised}:LINKER:-z,relro;LINKER:-z,now>")
    endif()
  endforeach()
endfunction()

dormix_harden(dormix_core dormix)
if(TARGET dormix-check)
  dormix_harden(dormix_datetime dormix_check_lib dormix-check)
endif()
if(TARGET dormix-web)
  dormix_harden(dormix_web_lib dormix-web)
endif()
if(TARGET dormix-lpm)
  dormix_harden(dormix_board_lib dormix-lpm dormix-status)
endif()
