# Run at install time: fills in the installed paths of the init files, which
# depend on the prefix given to "cmake --install", and installs them.
# Expects DORMIX_SOURCE, DORMIX_DESTINATION, DORMIX_NAME, DORMIX_PERMISSIONS.
set(SBINDIR "${CMAKE_INSTALL_PREFIX}/${DORMIX_SBINDIR}")
set(SETTINGS "/opt/dormix/etc/settings")
set(configured "${DORMIX_BINARY_DIR}/install-time/${DORMIX_NAME}")
configure_file("${DORMIX_SOURCE}" "${configured}" @ONLY)
file(INSTALL DESTINATION "${DORMIX_DESTINATION}" TYPE FILE FILES "${configured}"
     PERMISSIONS ${DORMIX_PERMISSIONS})
