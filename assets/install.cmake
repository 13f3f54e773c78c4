# What `cmake --install` puts under the prefix besides the programs, and the Debian package
# made from the same rules with `cpack -G DEB`.

# The shipped files the program seeds the user's folders from and falls back on.
install(FILES ${VT_PROFILE_FILES} DESTINATION ${VT_INSTALL_DATADIR}/Profiles)
install(FILES ${CMAKE_SOURCE_DIR}/assets/Preferences.ini ${CMAKE_SOURCE_DIR}/assets/Veltrane.html
        DESTINATION ${VT_INSTALL_DATADIR})

# Desktop integration: the menu entry, the software-centre description and the icons, all
# named after the application's id.
set(VT_APP_ID org.veltrane.Veltrane)
configure_file(${CMAKE_SOURCE_DIR}/assets/desktop/${VT_APP_ID}.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/${VT_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_SOURCE_DIR}/assets/desktop/${VT_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_BINARY_DIR}/${VT_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/assets/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# Debian package.
set(CPACK_PACKAGE_NAME veltrane)
set(CPACK_PACKAGE_VENDOR "Larkspur Media")
set(CPACK_PACKAGE_CONTACT "Veltrane developers <veltrane@larkspur.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cut pieces out of video files")
set(CPACK_PACKAGE_DESCRIPTION
    "Veltrane opens a video, previews it, and cuts a marked range out as one file or as a\n"
    "number of equal sections. Each section is encoded by FFmpeg with the options of an\n"
    "editable output profile (MP4, Matroska, WebM, WMV, AVI, MP3, or stream copy).")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.larkspur.example/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
# The shared libraries the programs link (Qt, libstdc++) are found by dpkg-shlibdeps; the
# rest is loaded at run time: Qt's platform plug-ins for the window and ffmpeg, which the
# encoder runs. The preview decodes through FFmpeg's libraries itself (its module is read
# like the programs) and plays sound through Qt's audio output.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, ffmpeg")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, xdg-utils")
include(CPack)
