# The Debian package: the window, the command line, the desktop entry with its icon, the manual
# page and the shell completion, built by `make package` (cpack). Dependencies come from
# dpkg-shlibdeps, so they follow the libraries the programs were linked with.

set(MORVEX_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)

# Debian installs manual pages compressed; -n keeps the time stamp out, so builds compare equal.
configure_file(${MORVEX_PACKAGING_DIR}/morvex-split.1 ${CMAKE_BINARY_DIR}/packaging/morvex-split.1
               @ONLY)
set(MORVEX_MAN_PAGE ${CMAKE_BINARY_DIR}/packaging/morvex-split.1.gz)
add_custom_command(
    OUTPUT ${MORVEX_MAN_PAGE}
    COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/packaging/morvex-split.1 > ${MORVEX_MAN_PAGE}
    DEPENDS ${CMAKE_BINARY_DIR}/packaging/morvex-split.1
    COMMENT "Compressing the manual page")
add_custom_target(morvex_man_page ALL DEPENDS ${MORVEX_MAN_PAGE})

install(FILES ${MORVEX_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${MORVEX_PACKAGING_DIR}/morvex-split.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME morvex-split)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvex)
set(CPACK_PACKAGE_VENDOR "Morvex developers")
set(CPACK_PACKAGE_CONTACT "Morvex developers <morvex@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Morvex splits the multichannel WAV takes of multitrack recorders into one file per channel,\
 per channel pair or one file with all channels, sample-exact across the take's files, as WAV\
 (RF64 past 2 GB) or CAF. It has a window (morvex) and a command line (morvex-split).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)

if(MORVEX_BUILD_TESTS AND MORVEX_BUILD_APP)
    add_test(NAME package_Contents
             COMMAND bash ${MORVEX_PACKAGING_DIR}/check-package.sh ${CMAKE_BINARY_DIR}
                     ${CMAKE_CURRENT_BINARY_DIR}/package-test)
    set_tests_properties(package_Contents PROPERTIES TIMEOUT 300)
endif()
