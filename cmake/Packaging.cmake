# The Debian package: the window, the command line, the desktop entry with its icon, the manual
# page and the shell completion, built by `make package` (cpack). Dependencies come from
# dpkg-shlibdeps, so they follow the libraries the programs were linked with.

set(MORVEX_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)

# Debian installs manual pages compressed; -n keeps the time stamp out, so builds compare equal.
foreach(page morvex morvex-split)
    configure_file(${MORVEX_PACKAGING_DIR}/${page}.1 ${CMAKE_BINARY_DIR}/packaging/${page}.1 @ONLY)
    set(compressed ${CMAKE_BINARY_DIR}/packaging/${page}.1.gz)
    add_custom_command(
        OUTPUT ${compressed}
        COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/packaging/${page}.1 > ${compressed}
        DEPENDS ${CMAKE_BINARY_DIR}/packaging/${page}.1
        COMMENT "Compressing the manual page ${page}.1")
    list(APPEND MORVEX_MAN_PAGES ${compressed})
endforeach()
add_custom_target(morvex_man_pages ALL DEPENDS ${MORVEX_MAN_PAGES})

install(FILES ${MORVEX_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${MORVEX_PACKAGING_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
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
# bash loads the completion only through the bash-completion package.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
include(CPack)

if(MORVEX_BUILD_TESTS AND MORVEX_BUILD_APP)
    add_test(NAME package_Contents
             COMMAND bash ${MORVEX_PACKAGING_DIR}/check-package.sh ${CMAKE_BINARY_DIR}
                     ${CMAKE_CURRENT_BINARY_DIR}/package-test)
    set_tests_properties(package_Contents PROPERTIES TIMEOUT 300)
endif()
