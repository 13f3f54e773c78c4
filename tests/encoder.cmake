# The encoder's switch policy on its own (no process), and the sandbox ffmpeg runs in.
veltrane_add_test(NAME tst_encoder_policy SOURCES encoder_policy.cpp ${PROJECT_SOURCE_DIR}/encoder/SwitchPolicy.cpp CORE LABEL unit)
veltrane_add_test(NAME tst_encoder_sandbox SOURCES encoder_sandbox.cpp CORE LABEL unit)
# H.264 slice headers read and written again, and copies renumbered from an open GOP's I-picture.
veltrane_add_test(NAME tst_encoder_slices SOURCES encoder_slices.cpp ${PROJECT_SOURCE_DIR}/encoder/h264_slices.cpp
                  ${PROJECT_SOURCE_DIR}/encoder/h264_resume.cpp ${PROJECT_SOURCE_DIR}/encoder/h264_sps.cpp
                  ${PROJECT_SOURCE_DIR}/encoder/nal_units.cpp CORE LABEL unit)
# The turn of copied video added to Matroska outputs, read back by FFmpeg; the encoder's join.
veltrane_add_test(NAME tst_encoder_mkv_projection SOURCES encoder_mkv_projection.cpp ${PROJECT_SOURCE_DIR}/encoder/mkv_projection.cpp CORE)
