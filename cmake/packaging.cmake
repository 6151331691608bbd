# Packages made by CPack (cmake --build BUILD --target package): a Debian package of the
# tool on Linux, a zip of the one program and a short text on Windows.
set(CPACK_PACKAGE_NAME pingtool)
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_CONTACT "Corvane Ping developers <pingtool@corvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ICMP echo tool with a window and a ping-like console")
set(CPACK_STRIP_FILES ON)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME pingtool-${CPACK_PACKAGE_VERSION}-windows-x64)
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
    include(CPack)
    return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Sends ICMP echo requests to a host and lists every reply and every reported
error as one line of text: in a window, for a dotted IPv4 address, or in the
terminal, where it also takes names and IPv6 addresses, and the options and the
statistics of ping. Ordinary users ping through ICMP datagram sockets: the
program holds no capability.")
# The dependencies from the libraries the program links; the platform layer it carries
# in its own folder is part of the package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/platform)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
