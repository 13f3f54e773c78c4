# Where the program's files live, and the installed program itself.
veltrane_add_test(NAME tst_core_apppaths SOURCES core_apppaths.cpp CORE LABEL unit)
# The shipped preferences as the project has them: the copy in build/app/ is the portable
# program's own, which it rewrites when it closes.
target_compile_definitions(tst_core_apppaths PRIVATE VT_SHIPPED_PREFERENCES="${PROJECT_SOURCE_DIR}/assets/Preferences.ini")
veltrane_add_test(NAME tst_install SOURCES install_layout.cpp CORE)
target_compile_definitions(tst_install PRIVATE VT_CMAKE_COMMAND="${CMAKE_COMMAND}"
  VT_BUILD_DIR_PATH="${CMAKE_BINARY_DIR}" VT_APP_DIR_PATH="${VT_APP_DIR}" VT_VERSION="${PROJECT_VERSION}")
# Everything `cmake --install` takes must be built first.
add_dependencies(tst_install application)
