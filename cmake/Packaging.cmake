# A Debian package of the installed files: cpack -G DEB in the build directory
# makes kelvo-gba_<version>_amd64.deb, its dependencies read off the binary.
set(CPACK_PACKAGE_NAME "kelvo-gba")
set(CPACK_PACKAGE_VENDOR "The Kelvo-GBA developers")
set(CPACK_PACKAGE_CONTACT "Kelvo-GBA developers <kelvo-gba@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "view and edit Game Boy Advance ROM headers")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Kelvo-GBA shows the cartridge header of Game Boy Advance ROM images (title,\n"
    "size, cart ID, territory and maker), writes a new title into an image while\n"
    "keeping its header check valid, copies an image to a file named after its\n"
    "title, and lists a directory's images to a text file.\n"
    "\n"
    "Its command-line companion, kelvo-gba-cli, needs no display: it prints an\n"
    "image's details as text or JSON, fixes a built image's header as the\n"
    "homebrew toolchains' fixer does, and trims or pads images.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "kelvo-gba")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/kelvo-gba/kelvo-gba")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# Debian policy modes whatever the packager's umask: 0644/0755 for the control
# files, 0755 for every directory (install() already sets the files' modes).
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/packaging/package-modes.cmake")

include(CPack)
