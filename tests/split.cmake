# Split jobs: command lines and progress (core), jobs with a stand-in encoder, completion
# and countdown, and whole jobs through the real encoder and ffmpeg.

veltrane_add_test(NAME tst_split_commandline SOURCES split_commandline.cpp CORE LABEL unit)

veltrane_add_test(NAME tst_split_job SOURCES split_job.cpp split_support.h)
target_compile_definitions(tst_split_job PRIVATE VT_FAKE_ENCODER_PATH="$<TARGET_FILE:split_fake_encoder>")
add_dependencies(tst_split_job split_fake_encoder)

veltrane_add_test(NAME tst_split_completion SOURCES split_completion.cpp split_support.h LABEL forms)
target_compile_definitions(tst_split_completion PRIVATE VT_FAKE_ENCODER_PATH="$<TARGET_FILE:split_fake_encoder>")

veltrane_add_test(NAME tst_split_endtoend SOURCES split_endtoend.cpp split_support.h)
target_compile_definitions(tst_split_endtoend PRIVATE VT_FAKE_ENCODER_PATH="$<TARGET_FILE:split_fake_encoder>")
set_tests_properties(tst_split_endtoend PROPERTIES TIMEOUT 900)

# The encoder program itself, with a stand-in ffmpeg beside it.
veltrane_add_test(NAME tst_split_encoder SOURCES split_encoder.cpp CORE LABEL unit)

# The job runner on its own (core library only), with the stand-in encoder.
veltrane_add_test(NAME tst_split_runner SOURCES split_runner.cpp split_fake.h CORE)
target_compile_definitions(tst_split_runner PRIVATE VT_FAKE_ENCODER_PATH="$<TARGET_FILE:split_fake_encoder>")
add_dependencies(tst_split_runner split_fake_encoder)

# Sections tile the marked range: real ffmpeg, re-encoded and stream-copied.
veltrane_add_test(NAME tst_split_tiling SOURCES split_tiling.cpp CORE)
set_tests_properties(tst_split_tiling PROPERTIES TIMEOUT 1200)

# The look-up's reading of sources inside the program against ffprobe's, on sources made by ffmpeg.
veltrane_add_test(NAME tst_split_source_reader SOURCES split_source_reader.cpp CORE)

# Where cuts fall, on made-up probes (core library only).
veltrane_add_test(NAME tst_split_cuts SOURCES split_cuts.cpp CORE LABEL unit)

# Copied video cut on exact frames: real encoder, ffmpeg, the preview, the window's completion.
veltrane_add_test(NAME tst_split_exact SOURCES split_exact.cpp split_support.h)
target_compile_definitions(tst_split_exact PRIVATE VT_FAKE_ENCODER_PATH="$<TARGET_FILE:split_fake_encoder>")
set_tests_properties(tst_split_exact PROPERTIES TIMEOUT 1500)

# Exact cuts on open GOPs, intra refresh, RADL, variable rate and subtitled Matroska, checked
# picture by picture and by GStreamer's second decoders.
veltrane_add_test(NAME tst_split_exact_sources SOURCES split_exact_sources.cpp CORE)
set_tests_properties(tst_split_exact_sources PROPERTIES TIMEOUT 1500)

# The window's job controller on its own (core library only), with the stand-in encoder.
veltrane_add_test(NAME tst_split_controller SOURCES split_controller.cpp split_fake.h CORE LABEL unit)
target_compile_definitions(tst_split_controller PRIVATE VT_FAKE_ENCODER_PATH="$<TARGET_FILE:split_fake_encoder>")
add_dependencies(tst_split_controller split_fake_encoder)

# A profile's switches as the program and the encoder program both read them.
veltrane_add_test(NAME tst_switches_reading SOURCES switches_reading.cpp CORE LABEL unit)

# Cuts on the footage users have (open GOPs, intra refresh, broadcast streams, subtitles,
# rotation), every picture against the source's: real encoder, ffmpeg and GStreamer.
veltrane_add_test(NAME tst_split_footage SOURCES split_footage.cpp CORE)
set_tests_properties(tst_split_footage PROPERTIES TIMEOUT 1200 LABELS media)

# Which tracks a cut keeps and the maps that keep them (core library only).
veltrane_add_test(NAME tst_split_tracks SOURCES split_tracks.cpp ${PROJECT_SOURCE_DIR}/encoder/stream_maps.cpp
  ${PROJECT_SOURCE_DIR}/encoder/subtitle_cues.cpp CORE LABEL unit)

# Every track through real cuts into Matroska, MP4 and MPEG-TS: key frames, exact frames, re-encoded.
veltrane_add_test(NAME tst_split_tracks_media SOURCES split_tracks_media.cpp CORE)
set_tests_properties(tst_split_tracks_media PROPERTIES TIMEOUT 1200)

# The headers exact cuts read and mend in MPEG-2, MPEG-4 Part 2, AV1 and H.264 video.
veltrane_add_test(NAME tst_split_exact_headers SOURCES split_exact_headers.cpp ${PROJECT_SOURCE_DIR}/encoder/picture_headers.cpp
                  ${PROJECT_SOURCE_DIR}/encoder/h264_sps.cpp ${PROJECT_SOURCE_DIR}/encoder/nal_units.cpp CORE)

# Sections of a length, of a size, at chapters and at chosen points; output name templates
# (core library only).
veltrane_add_test(NAME tst_split_sections SOURCES split_sections.cpp CORE LABEL unit)

# Sections no larger than a size and at chapters, through the real encoder and ffmpeg.
veltrane_add_test(NAME tst_split_sections_media SOURCES split_sections_media.cpp CORE)
set_tests_properties(tst_split_sections_media PROPERTIES TIMEOUT 1200)

# The look-up that lists the tracks in the same run of ffprobe: the same cuts and tracks as apart.
veltrane_add_test(NAME tst_split_lookup SOURCES split_lookup.cpp CORE)

# Packs MPEG-4 Part 2 in AVI as DivX did (B-frames in the packets before them), for the exact cuts' sources.
add_executable(divx_pack divx_pack.cpp)
target_link_libraries(divx_pack PRIVATE PkgConfig::VT_FFMPEG veltrane_warnings)
set_target_properties(divx_pack PROPERTIES AUTOMOC OFF AUTORCC OFF AUTOUIC OFF)
target_compile_definitions(tst_split_exact_sources PRIVATE VT_DIVX_PACK_PATH="$<TARGET_FILE:divx_pack>")
add_dependencies(tst_split_exact_sources divx_pack)

# Copied sound timed in whole packets ends on one where the next section's begins (core only).
veltrane_add_test(NAME tst_split_sound_steps SOURCES split_sound_steps.cpp ${PROJECT_SOURCE_DIR}/encoder/section_cut.cpp
  ${PROJECT_SOURCE_DIR}/encoder/stream_maps.cpp CORE LABEL unit)

# Writes interlaced H.264 as field pictures (PAFF), which libx264 does not, for the same sources.
add_executable(paff_pcm paff_pcm.cpp)
target_link_libraries(paff_pcm PRIVATE veltrane_warnings)
set_target_properties(paff_pcm PROPERTIES AUTOMOC OFF AUTORCC OFF AUTOUIC OFF)
target_compile_definitions(tst_split_exact_sources PRIVATE VT_PAFF_PCM_PATH="$<TARGET_FILE:paff_pcm>")
add_dependencies(tst_split_exact_sources paff_pcm)
