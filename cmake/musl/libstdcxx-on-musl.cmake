# The test programs of the musl builds link Debian's libstdc++.a (with
# GoogleTest), which was built against glibc. There is no libstdc++ for musl
# in Debian, and the tests need the standard library where the daemon and
# dormix-check do not. Two small adapters make it link and run:
# - glibc_names.h, forced into every test compile, for the glibc type and
#   constant names in libstdc++'s configured headers;
# - libstdcxx_on_musl.cc for the glibc interfaces libstdc++.a calls: on
#   32-bit ARM it passes 32-bit time values where musl's functions of the
#   same name take 64-bit ones, so those calls are wrapped.
# Included by tests/CMakeLists.txt after GoogleTest is defined.
set(dormix_glibc_names ${CMAKE_CURRENT_LIST_DIR}/glibc_names.h)
add_compile_options(-include ${dormix_glibc_names})
foreach(target gtest gtest_main gmock gmock_main)
  if(TARGET ${target})
    target_compile_options(${target} PRIVATE -include ${dormix_glibc_names})
  endif()
endforeach()

add_library(dormix_libstdcxx_on_musl OBJECT ${CMAKE_CURRENT_LIST_DIR}/libstdcxx_on_musl.cc)
link_libraries(dormix_libstdcxx_on_musl)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_compile_definitions(dormix_libstdcxx_on_musl PRIVATE DORMIX_WRAP_TIME32)
  add_link_options(-Wl,--wrap=clock_gettime -Wl,--wrap=gettimeofday -Wl,--wrap=nanosleep)
endif()
