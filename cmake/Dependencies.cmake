# Third-party libraries, each found once and exposed as an imported target.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

# libcups: Debian ships no .pc file; cups-config gives the flags.
find_program(CUPS_CONFIG cups-config REQUIRED)
execute_process(COMMAND ${CUPS_CONFIG} --serverbin OUTPUT_VARIABLE CUPS_SERVERBIN
                OUTPUT_STRIP_TRAILING_WHITESPACE)
find_library(CUPS_LIBRARY cups REQUIRED)
find_path(CUPS_INCLUDE_DIR cups/cups.h REQUIRED)
add_library(usbink::cups UNKNOWN IMPORTED)
set_target_properties(usbink::cups PROPERTIES IMPORTED_LOCATION ${CUPS_LIBRARY}
                      INTERFACE_INCLUDE_DIRECTORIES ${CUPS_INCLUDE_DIR})

# libavutil, linked statically: the shared library drags ~21 video libraries
# into every start of the tool.
find_path(AVUTIL_INCLUDE_DIR libavutil/des.h REQUIRED)
find_library(AVUTIL_STATIC_LIBRARY libavutil.a REQUIRED)
add_library(usbink::avutil STATIC IMPORTED)
set_target_properties(usbink::avutil PROPERTIES IMPORTED_LOCATION ${AVUTIL_STATIC_LIBRARY}
                      INTERFACE_INCLUDE_DIRECTORIES ${AVUTIL_INCLUDE_DIR}
                      INTERFACE_LINK_LIBRARIES "m")

# The shared libavutil, for the installed shared library only.
pkg_check_modules(AVUTIL_SHARED REQUIRED IMPORTED_TARGET libavutil)

pkg_check_modules(AVAHI REQUIRED IMPORTED_TARGET avahi-client)

# libusb-1.0: the USB status program asks printers for their device ID.
pkg_check_modules(LIBUSB REQUIRED IMPORTED_TARGET libusb-1.0)
