"""Presses a test guest's power button: system_powerdown over its QMP socket."""
import socket
import sys

with socket.socket(socket.AF_UNIX) as connection:
    connection.connect(sys.argv[1])
    stream = connection.makefile("rw")
    stream.readline()  # the greeting
    for command in ("qmp_capabilities", "system_powerdown"):
        stream.write('{"execute": "%s"}\n' % command)
        stream.flush()
        stream.readline()
