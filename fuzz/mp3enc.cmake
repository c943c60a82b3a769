# Encoder library: the sample-rate converter on random rates, specifications
# and samples (NaN, infinities and denormals included).
kestrune_add_fuzzer(NAME mp3enc_resampler_fuzzer
                    SOURCE "${CMAKE_CURRENT_SOURCE_DIR}/mp3enc_resampler_fuzzer.cpp"
                    LIBS kestrune_mp3enc SECONDS 60)
# The whole encoder through its C interface: random requests, random PCM in
# random block sizes, output checked frame by frame.
kestrune_add_fuzzer(NAME mp3enc_encoder_fuzzer
                    SOURCE "${CMAKE_CURRENT_SOURCE_DIR}/mp3enc_encoder_fuzzer.cpp"
                    LIBS kestrune_mp3enc SECONDS 120)
