# The hardening that Debian's dpkg-buildflags gives a package (hardening=+all):
# a stack protector, the C library's checked variants of string, memory and
# formatting calls, and relocations resolved at start and then made
# read-only. Optimised builds only: _FORTIFY_SOURCE needs the optimiser, and
# the sanitizer builds bring their own checks. The Debian package takes these
# flags from dpkg-buildflags and turns this off.
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

if(DORMIX_HARDENING AND NOT DORMIX_SANITIZE)
  set(optimised "$<CONFIG:Release,MinSizeRel>")
  add_compile_options("$<${optimised}:-Wformat;-Werror=format-security>")
  if(DORMIX_STACK_PROTECTOR)
    add_compile_options("$<${optimised}:-fstack-protector-strong>")
  endif()
  add_compile_definitions("$<${optimised}:_FORTIFY_SOURCE=2>")
  add_link_options("$<${optimised}:LINKER:-z,relro;LINKER:-z,now>")
endif()
