# .deb packages for the architecture being built: amd64 natively, armhf (or
# arm64) with a cross compiler.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(dormix_deb_architecture amd64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(dormix_deb_architecture arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
  set(dormix_deb_architecture armhf)
else()
  set(dormix_deb_architecture ${CMAKE_SYSTEM_PROCESSOR})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dormix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR dormix)
set(CPACK_PACKAGE_CONTACT "dormix maintainers <dormix@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Router sleep daemon with a settings checker")
set(CPACK_PACKAGE_DESCRIPTION "dormix puts an embedded router into its low-power state when a \
configured condition occurs: a time of day, a delay after start, or a binary input held at a \
level. dormix-check shows what the daemon will do with a settings file.")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${dormix_deb_architecture})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The binaries need only the C library; dpkg-shlibdeps cannot inspect a
# foreign architecture's binaries without its libraries installed.
if(CMAKE_CROSSCOMPILING)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6")
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/prerm
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# Absolute destinations (/opt/dormix/etc, /etc/init.d) go into the staging
# tree, never onto the build machine.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Everything but the "settings" component, which would put the sample in
# place as the live settings file: the postinst does that only where none
# exists.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};dormix;Unspecified;/")
include(CPack)
