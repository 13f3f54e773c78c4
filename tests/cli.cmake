# veltrane-cli, run as a user runs it: from an application folder of its own, with the
# stand-in encoder or the real one.
veltrane_add_test(NAME tst_cli SOURCES cli_veltrane.cpp split_support.h)
target_compile_definitions(tst_cli PRIVATE VT_FAKE_ENCODER_PATH="$<TARGET_FILE:split_fake_encoder>"
  VT_VERSION="${PROJECT_VERSION}")
add_dependencies(tst_cli veltrane-cli split_fake_encoder)
set_tests_properties(tst_cli PROPERTIES TIMEOUT 900)
