# The recorder that Zorvik's "Open Recorder" starts, and how both are installed and packaged: a
# self-contained application folder lib/zorvik/ (the programs and their Sounds/, found beside the
# executable), a bin/zorvik launcher, and the desktop entry, icons and AppStream data.

add_subdirectory(${CMAKE_SOURCE_DIR}/recorder ${CMAKE_BINARY_DIR}/recorder)

set(ZORVIK_APP_DIR lib/zorvik)
set(ZORVIK_RELEASE_DATE 2026-12-08)
set(ZORVIK_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)

install(TARGETS Zorvik DESTINATION ${ZORVIK_APP_DIR})
install(TARGETS zorvik-recorder DESTINATION ${ZORVIK_APP_DIR})

# A relative symlink: the program finds its Sounds/ through its resolved path (/proc/self/exe), so the
# launcher must not be a copy.
file(MAKE_DIRECTORY ${ZORVIK_PACKAGING_OUT}/bin)
file(CREATE_LINK ../${ZORVIK_APP_DIR}/Zorvik ${ZORVIK_PACKAGING_OUT}/bin/zorvik SYMBOLIC)
install(FILES ${ZORVIK_PACKAGING_OUT}/bin/zorvik DESTINATION bin)

# The desktop entry, the AppStream data and the icons are named by the program's id (ZORVIK_APP_ID).
configure_file(${CMAKE_CURRENT_LIST_DIR}/zorvik.desktop.in ${ZORVIK_PACKAGING_OUT}/${ZORVIK_APP_ID}.desktop @ONLY)
install(FILES ${ZORVIK_PACKAGING_OUT}/${ZORVIK_APP_ID}.desktop DESTINATION share/applications)
configure_file(${CMAKE_CURRENT_LIST_DIR}/zorvik.metainfo.xml.in
               ${ZORVIK_PACKAGING_OUT}/${ZORVIK_APP_ID}.metainfo.xml @ONLY)
install(FILES ${ZORVIK_PACKAGING_OUT}/${ZORVIK_APP_ID}.metainfo.xml DESTINATION share/metainfo)

# The icon sizes live with the skin (kIconSizes in skin/Skin.h); the skin's own drawing program draws
# them, from the same art as the window's icon.
file(READ ${CMAKE_SOURCE_DIR}/skin/Skin.h ZORVIK_SKIN_HEADER)
string(REGEX MATCH "kIconSizes\\{([0-9, ]+)\\}" ZORVIK_ICON_SIZES "${ZORVIK_SKIN_HEADER}")
string(REGEX MATCHALL "[0-9]+" ZORVIK_ICON_SIZES "${CMAKE_MATCH_1}")
if(NOT ZORVIK_ICON_SIZES)
    message(FATAL_ERROR "no kIconSizes list found in skin/Skin.h")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/skin/Skin.h)
set(ZORVIK_ICONS ${ZORVIK_PACKAGING_OUT}/icons/scalable/apps/${ZORVIK_APP_ID}.svg)
foreach(size IN LISTS ZORVIK_ICON_SIZES)
    list(APPEND ZORVIK_ICONS ${ZORVIK_PACKAGING_OUT}/icons/${size}x${size}/apps/${ZORVIK_APP_ID}.png)
endforeach()
add_custom_command(
    OUTPUT ${ZORVIK_ICONS}
    COMMAND zorvik_draw_skin -platform offscreen --icons ${ZORVIK_PACKAGING_OUT}/icons
    DEPENDS zorvik_draw_skin
    COMMENT "Drawing the desktop icons"
    VERBATIM)
add_custom_target(zorvik_icons ALL DEPENDS ${ZORVIK_ICONS})
# Where the icons are drawn, for the test that checks them.
set_target_properties(zorvik_icons PROPERTIES ZORVIK_ICON_DIR ${ZORVIK_PACKAGING_OUT}/icons)
install(DIRECTORY ${ZORVIK_PACKAGING_OUT}/icons/ DESTINATION share/icons/hicolor)

# The licence of the program as shipped: GPL-2.0-or-later, because it links Rubber Band.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION share/doc/zorvik)

# The changelog and the manual page, compressed as Debian's policy has them (gzip -9n: the same bytes
# from every build).
set(ZORVIK_CONTACT "The Zorvik developers <zorvik@example.invalid>")
execute_process(COMMAND date -u -d ${ZORVIK_RELEASE_DATE} "+%a, %d %b %Y 00:00:00 +0000"
                OUTPUT_VARIABLE ZORVIK_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${ZORVIK_PACKAGING_OUT}/changelog @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/zorvik.1.in ${ZORVIK_PACKAGING_OUT}/zorvik.1 @ONLY)
foreach(page changelog zorvik.1)
    add_custom_command(
        OUTPUT ${ZORVIK_PACKAGING_OUT}/${page}.gz
        COMMAND gzip -9nkf ${ZORVIK_PACKAGING_OUT}/${page}
        DEPENDS ${ZORVIK_PACKAGING_OUT}/${page}
        VERBATIM)
endforeach()
add_custom_target(zorvik_docs ALL DEPENDS ${ZORVIK_PACKAGING_OUT}/changelog.gz ${ZORVIK_PACKAGING_OUT}/zorvik.1.gz)
install(FILES ${ZORVIK_PACKAGING_OUT}/changelog.gz DESTINATION share/doc/zorvik)
install(FILES ${ZORVIK_PACKAGING_OUT}/zorvik.1.gz DESTINATION share/man/man1)

# cpack -G DEB: zorvik_<version>_amd64.deb. The shared libraries are found by dpkg-shlibdeps; what the
# program only loads at run time (GStreamer plugins, the fonts its windows are drawn with) is listed.
set(CPACK_PACKAGE_NAME zorvik)
set(CPACK_PACKAGE_VENDOR "The Zorvik developers")
set(CPACK_PACKAGE_CONTACT "${ZORVIK_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "drum studio: play drums along with your music")
set(CPACK_PACKAGE_DESCRIPTION "Zorvik plays eight drum sounds from the numeric keypad while a song plays along
at the speed and volume you set, and records everything the computer plays to
a WAV file.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# librubberband2 is found by dpkg-shlibdeps as well; it is named so a build without shlibdeps still
# declares the stretch's library. SDL, the drums' last-resort output, is loaded at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "librubberband2, libsdl2-2.0-0, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-libav, gstreamer1.0-pulseaudio, fonts-liberation2, fonts-ebgaramond")
# The drums talk to PipeWire natively (its client modules come with the daemon), else to PulseAudio,
# else straight to ALSA; libpipewire, libpulse and libasound themselves come in through SHLIBDEPS.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire | pulseaudio, libpipewire-0.3-modules, qt6-wayland")
set(CPACK_GENERATOR DEB)
include(CPack)
