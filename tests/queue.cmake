# The job queue without a window: order, pause and skip with the stand-in encoder, the file
# it is kept in.
veltrane_add_test(NAME tst_queue_jobs SOURCES queue_jobs.cpp split_fake.h CORE LABEL unit)
target_compile_definitions(tst_queue_jobs PRIVATE VT_FAKE_ENCODER_PATH="$<TARGET_FILE:split_fake_encoder>")
add_dependencies(tst_queue_jobs split_fake_encoder)
