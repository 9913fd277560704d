# dormix_host_runnable(<out_var> <target> [<name>]): a path the host can
# execve that runs the target's program, or, given a name, the link of that
# name beside it (a program that acts on the name it is run by). A test under the cross-compiling emulator that
# execs a program built for the target would otherwise fail: the emulated
# process hands execve to the host kernel, which cannot run a foreign binary
# (binfmt_misc is not assumed). Cross compiling, the path is a host script that
# starts the program under the emulator; it opens no descriptors of its own.
function(dormix_host_runnable out_var target)
  set(program "$<TARGET_FILE:${target}>")
  set(name ${target})
  if(ARGC GREATER 2)
    set(name ${ARGV2})
    set(program "$<TARGET_FILE_DIR:${target}>/${name}")
  endif()
  if(NOT CMAKE_CROSSCOMPILING OR NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(${out_var} "${program}" PARENT_SCOPE)
    return()
  endif()
  set(emulator "")
  foreach(word IN LISTS CMAKE_CROSSCOMPILING_EMULATOR)
    string(APPEND emulator "'${word}' ")
  endforeach()
  # The emulator gives the program the path it runs as its name.
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}.emulated)
  file(GENERATE OUTPUT ${script}
       CONTENT "#!/bin/sh\nexec ${emulator}'${program}' \"$@\"\n"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                        WORLD_READ WORLD_EXECUTE)
  set(${out_var} ${script} PARENT_SCOPE)
endfunction()
