# What `cmake --install` puts where: the programs, the USB status program
# where usbink looks for it, the library with its headers and pkg-config
# file, and the manual pages. The message catalogues install from po/.
install(TARGETS usbink usbink-query RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# usbink runs the USB status program from the path fixed at build time, so
# it goes exactly there (under DESTDIR when staging).
get_filename_component(USBINK_STATUS_PROGRAM_DIR ${USBINK_STATUS_PROGRAM} DIRECTORY)
install(TARGETS usbtonerlevel RUNTIME DESTINATION ${USBINK_STATUS_PROGRAM_DIR})

install(TARGETS usbink_static usbink_shared
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/usbink DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT Development FILES_MATCHING PATTERN "*.h")
configure_file(${PROJECT_SOURCE_DIR}/cmake/usbink.pc.in ${PROJECT_BINARY_DIR}/usbink.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/usbink.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT Development)

install(FILES ${PROJECT_SOURCE_DIR}/man/usbink.1 ${PROJECT_SOURCE_DIR}/man/usbink-query.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/man/usbtonerlevel.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)

# The CUPS filter that reports the level to the scheduler while a job passes.
install(PROGRAMS ${PROJECT_BINARY_DIR}/src/tool/usbink-levels DESTINATION ${USBINK_STATUS_PROGRAM_DIR})
