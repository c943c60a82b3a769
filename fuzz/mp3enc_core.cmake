# Encoder core: random settings and raw float samples (NaN, infinities,
# denormals); the output must stay whole frames.
kestrune_add_fuzzer(NAME mp3enc_core_fuzzer
                    SOURCE "${CMAKE_CURRENT_SOURCE_DIR}/mp3enc_core_fuzzer.cpp"
                    LIBS kestrune_mp3enc SECONDS 60)
